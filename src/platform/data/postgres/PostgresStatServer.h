#pragma once

#include "platform/data/StatServer.h"
#include "platform/data/StationProviders.h"
#include "platform/data/postgres/PostgresSchema.h"

#include <QSqlDatabase>
#include <QThread>

#include <atomic>
#include <mutex>

// The statistics server of a chain: a PostgreSQL server holding each station's goods and fuel
// databases, named by StatParameter 1 and 2. A parameter given as a folder, as the plug-in sends
// the suite's default goods folder, names the database after its last folder ("TradeDB"). The
// computer name is "host" or "host:port", or a list of them, "host1[:port],host2[:port],...": a
// primary and its standbys, of which a standby is preferred, since every session only reads; the
// user and the password come from the usual libpq places (PGUSER, PGPASSWORD, ~/.pgpass).
//
// Each command text runs unchanged inside a read-only transaction with a statement timeout and a
// limit on temporary files, and its rows are read in binary batches straight into the packet's
// typed columns.
//
// Like the embedded server, it belongs to the thread that created it. A connection the server
// lost is opened again on the next request, so a run after the server is back works.
class TPostgresStatServer final : public TStatServer {
public:
    // EDatabaseError when a port is not a number from 1 to 65535, an entry of the list is empty or
    // the list is longer than PostgresSchema::kMaxServerHosts.
    explicit TPostgresStatServer(const QString& computerName);
    ~TPostgresStatServer() override;
    TPostgresStatServer(const TPostgresStatServer&) = delete;
    TPostgresStatServer& operator=(const TPostgresStatServer&) = delete;

    void setStatParameter(int index, const QString& value) override;
    QString statParameter(int index) const override;
    std::shared_ptr<const TDataPacket>
    provide(const QString& providerName, const QString& commandText,
            const QHash<QString, TFieldType>& declaredTypes) override;
    // The statement under way is cancelled on the server and the wait for it woken; its
    // connection is closed, so that a stopped backend holds nobody.
    void cancel() override;
    void resetCancel() override;
    bool bucketsRowsItself() const override { return true; }

    // How long one statement may run before the server cancels it; the client waits as long
    // again at most for the answer, so that a frozen server or a silent network ends a run too.
    static constexpr int kStatementTimeoutSeconds = 300;
    // Temporary files one statement may fill on the server.
    static constexpr qint64 kTemporaryKilobytesLimit = qint64(1) << 20;
    // How long a connection waits for each server of a list before it tries the next one. libpq
    // takes no less than 2 s; a primary that is down and a standby that answers, or the other
    // way round, are found within 2 s per silent server, twice over at most (a first pass looks
    // for a standby only).
    static constexpr int kListConnectTimeoutSeconds = 2;
    // ... and for a single server, which has no other to try.
    static constexpr int kConnectTimeoutSeconds = 10;
    // For the tests: the limits of connections opened from now on.
    static void setStatementLimits(int timeoutMs, qint64 temporaryKilobytes);

private:
    using Database = StationProviders::Database;
    struct Handle {
        QString connectionName;
        QSqlDatabase db;
        void* pg = nullptr;     // PGconn*, owned by db
        void* cancel = nullptr; // PGcancel* of pg, under m_cancelMutex
    };

    Handle& handle(Database which);
    void closeHandle(Handle& handle);
    [[noreturn]] void raiseOpenError(Database which, const QString& reason) const;
    bool begin(Handle& handle, QString& reason, bool& timedOut);
    [[noreturn]] void raiseNoAnswer(Handle& handle, Database which);
    [[noreturn]] void raiseCancelled(Handle& handle);
    std::shared_ptr<const TDataPacket> run(Database which, const QString& sql,
                                           const QHash<QString, TFieldType>& declaredTypes);
    QString databaseName(Database which) const;
    QString where(Database which) const;

    QString m_computerName;
    QList<PostgresSchema::ServerAddress> m_servers;
    QByteArray m_hostList; // libpq's "host" and "port" for every server of the name, in order
    QByteArray m_portList; // empty when no server names its port
    StationProviders::Parameters m_parameters;
    Handle m_goods;
    Handle m_fuel;
    QThread* m_owner;
    // cancel() comes from another thread: it sets the flag, wakes the wait through the event
    // descriptor and sends the cancel requests under the mutex, which closeHandle takes to free
    // them.
    std::atomic<bool> m_cancelled{false};
    std::mutex m_cancelMutex;
    int m_wakeFd = -1;
};
