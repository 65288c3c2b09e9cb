#pragma once

// A small hand-built station: a few fillings, shifts, goods and documents around the period
// 2009-08-24 00:00 to 2009-08-25 00:00, each row placed to test one boundary.
//
// The same rows go to the station's SQLite files or, with TORVI_TEST_STAT_SERVER=postgres, to two
// new databases on the PostgreSQL server TORVI_TEST_PGHOST (host:port; login from PGUSER and
// PGPASSWORD), so one test runs against either server. Without that server a test run exits as
// skipped (code 77), except under CI=true, where a missing server is a failure.

#include "platform/data/DCOMConnection.h"
#include "platform/data/StationIndexes.h"
#include "platform/data/postgres/ChainCatalogue.h"
#include "platform/data/postgres/PostgresSchema.h"
#include "platform/data/servers/StatServerChoice.h"
#include "platform/data/sqlite/StationSchema.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

enum class StationServerKind { Embedded, Postgres };

class StationFixture {
public:
    static StationServerKind kindFromEnvironment() {
        return qEnvironmentVariable("TORVI_TEST_STAT_SERVER") == QLatin1String("postgres")
                   ? StationServerKind::Postgres
                   : StationServerKind::Embedded;
    }
    // The PostgreSQL server of the tests; exits as skipped when there is none outside CI.
    static QString postgresServer() {
        const QString server = qEnvironmentVariable("TORVI_TEST_PGHOST");
        if (server.isEmpty() && qEnvironmentVariable("CI") != QLatin1String("true")) {
            std::puts("SKIP: no PostgreSQL server for the tests (TORVI_TEST_PGHOST is not set; "
                      "scripts/pg-test-cluster.sh starts one)");
            std::exit(77);
        }
        return server;
    }

