#pragma once

// What the window tests share: a private per-user settings file, recorded message boxes, and
// answering a modal window from a timer so that no test ever waits on a person.

#include "platform/settings/Registry.h"
#include "platform/ui/MessageBoxes.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
// The controls the window tests reach into.
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>

#include <cmath>
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

    // A fresh settings file and no recorded boxes for the next case.
    void freshCase() {
        QFile::remove(TRegistry::rootFilePath(TRegistry::CurrentUser));
        boxes.clear();
    }

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

// Points a statistics window's data module at a test station as the menu handlers would: its
// folders, and the station's computer on both connections, which keep the name they are given
// without a host to ask. A template, so that the tests without windows need neither header.
template <class DataModule, class Station>
void attachToStation(DataModule& dm, const Station& station) {
    dm.FuelDbPath = station.fuelParameter();
    dm.GoodsDbPath = station.goodsParameter();
    dm.DCOMConnection1.setComputerName(station.computerName());
    dm.DCOMConnectionThread.setComputerName(station.computerName());
}

// The station's folders as the suite's: the report's chart picture goes to its TEMP folder, not
// the user's. False when the station could not be built.
template <class Station>
bool useStation(const Station& station) {
    qputenv("DARA_ROOT", QFile::encodeName(station.root()));
    return station.isValid();
}

// Checks exactly the lines named.
inline void checkLines(QListWidget* list, const QStringList& names) {
    for (int i = 0; i < list->count(); ++i)
        list->item(i)->setCheckState(names.contains(list->item(i)->text()) ? Qt::Checked
                                                                           : Qt::Unchecked);
}

// A statistics window's run is over once its extractor rests and the window takes input again.
template <class W>
bool runFinished(W* window, int timeout) {
    return QTest::qWaitFor([&] { return window->Extractor()->Suspended(); }, timeout) &&
           QTest::qWaitFor([&] { return window->isEnabled(); }, 5000);
}

// A series' values to the cent, as the window's labels show them.
template <class Series>
QList<double> centValues(const Series* series) {
    QList<double> values;
    for (const auto& point : series->points())
        values << std::round(point.y * 100) / 100;
    return values;
}
