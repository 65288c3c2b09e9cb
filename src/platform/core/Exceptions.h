#pragma once

#include <QByteArray>
#include <QString>

#include <exception>
#include <memory>
#include <utility>

// The error hierarchy of the system. Errors carry their context by wrapping: whoever catches one
// raises a new error of the same class with a longer message, so every class must be able to
// reproduce itself with another message and to throw itself by its dynamic type.
class Exception : public std::exception {
public:
    explicit Exception(QString message);
    ~Exception() override;

    const QString& message() const { return m_message; }
    void setMessage(QString message);
    const char* what() const noexcept override { return m_utf8.constData(); }

    virtual QString className() const { return QStringLiteral("Exception"); }
    virtual std::unique_ptr<Exception> cloneWithMessage(const QString& message) const;
    [[noreturn]] virtual void raise() const;

private:
    QString m_message;
    QByteArray m_utf8;
};

// Adds the clone and raise overrides so that each concrete class only names itself.
template <class Self, class Base>
class ExceptionClass : public Base {
public:
    using Base::Base;
    std::unique_ptr<Exception> cloneWithMessage(const QString& message) const override {
        auto copy = std::make_unique<Self>(static_cast<const Self&>(*this));
        copy->setMessage(message);
        return copy;
    }
    [[noreturn]] void raise() const override { throw static_cast<const Self&>(*this); }
};

// Errors of the settings files.
class EIniFileException : public ExceptionClass<EIniFileException, Exception> {
public:
    using ExceptionClass::ExceptionClass;
    QString className() const override { return QStringLiteral("EIniFileException"); }
};

// A text or value that cannot be converted to the type asked for.
class EConvertError : public ExceptionClass<EConvertError, Exception> {
public:
    using ExceptionClass::ExceptionClass;
    QString className() const override { return QStringLiteral("EConvertError"); }
};

// Connections, statements and data sets.
class EDatabaseError : public ExceptionClass<EDatabaseError, Exception> {
public:
    using ExceptionClass::ExceptionClass;
    QString className() const override { return QStringLiteral("EDatabaseError"); }
};

// The operating system refused a request (files, locks, libraries).
class EOSError : public ExceptionClass<EOSError, Exception> {
public:
    using ExceptionClass::ExceptionClass;
    QString className() const override { return QStringLiteral("EOSError"); }
};

// The operator stopped a run: not a failure, so nobody is shown it as one; whoever started the
// run ends it quietly.
class EOperationCancelled : public ExceptionClass<EOperationCancelled, Exception> {
public:
    using ExceptionClass::ExceptionClass;
    EOperationCancelled()
        : ExceptionClass(QStringLiteral("Построение прервано")) {}
    QString className() const override { return QStringLiteral("EOperationCancelled"); }
};

// A new error of the class of `error` whose message is "<context> -> <message>", with
// " <# ClassName #>" appended once when `appendClassName` is set. `error` is left unchanged.
std::unique_ptr<Exception> ExceptionWithContext(const Exception& error, const QString& context,
                                                bool appendClassName = false);

// Raises ExceptionWithContext(error, context, false).
[[noreturn]] void RaiseWithContext(const QString& context, const Exception& error);

// Runs `body`; an error of the hierarchy leaves it as a new error of the same class with
// "<context> -> " in front of its message, so that the message tells where it failed.
template <class Body>
auto CallWithContext(const QString& context, Body&& body) -> decltype(body()) {
    try {
        return std::forward<Body>(body)();
    } catch (const Exception& e) {
        RaiseWithContext(context, e);
    }
}

// The text of any error caught at a boundary: the message of the system's own errors as it stands,
// and what() of anything else. The system's errors give what() as UTF-8 and the standard library's
// are ASCII or the C library's words in the process locale, which is UTF-8 wherever the suite runs,
// so UTF-8 decodes them all; an invalid byte shows as a replacement character, never as a loss of
// the rest of the text.
QString ExceptionMessage(const std::exception& error);

// The system's message for an operating-system error number, in Russian for the causes a user
// can act on (no access, missing, disk full, too many open files, read-only, ...) and in the
// system's own words otherwise.
QString SysErrorMessage(int osError);

// What a message shows of a value that may be of any length (a folder name from the host, a
// setting, a field): up to `maxChars` characters as they stand; a longer value keeps its start and
// end around "…" and says how long it is, so that a message box stays readable and quick.
QString ShortenedForMessage(const QString& value, qsizetype maxChars = 300);
