#pragma once

#include "platform/data/StatServer.h"
#include "platform/data/StationProviders.h"

#include <QDeadlineTimer>
#include <QSqlDatabase>
#include <QThread>

#include <atomic>
#include <mutex>

// The statistics server of the local computer, run inside the process over the station's SQLite
// files: fuel.sqlite in the fuel database folder and goods.sqlite in the goods one. The files are
// opened read-only and every statement is checked by SQLite's authorizer, so no command text can
// change the station's data. A database its program writes in WAL mode is read with what that
// program has committed so far, in the WAL file too.
//
// A Qt SQL connection belongs to the thread that opened it: the server is created by the thread
// that connects and refuses to be asked from another one.
class TEmbeddedStatServer final : public TStatServer {
public:
    TEmbeddedStatServer();
    ~TEmbeddedStatServer() override;
    TEmbeddedStatServer(const TEmbeddedStatServer&) = delete;
    TEmbeddedStatServer& operator=(const TEmbeddedStatServer&) = delete;

    void setStatParameter(int index, const QString& value) override;
    QString statParameter(int index) const override;
    std::shared_ptr<const TDataPacket>
    provide(const QString& providerName, const QString& commandText,
            const QHash<QString, TFieldType>& declaredTypes) override;
    // Interrupts the statement under way on either database; the flag stops the rows' loop and
    // every later request until resetCancel().
    void cancel() override;
    void resetCancel() override;

    // Every statement ends with an error when it runs longer than the time limit (the statement
    // timeout of the PostgreSQL server too) or when one of its temporary files would outgrow the
    // bound: a hostile or broken station file (a recursive view in place of a table) cannot run
    // for ever or fill the disk.
    static constexpr qint64 kStatementTimeLimitMs = 5 * 60 * 1000;
    static constexpr qint64 kTemporaryBytesLimit = qint64(1) << 30;
    // For all servers of the process, from their next statement on.
    static void setStatementLimits(qint64 timeLimitMs, qint64 temporaryBytes);

    static QString fuelFileName() { return QStringLiteral("fuel.sqlite"); }
    static QString goodsFileName() { return QStringLiteral("goods.sqlite"); }

    // What SQLite's progress handler checks while a statement runs.
    struct StatementLimits {
        QDeadlineTimer deadline; // of the running statement
        const std::atomic<bool>* cancelled = nullptr;
    };

private:
    using Database = StationProviders::Database;
    struct Handle {
        QString connectionName;
        QString filePath;
        QSqlDatabase db;
        void* sqlite = nullptr; // sqlite3*, owned by db
        // The same handle for cancel() from another thread, under m_cancelMutex: set once the
        // connection is ready, cleared before it closes.
        void* interruptible = nullptr;
        StatementLimits limits;
    };

    Handle& handle(Database which);
    void closeHandle(Handle& handle);
    std::shared_ptr<const TDataPacket> run(Handle& handle, const QString& sql,
                                           const QHash<QString, TFieldType>& declaredTypes);

    StationProviders::Parameters m_parameters;
    Handle m_goods;
    Handle m_fuel;
    QThread* m_owner;
    std::atomic<bool> m_cancelled{false};
    std::mutex m_cancelMutex;
};
