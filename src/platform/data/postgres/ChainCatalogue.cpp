#include "platform/data/postgres/ChainCatalogue.h"

#include "platform/core/Exceptions.h"
#include "platform/data/postgres/PostgresSchema.h"

#include <libpq-fe.h>

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <memory>

namespace {

struct ConnectionDeleter {
    void operator()(PGconn* conn) const { PQfinish(conn); }
};
using Connection = std::unique_ptr<PGconn, ConnectionDeleter>;

struct ResultDeleter {
    void operator()(PGresult* res) const { PQclear(res); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

QString lastError(PGconn* conn) {
    return QString::fromUtf8(PQerrorMessage(conn)).trimmed();
}

bool missingDatabase(const QString& reason) {
    return (reason.contains(QLatin1String("database \"")) ||
            reason.contains(QStringLiteral("база данных \""))) &&
           (reason.contains(QLatin1String("does not exist")) ||
            reason.contains(QStringLiteral("не существует")));
}

// Null with `reason` set when the server refuses; `readOnly` for the statistics' side, which
// never needs more.
Connection connect(const QString& server, const QString& database, bool readOnly, QString& reason) {
    QString error;
    const QList<PostgresSchema::ServerAddress> servers =
        PostgresSchema::splitServerList(server, error);
    if (servers.isEmpty())
        throw EDatabaseError(error);
    QStringList hosts, ports;
    bool portGiven = false;
    for (const PostgresSchema::ServerAddress& address : servers) {
        hosts << address.host;
        ports << (address.port > 0 ? QString::number(address.port) : QString());
        portGiven = portGiven || address.port > 0;
    }
    const bool list = servers.size() > 1;
    const QByteArray hostText = hosts.join(QLatin1Char(',')).toUtf8();
    const QByteArray portText = ports.join(QLatin1Char(',')).toLatin1();
    const QByteArray db = database.toUtf8();
    // Of a primary and its standbys, the statistics read where the statistics server would; a
    // registration needs the one that takes writes.
    const char* const sessions = !list ? "any" : readOnly ? "prefer-standby" : "read-write";
    const char* keys[] = {"host",
                          "port",
                          "dbname",
                          "connect_timeout",
                          "keepalives",
                          "keepalives_idle",
                          "application_name",
                          "options",
                          "target_session_attrs",
                          nullptr};
    const char* values[] = {hostText.constData(),
                            portGiven ? portText.constData() : nullptr,
                            db.constData(),
                            list ? "2" : "10",
                            "1",
                            "60",
                            "torvistat",
                            readOnly ? "-c default_transaction_read_only=on -c "
                                       "statement_timeout=60000"
                                     : "-c statement_timeout=60000",
                            sessions,
                            nullptr};
    Connection conn(PQconnectdbParams(keys, values, 0));
    if (PQstatus(conn.get()) != CONNECTION_OK) {
        reason = lastError(conn.get());
        return nullptr;
    }
    PQclear(PQexec(conn.get(), "SET client_min_messages = warning"));
    return conn;
}

Result exec(PGconn* conn, const QString& server, const char* sql, const QByteArrayList& params,
            ExecStatusType expected) {
    std::vector<const char*> values;
    for (const QByteArray& p : params)
        values.push_back(p.constData());
    Result res(
        PQexecParams(conn, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0));
    if (PQresultStatus(res.get()) != expected)
        throw EDatabaseError(
            QStringLiteral("Каталог сети АЗС «%1» на сервере PostgreSQL «%2»: "
                           "ошибка базы данных: %3")
                .arg(QLatin1String(ChainCatalogue::kDatabase), server, lastError(conn)));
    return res;
}

} // namespace

QString ChainCatalogue::tableStatement() {
    return QStringLiteral("CREATE TABLE IF NOT EXISTS stations (name text PRIMARY KEY, region text "
                          "NOT NULL DEFAULT '', fuel_db text NOT NULL, goods_db text NOT NULL, "
                          "registered timestamptz NOT NULL DEFAULT now())");
}

void ChainCatalogue::registerStation(const QString& server, const TChainStation& station) {
    if (station.name.trimmed().isEmpty())
        throw EDatabaseError(QStringLiteral("У АЗС для каталога сети нет имени"));
    const QString catalogue = QLatin1String(kDatabase);
    QString reason;
    Connection conn = connect(server, catalogue, false, reason);
    if (!conn && missingDatabase(reason)) {
        Connection admin = connect(server, QStringLiteral("postgres"), false, reason);
        if (!admin)
            throw EDatabaseError(QStringLiteral("Не удалось подключиться к серверу PostgreSQL "
                                                "«%1», чтобы создать каталог сети АЗС «%2»: %3")
                                     .arg(server, catalogue, reason));
        // Two loaders may create it at once; the one that loses finds it made.
        Result made(
            PQexec(admin.get(), PostgresSchema::createDatabase(catalogue).toUtf8().constData()));
        const QString createError = lastError(admin.get());
        conn = connect(server, catalogue, false, reason);
        if (!conn)
            reason = createError.isEmpty() ? reason : createError;
    }
    if (!conn)
        throw EDatabaseError(QStringLiteral("Каталог сети АЗС «%1» на сервере PostgreSQL «%2» "
                                            "недоступен: %3")
                                 .arg(catalogue, server, reason));
    // The table is made in its own statement: two first registrations at once both find it.
    exec(conn.get(), server, tableStatement().toUtf8().constData(), {}, PGRES_COMMAND_OK);
    exec(conn.get(), server,
         "INSERT INTO stations (name, region, fuel_db, goods_db) VALUES ($1, $2, $3, $4) "
         "ON CONFLICT (name) DO UPDATE SET region = EXCLUDED.region, fuel_db = EXCLUDED.fuel_db, "
         "goods_db = EXCLUDED.goods_db, registered = now()",
         {station.name.toUtf8(), station.region.toUtf8(), station.fuelDb.toUtf8(),
          station.goodsDb.toUtf8()},
         PGRES_COMMAND_OK);
}

TChainStations ChainCatalogue::readStations(const QString& server) {
    const QString catalogue = QLatin1String(kDatabase);
    QString reason;
    Connection conn = connect(server, catalogue, true, reason);
    if (!conn) {
        if (missingDatabase(reason))
            return {};
        throw EDatabaseError(QStringLiteral("Каталог сети АЗС «%1» на сервере PostgreSQL «%2» "
                                            "недоступен: %3")
                                 .arg(catalogue, server, reason));
    }
    // A catalogue made by hand without its table lists no station either.
    Result exists =
        exec(conn.get(), server, "SELECT to_regclass('stations') IS NOT NULL", {}, PGRES_TUPLES_OK);
    if (QByteArray(PQgetvalue(exists.get(), 0, 0)) != "t")
        return {};
    Result res = exec(conn.get(), server,
                      "SELECT name, region, fuel_db, goods_db, "
                      "to_char(registered AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"') "
                      "FROM stations",
                      {}, PGRES_TUPLES_OK);
    TChainStations stations;
    stations.reserve(PQntuples(res.get()));
    for (int row = 0; row < PQntuples(res.get()); ++row) {
        const auto text = [&](int column) {
            return QString::fromUtf8(PQgetvalue(res.get(), row, column));
        };
        stations.append(
            {text(0), text(1), text(2), text(3), QDateTime::fromString(text(4), Qt::ISODate)});
    }
    // As an operator reads them: "АЗС №2" before "АЗС №10".
    QCollator collator{QLocale(QLocale::Russian, QLocale::Russia)};
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(stations.begin(), stations.end(), [&](const auto& a, const auto& b) {
        if (const int byRegion = collator.compare(a.region, b.region))
            return byRegion < 0;
        return collator.compare(a.name, b.name) < 0;
    });
    return stations;
}