    explicit StationFixture(StationServerKind kind = kindFromEnvironment())
        : m_kind(kind) {
        QDir(m_dir.path()).mkpath(QStringLiteral("DB/TradeDB"));
        if (kind == StationServerKind::Postgres) {
            static QAtomicInt counter;
            const QString stem = QStringLiteral("torvi_test_%1_%2")
                                     .arg(QCoreApplication::applicationPid())
                                     .arg(counter.fetchAndAddRelaxed(1));
            m_server = postgresServer();
            if (m_server.isEmpty()) {
                m_error = QStringLiteral("TORVI_TEST_PGHOST is not set: no PostgreSQL server");
                return;
            }
            m_fuelDb = stem + QStringLiteral("_fuel");
            m_goodsDb = stem + QStringLiteral("_goods");
            build(QString(), {PostgresSchema::createDatabase(m_fuelDb),
                              PostgresSchema::createDatabase(m_goodsDb)});
            build(m_fuelDb, PostgresSchema::fuelStatements() + StationIndexes::fuel() + fuelRows());
            build(m_goodsDb,
                  PostgresSchema::goodsStatements() + StationIndexes::goods() + goodsRows());
            return;
        }
        build(fuelFolder() + QStringLiteral("/fuel.sqlite"),
              StationSchema::fuelStatements() + StationIndexes::fuel() + fuelRows());
        build(goodsFolder() + QStringLiteral("/goods.sqlite"),
              StationSchema::goodsStatements() + StationIndexes::goods() + goodsRows());
    }
    ~StationFixture() {
        dropFromChain(m_chainNames);
        if (m_kind == StationServerKind::Postgres && !m_server.isEmpty())
            build(QString(), {QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)")
                                  .arg(PostgresSchema::quotedName(m_fuelDb)),
                              QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)")
                                  .arg(PostgresSchema::quotedName(m_goodsDb))});
    }

    // What the connection and StatParameter 1 and 2 are given for this station.
    QString computerName() const { return m_server; }
    QString goodsParameter() const { return m_server.isEmpty() ? goodsFolder() : m_goodsDb; }
    QString fuelParameter() const { return m_server.isEmpty() ? fuelFolder() : m_fuelDb; }
    bool isValid() const { return m_dir.isValid() && m_error.isEmpty(); }
    const QString& error() const { return m_error; }
    QString root() const { return m_dir.path(); }
    QString fuelFolder() const { return m_dir.path() + QStringLiteral("/DB"); }
    QString goodsFolder() const { return m_dir.path() + QStringLiteral("/DB/TradeDB"); }
    QString fuelFile() const { return fuelFolder() + QStringLiteral("/fuel.sqlite"); }
    QString goodsFile() const { return goodsFolder() + QStringLiteral("/goods.sqlite"); }

    // Points a connection at this station's server and databases, as the data module does.
    void attach(TDCOMConnection& connection, const QString& goods, const QString& fuel) const {
        connection.setComputerName(m_server);
        connection.setAfterConnect([goods, fuel](TDCOMConnection& sender) {
            sender.setStatParameter(1, goods);
            sender.setStatParameter(2, fuel);
        });
    }
    void attach(TDCOMConnection& connection) const {
        attach(connection, goodsParameter(), fuelParameter());
    }

    // Runs statements on the station's goods or fuel database (named by its SQLite file),
    // whichever server holds it; the first failure is kept in error().
    bool exec(const QString& file, const QStringList& statements) {
        if (m_kind == StationServerKind::Postgres)
            build(file == goodsFile() ? m_goodsDb : m_fuelDb, statements);
        else
            build(file, statements);
        return m_error.isEmpty();
    }

    // Lists this station in the chain's catalogue under `name` until the fixture goes.
    void registerInChain(const QString& name, const QString& region = QString()) {
        ChainCatalogue::registerStation(m_server, {name, region, m_fuelDb, m_goodsDb, {}});
        m_chainNames << name;
    }
    // Takes stations out of the catalogue again, so that no later case meets them.
    void dropFromChain(QStringList names) {
        if (names.isEmpty() || m_server.isEmpty())
            return;
        names.replaceInStrings(QStringLiteral("'"), QStringLiteral("''"));
        build(QLatin1String(ChainCatalogue::kDatabase),
              {QStringLiteral("DELETE FROM stations WHERE name IN ('%1')")
                   .arg(names.join(QStringLiteral("', '")))});
    }

