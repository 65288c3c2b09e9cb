#include "platform/DCOMConnection.h"

#include "platform/EmbeddedStatServer.h"
#include "platform/Exceptions.h"

TDCOMConnection::TDCOMConnection(QObject* parent)
    : QObject(parent) {}

TDCOMConnection::~TDCOMConnection() {
    close();
}

std::unique_ptr<TStatServer> TDCOMConnection::defaultServer(const QString& computerName) {
    if (computerName.trimmed().isEmpty())
        return std::make_unique<TEmbeddedStatServer>();
    // Never fall back to the local files: the operator asked for another computer's data.
    throw EDatabaseError(QStringLiteral("Не удалось подключиться к серверу статистики на "
                                        "компьютере «%1»: подключение к серверу PostgreSQL в этой "
                                        "версии ещё не поддерживается")
                             .arg(computerName));
}

void TDCOMConnection::setConnected(bool value) {
    if (value)
        open();
    else
        close();
}

void TDCOMConnection::open() {
    if (m_server)
        return;
    if (m_beforeConnect)
        m_beforeConnect(*this);
    m_server = m_factory ? m_factory(m_computerName) : defaultServer(m_computerName);
    if (!m_server)
        throw EDatabaseError(
            QStringLiteral("Сервер статистики на компьютере «%1» не создан").arg(m_computerName));
    if (m_afterConnect)
        m_afterConnect(*this);
}

void TDCOMConnection::close() {
    m_server.reset();
}

TStatServer& TDCOMConnection::server() const {
    if (!m_server)
        throw EDatabaseError(
            QStringLiteral("Нет соединения с сервером статистики%1")
                .arg(m_computerName.isEmpty()
                         ? QString()
                         : QStringLiteral(" на компьютере «%1»").arg(m_computerName)));
    return *m_server;
}

void TDCOMConnection::setStatParameter(int index, const QString& value) {
    server().setStatParameter(index, value);
}

QString TDCOMConnection::statParameter(int index) const {
    return server().statParameter(index);
}
