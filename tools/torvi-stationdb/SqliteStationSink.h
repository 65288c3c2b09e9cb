#pragma once

#include "StationGenerator.h"

#include <QSqlDatabase>
#include <QSqlQuery>

#include <memory>
#include <vector>

// The station's SQLite files under a DARA root: DB/fuel.sqlite and DB/TradeDB/goods.sqlite.
// Each is written under a temporary name beside its target and renamed at the commit, so an
// interrupted run never leaves a half-built station in place.
class SqliteStationSink final : public StationSink {
public:
    // Refuses an existing database unless force, a symbolic link always.
    SqliteStationSink(const QString& root, bool force);
    ~SqliteStationSink() override;

    void beginDatabase(Database which) override;
    int table(const QString& name, const QStringList& columns) override;
    void row(int table, const QVariantList& values) override;
    void endDatabase() override;
    void commit() override;
    QString name(Database which) const override;

private:
    void exec(const QString& sql);
    void close();

    QString m_fuelFile;
    QString m_goodsFile;
    QString m_fuelTemp;
    QString m_goodsTemp;
    Database m_current = Database::Fuel;
    QString m_connectionName;
    QSqlDatabase m_db;
    std::vector<std::unique_ptr<QSqlQuery>> m_inserts;
    bool m_committed = false;
};
