#include "platform/core/ErrorContext.h"

std::unique_ptr<Exception> ExceptionWithContext(const Exception& error, const QString& context,
                                                bool appendClassName) {
    QString message = QStringLiteral("%1 -> %2").arg(context, error.message());
    if (appendClassName && !message.contains(QLatin1String(" <# ")))
        message += QStringLiteral(" <# ") + error.className() + QStringLiteral(" #>");
    return error.cloneWithMessage(message);
}
