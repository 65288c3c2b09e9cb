#include "platform/ui/MessageBoxes.h"

#include "platform/thread/SynchronizedCall.h"

#include <QApplication>
#include <QMutex>

namespace MessageBoxes {

namespace {

QMutex handlerMutex;
Handler& installedHandler() {
    static Handler handler;
    return handler;
}

QMessageBox::Icon toQt(Icon icon) {
    switch (icon) {
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::Warning:
        return QMessageBox::Warning;
    case Icon::Error:
        return QMessageBox::Critical;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

QMessageBox::StandardButton show(QWidget* parent, const QString& caption, const QString& text,
                                 Icon icon, QMessageBox::StandardButtons buttons,
                                 QMessageBox::StandardButton defaultButton) {
    // Workers report their errors too; a box may only be shown by the user interface thread.
    if (!SynchronizedCall::onUiThread()) {
        QMessageBox::StandardButton pressed = QMessageBox::NoButton;
        SynchronizedCall::run(
            [&] { pressed = show(parent, caption, text, icon, buttons, defaultButton); });
        return pressed;
    }
    Handler handler;
    {
        QMutexLocker lock(&handlerMutex);
        handler = installedHandler();
    }
    if (handler)
        return handler(Shown{caption, text, icon, buttons});
    QMessageBox box(toQt(icon), caption, text, buttons,
                    parent ? parent : QApplication::activeWindow());
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void error(QWidget* parent, const QString& text) {
    show(parent, QStringLiteral("Ошибка"), text, Icon::Error);
}

void information(QWidget* parent, const QString& text) {
    show(parent, QStringLiteral("Информация"), text, Icon::Information);
}

Handler setHandler(Handler handler) {
    QMutexLocker lock(&handlerMutex);
    Handler previous = std::move(installedHandler());
    installedHandler() = std::move(handler);
    return previous;
}

} // namespace MessageBoxes
