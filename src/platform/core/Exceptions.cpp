#include "platform/core/Exceptions.h"

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
