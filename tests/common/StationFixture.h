#pragma once

// A small hand-built station: a few fillings, shifts, goods and documents around the period
// 2009-08-24 00:00 to 2009-08-25 00:00, each row placed to test one boundary. The station is
// served by one kind of statistics server; tests that do not care take the embedded one.

#include "platform/data/DCOMConnection.h"
#include "platform/data/servers/StatServerChoice.h"
#include "platform/data/sqlite/StationSchema.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

enum class StationServerKind { Embedded };

class StationFixture {
public:
    explicit StationFixture(StationServerKind kind = StationServerKind::Embedded)
        : m_kind(kind) {
        QDir(m_dir.path()).mkpath(QStringLiteral("DB/TradeDB"));
        exec(fuelFile(), fuel());
        exec(goodsFile(), goods());
    }

    bool isValid() const { return m_dir.isValid() && m_error.isEmpty(); }
    const QString& error() const { return m_error; }
    StationServerKind kind() const { return m_kind; }
    QString root() const { return m_dir.path(); }
    QString fuelFolder() const { return m_dir.path() + QStringLiteral("/DB"); }
    QString goodsFolder() const { return m_dir.path() + QStringLiteral("/DB/TradeDB"); }
    QString fuelFile() const { return fuelFolder() + QStringLiteral("/fuel.sqlite"); }
    QString goodsFile() const { return goodsFolder() + QStringLiteral("/goods.sqlite"); }

    // Points a connection at this station's server and folders, as the data module does.
    void attach(TDCOMConnection& connection, const QString& goods, const QString& fuel) const {
        connection.setComputerName(QString());
        connection.setAfterConnect([goods, fuel](TDCOMConnection& sender) {
            sender.setStatParameter(1, goods);
            sender.setStatParameter(2, fuel);
        });
    }
    void attach(TDCOMConnection& connection) const {
        attach(connection, goodsFolder(), fuelFolder());
    }

    // Runs statements on one of the station's databases; the first failure is kept in error().
    bool exec(const QString& file, const QStringList& statements) {
        const QString name = QStringLiteral("fixture-") + file;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(file);
            if (!db.open())
                m_error = db.lastError().text();
            QSqlQuery query(db);
            for (const QString& statement : statements) {
                if (m_error.isEmpty() && !query.exec(statement))
                    m_error = query.lastError().text() + QStringLiteral(": ") + statement;
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        return m_error.isEmpty();
    }

private:
    static QStringList fuel() {
        QStringList s = StationSchema::fuelStatements() + StationSchema::fuelIndexStatements();
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

    static QStringList goods() {
        QStringList s = StationSchema::goodsStatements() + StationSchema::goodsIndexStatements();
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

    StationServerKind m_kind;
    QTemporaryDir m_dir;
    QString m_error;
};
