#pragma once

#include "StationGenerator.h"

#include <QByteArray>

#include <vector>

typedef struct pg_conn PGconn;

// A station's fuel and goods databases on a PostgreSQL server, loaded with COPY. Both are built
// under temporary names and take the station's names together at the commit, so a failed or
// interrupted run leaves the pair that was there, and the next run removes what it left behind;
// an existing database is replaced only when force is given.
class PostgresStationSink final : public StationSink {
public:
    // server is "host" or "host:port"; the login comes from PGUSER, PGPASSWORD or ~/.pgpass.
    PostgresStationSink(const QString& server, const QString& fuelDb, const QString& goodsDb,
                        bool force);
    ~PostgresStationSink() override;
    PostgresStationSink(const PostgresStationSink&) = delete;
    PostgresStationSink& operator=(const PostgresStationSink&) = delete;

    void beginDatabase(Database which) override;
    int table(const QString& name, const QStringList& columns) override;
    void row(int table, const QVariantList& values) override;
    void endDatabase() override;
    void commit() override;
    QString name(Database which) const override;

private:
    struct Table {
        QByteArray copy; // the COPY statement
        QByteArray rows; // rows in COPY's text form, not yet sent
    };

    PGconn* connect(const QString& database);
    // expected: the ExecStatusType of success (1, PGRES_COMMAND_OK, by default).
    void exec(PGconn* conn, const QString& sql, const QString& database, int expected = 1);
    bool exists(const QString& database);
    void flush(Table& table);
    void dropTemporaries();
    void removeLeftovers();
    static QString quoted(const QString& name);

    QString m_server;
    QString m_host;
    int m_port = -1;
    QString m_fuelDb;
    QString m_goodsDb;
    QString m_fuelTemp;
    QString m_goodsTemp;
    PGconn* m_admin = nullptr; // the maintenance database: creates, renames and drops
    PGconn* m_load = nullptr;  // the database being loaded
    QString m_loading;
    Database m_current = Database::Fuel;
    std::vector<Table> m_tables;
    bool m_committed = false;
};
