#include "plugin/HostBoundary.h"

#include "platform/core/Exceptions.h"
#include "platform/ui/MessageBoxes.h"
#include "plugin/HostFunctions.h"

#include <QApplication>

#include <cstdio>
#include <exception>

namespace {

QString currentErrorText() {
    try {
        throw;
    } catch (const std::exception& error) {
        return ExceptionMessage(error);
    } catch (...) {
        return QStringLiteral("Неизвестная ошибка модуля статистики");
    }
}

void writeToStderr(const QString& text) noexcept {
    std::fprintf(stderr, "torvistat9: %s\n", text.toLocal8Bit().constData());
}

} // namespace

void reportCurrentErrorToHost() noexcept {
    QString text;
    try {
        // A message may carry a value of any length from the host; a box of megabytes of text
        // would take minutes to lay out.
        text = ShortenedForMessage(currentErrorText(), 4000);
        if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
            MessageBoxes::error(HostFunctions::ApplicationWindow.load(), text);
            return;
        }
    } catch (...) {
        // Even the error box failed (out of memory, most likely); stderr is all that is left.
    }
    writeToStderr(text.isEmpty() ? QStringLiteral("ошибка модуля статистики") : text);
}
