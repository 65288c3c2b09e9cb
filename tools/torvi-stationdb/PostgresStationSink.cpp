#include "PostgresStationSink.h"

#include "platform/core/Exceptions.h"
#include "platform/data/StationIndexes.h"
#include "platform/data/postgres/PostgresSchema.h"

#include <libpq-fe.h>

#include <charconv>
#include <unistd.h>

namespace {

// A table's rows go to the server whenever this much has gathered.
constexpr qsizetype kFlushBytes = 8 << 20;

QString lastError(PGconn* conn) {
    return QString::fromUtf8(PQerrorMessage(conn)).trimmed();
}

// One value in COPY's text form. Doubles are written in their shortest exact form, so the
// server stores the same double the SQLite file does.
void appendValue(QByteArray& out, const QVariant& value) {
    if (value.isNull()) {
        out += "\\N";
        return;
    }
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        out += QByteArray::number(value.toLongLong());
        return;
    case QMetaType::Double: {
        char buf[32];
        const auto end = std::to_chars(buf, buf + sizeof buf, value.toDouble()).ptr;
        out.append(buf, end - buf);
        return;
    }
    default:
        break;
    }
    for (const char c : value.toString().toUtf8()) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
}

} // namespace

PostgresStationSink::PostgresStationSink(const QString& server, const QString& fuelDb,
                                         const QString& goodsDb, bool force)
    : m_server(server)
    , m_fuelDb(fuelDb)
    , m_goodsDb(goodsDb) {
    if (!PostgresSchema::splitServerName(server, m_host, m_port))
        throw EDatabaseError(PostgresSchema::badServerName(server));
    if (fuelDb.isEmpty() || goodsDb.isEmpty() || fuelDb == goodsDb)
        throw EDatabaseError(QStringLiteral("Базам данных топлива и товаров нужны два разных "
                                            "непустых имени"));
    const QString suffix = QStringLiteral("_tmp_%1").arg(::getpid());
    m_fuelTemp = fuelDb + suffix;
    m_goodsTemp = goodsDb + suffix;
    m_admin = connect(QStringLiteral("postgres"));
    for (const QString& db : {fuelDb, goodsDb}) {
        if (!force && exists(db))
            throw EDatabaseError(QStringLiteral("База данных «%1» на сервере «%2» уже существует. "
                                                "Чтобы заменить её, запустите программу с ключом "
                                                "--force")
                                     .arg(db, m_server));
    }
    for (const QString& temp : {m_fuelTemp, m_goodsTemp}) {
        if (exists(temp))
            throw EDatabaseError(QStringLiteral("Временная база данных «%1» на сервере «%2» уже "
                                                "существует; удалите её и повторите")
                                     .arg(temp, m_server));
    }
}

PostgresStationSink::~PostgresStationSink() {
    if (m_load)
        PQfinish(m_load);
    if (m_admin) {
        if (!m_committed) {
            try {
                dropTemporaries();
            } catch (const Exception&) {
                // The run already reports its own failure; a leftover is named by the next run.
            }
        }
        PQfinish(m_admin);
    }
}

QString PostgresStationSink::name(Database which) const {
    return QStringLiteral("%1/%2").arg(m_server, which == Database::Fuel ? m_fuelDb : m_goodsDb);
}

PGconn* PostgresStationSink::connect(const QString& database) {
    const QByteArray host = m_host.toUtf8();
    const QByteArray port = QByteArray::number(m_port);
    const QByteArray db = database.toUtf8();
    const char* keys[] = {"host", "port", "dbname", "connect_timeout", "application_name", nullptr};
    const char* values[] = {host.constData(),  m_port > 0 ? port.constData() : nullptr,
                            db.constData(),    "10",
                            "torvi-stationdb", nullptr};
    PGconn* conn = PQconnectdbParams(keys, values, 0);
    if (PQstatus(conn) != CONNECTION_OK) {
        const QString reason = lastError(conn);
        PQfinish(conn);
        throw EDatabaseError(QStringLiteral("Не удалось подключиться к базе данных «%1» на "
                                            "сервере PostgreSQL «%2»: %3")
                                 .arg(database, m_server, reason));
    }
    PQclear(PQexec(conn, "SET client_min_messages = warning"));
    return conn;
}

void PostgresStationSink::exec(PGconn* conn, const QString& sql, const QString& database) {
    PGresult* res = PQexec(conn, sql.toUtf8().constData());
    const bool ok = PQresultStatus(res) == PGRES_COMMAND_OK;
    PQclear(res);
    if (!ok)
        throw EDatabaseError(QStringLiteral("Ошибка базы данных «%1» на сервере «%2»: %3 (%4)")
                                 .arg(database, m_server, lastError(conn), sql));
}

