#include "platform/data/DCOMConnection.h"

#include "platform/core/Exceptions.h"

TDCOMConnection::TDCOMConnection(ServerFactory factory, QObject* parent)
    : QObject(parent)
    , m_factory(std::move(factory)) {}

TDCOMConnection::~TDCOMConnection() {
    close();
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
    if (!m_factory)
        throw EDatabaseError(QStringLiteral("Для соединения не задан выбор сервера статистики"));
    std::unique_ptr<TStatServer> server = m_factory(m_computerName);
    {
        const std::lock_guard lock(m_serverMutex);
        m_server = std::move(server);
        if (m_server && m_cancelled)
            m_server->cancel();
    }
    if (!m_server)
        throw EDatabaseError(
            QStringLiteral("Сервер статистики на компьютере «%1» не создан").arg(m_computerName));
    if (m_afterConnect)
        m_afterConnect(*this);
}

void TDCOMConnection::close() {
    std::unique_ptr<TStatServer> closing;
    {
        const std::lock_guard lock(m_serverMutex);
        closing = std::move(m_server);
    }
    // Closing may take a while (a server's goodbye); a cancel meanwhile must not wait for it.
    closing.reset();
}

void TDCOMConnection::cancel() {
    const std::lock_guard lock(m_serverMutex);
    m_cancelled = true;
    if (m_server)
        m_server->cancel();
}

void TDCOMConnection::resetCancel() {
    const std::lock_guard lock(m_serverMutex);
    m_cancelled = false;
    if (m_server)
        m_server->resetCancel();
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