private:
    static QStringList fuelRows() {
        QStringList s;
        s << QStringLiteral("INSERT INTO GSM (ID_GSM, GsmName, SortOrder) VALUES "
                            "(1, 'ДТ', 3), (2, 'АИ-92', 1), (3, 'АИ-95', 2), "
                            "(4, 'АИ-95 ''Премиум''', 4)")
          << QStringLiteral(
                 "INSERT INTO LogTran (ID_LogTran, Data, GsmName, Liter, Summa) VALUES "
                 "(1, '2009-08-23 23:59:59.999', 'АИ-92', 10, 100)," // before the period
                 "(2, '2009-08-24 00:00:00.000', 'АИ-92', 20, 200)," // at its start
                 "(3, '2009-08-24 12:00:00.000', 'АИ-95', 15, 180),"
                 "(4, '2009-08-24 23:59:59.999', 'ДТ', 49.99, 500)," // a millisecond before its end
                 "(5, '2009-08-25 00:00:00.000', 'АИ-92', 30, 300)," // at its end
                 "(6, '2009-08-24 08:00:00.000', 'АИ-95 ''Премиум''', 40, 520),"
                 "(7, '2009-08-24 09:00:00.000', 'аи-92', 25, 250),"
                 "(8, '2009-08-24 10:00:00.000', 'АИ-92', 50, 500),"    // at the upper litre bound
                 "(9, '2009-08-24 11:00:00.000', 'АИ-92', 9.99, 99.9)," // under the lower one
                 "(10, '2009-08-24 11:30:00.000', 'ДТ', 10, 110)")      // at the lower one
          << QStringLiteral(
                 "INSERT INTO SmSilo (SmNum, BegTime, EndTime, Operator) VALUES "
                 "(5, '2009-08-01 08:00:00.000', '2009-08-01 20:00:00.000', 'Петров'),"
                 "(11, '2009-08-04 08:00:00.000', '2009-08-04 20:00:00.000', 'Иванова'),"
                 "(110, '2009-08-20 08:00:00.000', '2009-08-20 20:00:00.000', 'Петров'),"
                 "(116, '2009-08-23 08:00:00.000', '2009-08-23 20:00:00.000', 'Иванова'),"
                 "(117, '2009-08-23 20:00:00.000', '2009-08-24 08:00:00.000', 'Петров'),"
                 "(119, '2009-08-24 20:00:00.000', '2009-08-25 08:00:00.000', 'Сидоров'),"
                 "(120, '2009-08-25 08:00:00.000', NULL, 'Иванова')");
        return s;
    }

    static QStringList goodsRows() {
        QStringList s;
        s << QStringLiteral("INSERT INTO Category (ID_Category, Name, IsDelete, KKMSection) VALUES "
                            "(1, 'Напитки', 0, 1), (2, 'Снеки', 0, 2), (3, '', 0, 1), "
                            "(4, 'НАПИТКИ', 1, 1)")
          << QStringLiteral("INSERT INTO Goods (ID_Goods, ID_Category, Name) VALUES "
                            "(10, 1, 'Вода'), (11, 1, 'Сок O''Key'), (12, 2, 'Чипсы'), (13, 3, '')")
          << QStringLiteral("INSERT INTO Batches (ID_P, ID_Goods) VALUES "
                            "(100, 10), (101, 11), (102, 12), (103, 999), (104, NULL)")
          << QStringLiteral("INSERT INTO Documents (ID_doc, Data, \"TYPE\") VALUES "
                            "(1, '2009-08-24 00:00:00.000', 2),"
                            "(2, '2009-08-24 23:59:59.999', 2),"
                            "(3, '2009-08-25 00:00:00.000', 2),"
                            "(4, '2009-08-24 10:00:00.000', 1),"
                            "(5, '2009-08-23 23:59:59.999', 2),"
                            "(6, '2009-08-24 12:00:00.000', 2),"
                            "(7, '2009-08-24 13:00:00.000', 2)")
          << QStringLiteral(
                 "INSERT INTO GoodsMotion (ID_GoodsMotion, ID_doc, ID_p, RPrice, \"COUNT\") "
                 "VALUES (1, 1, 100, 50, 2), (2, 1, 102, 80, 1), (3, 2, 101, 120, 3),"
                 "(4, 3, 100, 50, 1), (5, 4, 100, 40, 10), (6, 5, 100, 50, 1),"
                 "(7, 6, 103, 10, 1), (8, 6, 104, 10, 1), (9, 6, 101, 120, 1)");
        return s;
    }

    // A file, or on the PostgreSQL server a database (empty: the maintenance database).
    void build(const QString& file, const QStringList& statements) {
        const QString name = QStringLiteral("fixture-") + file;
        {
            QSqlDatabase db;
            if (m_kind == StationServerKind::Postgres) {
                db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
                QString host;
                int port = -1;
                if (!PostgresSchema::splitServerName(m_server, host, port))
                    m_error = PostgresSchema::badServerName(m_server);
                db.setHostName(host);
                db.setPort(port);
                db.setDatabaseName(file.isEmpty() ? QStringLiteral("postgres") : file);
            } else {
                db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
                db.setDatabaseName(file);
            }
            if (!db.open()) {
                m_error = db.lastError().text();
            } else {
                QSqlQuery query(db);
                for (const QString& statement : statements) {
                    if (m_error.isEmpty() && !query.exec(statement))
                        m_error = query.lastError().text() + QStringLiteral(": ") + statement;
                }
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }

    StationServerKind m_kind;
    QString m_server;
    QString m_fuelDb;
    QString m_goodsDb;
    QTemporaryDir m_dir;
    QString m_error;
    QStringList m_chainNames;
};