bool PostgresStationSink::exists(const QString& database) {
    const QByteArray name = database.toUtf8();
    const char* params[] = {name.constData()};
    PGresult* res = PQexecParams(m_admin, "SELECT 1 FROM pg_database WHERE datname = $1", 1,
                                 nullptr, params, nullptr, nullptr, 0);
    const bool ok = PQresultStatus(res) == PGRES_TUPLES_OK;
    const bool found = ok && PQntuples(res) > 0;
    PQclear(res);
    if (!ok)
        throw EDatabaseError(QStringLiteral("Сервер PostgreSQL «%1» не дал список баз данных: %2")
                                 .arg(m_server, lastError(m_admin)));
    return found;
}

void PostgresStationSink::dropTemporaries() {
    if (m_load) {
        PQfinish(m_load);
        m_load = nullptr;
    }
    for (const QString& temp : {m_fuelTemp, m_goodsTemp})
        exec(m_admin,
             QStringLiteral("DROP DATABASE IF EXISTS %1").arg(PostgresSchema::quotedName(temp)),
             temp);
}

void PostgresStationSink::beginDatabase(Database which) {
    m_current = which;
    m_loading = which == Database::Fuel ? m_fuelTemp : m_goodsTemp;
    exec(m_admin, PostgresSchema::createDatabase(m_loading), m_loading);
    m_load = connect(m_loading);
    // A fresh database nobody reads yet: a crash loses nothing that a new run would not redo.
    exec(m_load, QStringLiteral("SET synchronous_commit = off"), m_loading);
    const QStringList statements = which == Database::Fuel ? PostgresSchema::fuelStatements()
                                                           : PostgresSchema::goodsStatements();
    for (const QString& statement : statements)
        exec(m_load, statement, m_loading);
}

int PostgresStationSink::table(const QString& name, const QStringList& columns) {
    m_tables.push_back(
        {QStringLiteral("COPY %1 (%2) FROM STDIN").arg(name, columns.join(u", ")).toUtf8(), {}});
    return int(m_tables.size() - 1);
}

void PostgresStationSink::row(int table, const QVariantList& values) {
    Table& t = m_tables[size_t(table)];
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i)
            t.rows += '\t';
        appendValue(t.rows, values[i]);
    }
    t.rows += '\n';
    if (t.rows.size() >= kFlushBytes)
        flush(t);
}

void PostgresStationSink::flush(Table& table) {
    if (table.rows.isEmpty())
        return;
    PGresult* start = PQexec(m_load, table.copy.constData());
    const bool copying = PQresultStatus(start) == PGRES_COPY_IN;
    PQclear(start);
    bool ok = copying &&
              PQputCopyData(m_load, table.rows.constData(), int(table.rows.size())) == 1 &&
              PQputCopyEnd(m_load, nullptr) == 1;
    while (PGresult* res = PQgetResult(m_load)) {
        ok = ok && PQresultStatus(res) == PGRES_COMMAND_OK;
        PQclear(res);
    }
    if (!ok)
        throw EDatabaseError(QStringLiteral("Не удалось загрузить строки в базу данных «%1» на "
                                            "сервере «%2»: %3")
                                 .arg(m_loading, m_server, lastError(m_load)));
    table.rows.clear();
}

void PostgresStationSink::endDatabase() {
    for (Table& t : m_tables)
        flush(t);
    m_tables.clear();
    const QStringList indexes =
        m_current == Database::Fuel ? StationIndexes::fuel() : StationIndexes::goods();
    for (const QString& statement : indexes)
        exec(m_load, statement, m_loading);
    exec(m_load, QStringLiteral("ANALYZE"), m_loading);
    PQfinish(m_load);
    m_load = nullptr;
}

void PostgresStationSink::commit() {
    // Renames are quick, but the old database must have no readers: WITH (FORCE) ends them,
    // as replacing a station's files would pull them from under their readers too.
    const auto q = [](const QString& name) { return PostgresSchema::quotedName(name); };
    for (const auto& [temp, target] : {std::pair{m_fuelTemp, m_fuelDb}, {m_goodsTemp, m_goodsDb}}) {
        exec(m_admin, QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(q(target)),
             target);
        exec(m_admin, QStringLiteral("ALTER DATABASE %1 RENAME TO %2").arg(q(temp), q(target)),
             target);
    }
    m_committed = true;
}
