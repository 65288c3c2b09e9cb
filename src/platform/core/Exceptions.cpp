#include "platform/core/Exceptions.h"

#include <cerrno>
#include <utility>

Exception::Exception(QString message) {
    setMessage(std::move(message));
}

Exception::~Exception() = default;

void Exception::setMessage(QString message) {
    m_message = std::move(message);
    m_utf8 = m_message.toUtf8();
}

std::unique_ptr<Exception> Exception::cloneWithMessage(const QString& message) const {
    auto copy = std::make_unique<Exception>(*this);
    copy->setMessage(message);
    return copy;
}

void Exception::raise() const {
    throw *this;
}

std::unique_ptr<Exception> ExceptionWithContext(const Exception& error, const QString& context,
                                                bool appendClassName) {
    QString message = QStringLiteral("%1 -> %2").arg(context, error.message());
    if (appendClassName && !message.contains(QLatin1String(" <# ")))
        message += QStringLiteral(" <# ") + error.className() + QStringLiteral(" #>");
    return error.cloneWithMessage(message);
}

void RaiseWithContext(const QString& context, const Exception& error) {
    ExceptionWithContext(error, context)->raise();
    Q_UNREACHABLE(); // raise() is [[noreturn]], but the compiler does not trust a virtual call
}

QString ExceptionMessage(const std::exception& error) {
    if (const auto* own = dynamic_cast<const Exception*>(&error))
        return own->message();
    return QString::fromUtf8(error.what());
}

QString SysErrorMessage(int osError) {
    switch (osError) {
    case EACCES:
    case EPERM:
        return QStringLiteral("Отказано в доступе");
    case ENOENT:
        return QStringLiteral("Файл или папка не найдены");
    case ENOTDIR:
        return QStringLiteral("Часть пути не является папкой");
    case EISDIR:
        return QStringLiteral("На месте файла находится папка");
    case ENOSPC:
        return QStringLiteral("Недостаточно места на диске");
    case EDQUOT:
        return QStringLiteral("Превышена дисковая квота пользователя");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("Открыто слишком много файлов");
    case EROFS:
        return QStringLiteral("Диск или папка доступны только для чтения");
    case ENAMETOOLONG:
        return QStringLiteral("Слишком длинное имя файла");
    case ELOOP:
        return QStringLiteral("На месте файла находится символическая ссылка");
    case EFBIG:
        return QStringLiteral("Файл слишком велик");
    case EIO:
        return QStringLiteral("Ошибка ввода-вывода на диске");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("Файл занят другим процессом");
    case EAGAIN:
        return QStringLiteral("Файл изменён другим процессом; повторите попытку");
    case EEXIST:
        return QStringLiteral("Файл уже существует");
    case EINVAL:
        return QStringLiteral("Недопустимое имя файла или на его месте не обычный файл");
    case ENOMEM:
        return QStringLiteral("Недостаточно памяти");
    default:
        return QStringLiteral("Системная ошибка %1").arg(osError);
    }
}

QString ShortenedForMessage(const QString& value, qsizetype maxChars) {
    if (value.size() <= maxChars)
        return value;
    const qsizetype tail = qMax<qsizetype>(maxChars / 5, 1);
    qsizetype head = qMax<qsizetype>(maxChars - tail, 1);
    qsizetype tailStart = value.size() - tail;
    // Never cut a character made of two UTF-16 units in half.
    if (value.at(head - 1).isHighSurrogate())
        --head;
    if (value.at(tailStart).isLowSurrogate())
        ++tailStart;
    return value.left(head) + QStringLiteral("…") + value.mid(tailStart) +
           QStringLiteral(" (всего %1 символов)").arg(value.size());
}
