#pragma once

// What the window tests share: a private per-user settings file, recorded message boxes, and
// answering a modal window from a timer so that no test ever waits on a person.

#include "platform/settings/Registry.h"
#include "platform/ui/MessageBoxes.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

class WindowTestEnvironment {
public:
    WindowTestEnvironment() {
        QLocale::setDefault(QLocale(QStringLiteral("ru_RU")));
        TRegistry::setUserFolder(m_settings.path());
        MessageBoxes::setHandler([this](const MessageBoxes::Shown& shown) {
            boxes << shown;
            return QMessageBox::Ok;
        });
    }
    ~WindowTestEnvironment() {
        MessageBoxes::setHandler({});
        TRegistry::setUserFolder(QString());
    }

    // A fresh settings file for the next case.
    void forgetSettings() { QFile::remove(TRegistry::rootFilePath(TRegistry::CurrentUser)); }

    QList<MessageBoxes::Shown> boxes;

private:
    QTemporaryDir m_settings;
};

// Runs `act` on the modal dialog of type W as soon as it is shown. If it is still open five
// seconds later it is rejected, and if it never shows the poll gives up after five seconds, so a
// faulty window fails its test instead of hanging it.
template <class W>
void whenModalShown(std::function<void(W*)> act) {
    auto* poll = new QTimer(qApp);
    // Owned by the poll's connection, so they go with the poll whenever it goes.
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto acted = std::make_shared<bool>(false);
    auto finish = [poll] {
        poll->stop();
        poll->deleteLater();
    };
    QObject::connect(poll, &QTimer::timeout, poll, [=] {
        auto* modal = qobject_cast<W*>(QApplication::activeModalWidget());
        if (modal && !*acted) {
            *acted = true;
            clock->restart();
            act(modal);
        } else if (modal && clock->elapsed() > 5000) {
            modal->reject();
            finish();
        } else if ((!modal && *acted) || clock->elapsed() > 5000) {
            finish();
        }
    });
    poll->start(20);
}
