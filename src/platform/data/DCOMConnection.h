#pragma once

#include "platform/data/StatServer.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

// A connection to the statistics server. The factory it is given turns the computer name into a
// server when it connects.
//
// Connecting runs BeforeConnect (which may still change the computer name), creates the server and
// runs AfterConnect (which pushes the database locations through StatParameter); both get the
// connection as sender and run on the thread that connects. A connection is connected, used and
// closed by one thread at a time; only cancel() may come from any other thread meanwhile.
class TDCOMConnection : public QObject {
    Q_OBJECT

public:
    using Event = std::function<void(TDCOMConnection& sender)>;
    // Makes the server for a computer name.
    using ServerFactory = std::function<std::unique_ptr<TStatServer>(const QString& computerName)>;

    explicit TDCOMConnection(ServerFactory factory, QObject* parent = nullptr);
    ~TDCOMConnection() override;

    QString computerName() const { return m_computerName; }
    void setComputerName(const QString& name) { m_computerName = name; }

    bool connected() const { return m_server != nullptr; }
    void setConnected(bool value);
    void open();
    void close();

    void setBeforeConnect(Event handler) { m_beforeConnect = std::move(handler); }
    void setAfterConnect(Event handler) { m_afterConnect = std::move(handler); }
    void setServerFactory(ServerFactory factory) { m_factory = std::move(factory); }

    // The server's indexed property: 1 the goods database location, 2 the fuel one.
    void setStatParameter(int index, const QString& value);
    QString statParameter(int index) const;

    // The connected server; EDatabaseError when not connected.
    TStatServer& server() const;

    // Passed on to the connected server (see TStatServer). A cancel also holds for a server the
    // connection makes later, until resetCancel(): a run cancelled before its connection opened
    // must not start its query. cancel() is safe from any thread, also while the connecting
    // thread opens or closes the connection.
    void cancel();
    void resetCancel();

private:
    QString m_computerName;
    Event m_beforeConnect;
    Event m_afterConnect;
    ServerFactory m_factory;
    std::unique_ptr<TStatServer> m_server;
    // Guards m_server against cancel() from another thread; the connecting thread reads it
    // without the lock, since only it changes it.
    std::mutex m_serverMutex;
    bool m_cancelled = false; // under m_serverMutex
};
