#include "PostgresStationSink.h"

#include "platform/core/Exceptions.h"
#include "platform/data/StationIndexes.h"
#include "platform/data/postgres/PostgresSchema.h"

#include <libpq-fe.h>

#include <QRegularExpression>

#include <charconv>
#include <cstdio>

namespace {

// The new pair loads under "<name>_torvi_new", the old one waits as "<name>_torvi_old" until the
// new one is in place: fixed names, so the next run finds what a killed one left.
constexpr char kNewSuffix[] = "_torvi_new";
constexpr char kOldSuffix[] = "_torvi_old";
// The server keeps 63 bytes of a name; the suffixes must fit beside the station's name.
constexpr qsizetype kMaxNameBytes = 63 - 10;

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
    // A station is loaded into the primary; a standby refuses every write, and guessing which of
    // a list is the primary could load into the wrong server of another chain.
    if (server.contains(QLatin1Char(',')))
        throw EDatabaseError(QStringLiteral("Станция загружается только на основной сервер "
                                            "PostgreSQL: укажите один сервер ИМЯ[:ПОРТ], а не "
                                            "список «%1»")
                                 .arg(server.trimmed()));
    if (!PostgresSchema::splitServerName(server, m_host, m_port))
        throw EDatabaseError(PostgresSchema::badServerName(server));
    if (fuelDb.isEmpty() || goodsDb.isEmpty() || fuelDb == goodsDb)
        throw EDatabaseError(QStringLiteral("Базам данных топлива и товаров нужны два разных "
                                            "непустых имени"));
    for (const QString& db : {fuelDb, goodsDb}) {
        if (db.toUtf8().size() > kMaxNameBytes)
            throw EDatabaseError(QStringLiteral("Имя базы данных «%1» длиннее %2 байт: сервер "
                                                "PostgreSQL не сохранит его вместе с временным "
                                                "именем загрузки")
                                     .arg(db, QString::number(kMaxNameBytes)));
    }
    m_fuelTemp = fuelDb + QLatin1String(kNewSuffix);
    m_goodsTemp = goodsDb + QLatin1String(kNewSuffix);
    m_admin = connect(QStringLiteral("postgres"));
    removeLeftovers();
    for (const QString& db : {fuelDb, goodsDb}) {
        if (!force && exists(db))
            throw EDatabaseError(QStringLiteral("База данных «%1» на сервере «%2» уже существует. "
                                                "Чтобы заменить её, запустите программу с ключом "
                                                "--force")
                                     .arg(db, m_server));
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
                // The run already reports its own failure; the next run removes the leftover.
            }
        }
        PQfinish(m_admin);
    }
}

void PostgresStationSink::removeLeftovers() {
    // A replacement interrupted between its commit and dropping the old pair left
    // "<name>_torvi_old";
    // the names themselves are the new pair by then. Should a name be missing beside its old
    // database (a hand's rename), the old one is all the station has: it goes back.
    for (const QString& db : {m_fuelDb, m_goodsDb}) {
        const QString old = db + QLatin1String(kOldSuffix);
        if (!exists(old))
            continue;
        if (exists(db))
            exec(m_admin, QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(quoted(old)), old);
        else
            exec(m_admin,
                 QStringLiteral("ALTER DATABASE %1 RENAME TO %2").arg(quoted(old), quoted(db)), db);
    }
    // A killed load left its new databases, under this version's names or, from earlier
    // versions, "<name>_tmp_<process id>". One that somebody uses is another run's load.
    PGresult* res = PQexec(m_admin, "SELECT datname FROM pg_database");
    QStringList names;
    for (int r = 0; PQresultStatus(res) == PGRES_TUPLES_OK && r < PQntuples(res); ++r)
        names << QString::fromUtf8(PQgetvalue(res, r, 0));
    PQclear(res);
    const QRegularExpression earlier(
        QStringLiteral("^(%1|%2)_tmp_[0-9]+$")
            .arg(QRegularExpression::escape(m_fuelDb), QRegularExpression::escape(m_goodsDb)));
    for (const QString& name : names) {
        if (name != m_fuelTemp && name != m_goodsTemp && !earlier.match(name).hasMatch())
            continue;
        PGresult* drop = PQexec(
            m_admin, QStringLiteral("DROP DATABASE %1").arg(quoted(name)).toUtf8().constData());
        const bool dropped = PQresultStatus(drop) == PGRES_COMMAND_OK;
        const QString reason = lastError(m_admin);
        PQclear(drop);
        if (!dropped)
            throw EDatabaseError(QStringLiteral("Временная база данных «%1» на сервере «%2» "
                                                "осталась от прерванной загрузки и не удаляется: "
                                                "%3. Если её сейчас загружает другой запуск "
                                                "torvi-stationdb, дождитесь его конца")
                                     .arg(name, m_server, reason));
    }
}

QString PostgresStationSink::quoted(const QString& name) {
    return PostgresSchema::quotedName(name);
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

void PostgresStationSink::exec(PGconn* conn, const QString& sql, const QString& database,
                               int expected) {
    PGresult* res = PQexec(conn, sql.toUtf8().constData());
    const bool ok = PQresultStatus(res) == ExecStatusType(expected);
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
    // Both pairs change names in one transaction, so the station has either its old pair or the
    // new one whatever fails or is killed. A rename needs its database to have no sessions: the
    // readers of the old pair are ended, as replacing a station's files would pull them from
    // under their readers too, and so is anyone who found the new pair early.
    const QString databases = QStringList{m_fuelDb, m_goodsDb, m_fuelTemp, m_goodsTemp}
                                  .replaceInStrings(QStringLiteral("'"), QStringLiteral("''"))
                                  .join(QStringLiteral("', '"));
    QStringList asides;
    try {
        exec(m_admin, QStringLiteral("BEGIN"), m_fuelDb);
        exec(m_admin,
             QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname "
                            "IN ('%1') AND pid <> pg_backend_pid()")
                 .arg(databases),
             m_fuelDb, PGRES_TUPLES_OK);
        for (const auto& [temp, target] :
             {std::pair{m_fuelTemp, m_fuelDb}, {m_goodsTemp, m_goodsDb}}) {
            if (exists(target)) {
                asides << target + QLatin1String(kOldSuffix);
                exec(m_admin,
                     QStringLiteral("ALTER DATABASE %1 RENAME TO %2")
                         .arg(quoted(target), quoted(asides.last())),
                     target);
            }
            exec(m_admin,
                 QStringLiteral("ALTER DATABASE %1 RENAME TO %2").arg(quoted(temp), quoted(target)),
                 target);
        }
        exec(m_admin, QStringLiteral("COMMIT"), m_fuelDb);
    } catch (const EDatabaseError& e) {
        PQclear(PQexec(m_admin, "ROLLBACK"));
        throw EDatabaseError(QStringLiteral("Базы данных станции не заменены, «%1» и «%2» на "
                                            "сервере «%3» остались как были: %4")
                                 .arg(m_fuelDb, m_goodsDb, m_server, e.message()));
    }
    m_committed = true;
    for (const QString& old : asides) {
        PGresult* res = PQexec(
            m_admin,
            QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(quoted(old)).toUtf8().constData());
        if (PQresultStatus(res) != PGRES_COMMAND_OK)
            std::fputs(QStringLiteral("\ntorvi-stationdb: прежняя база данных «%1» не удалена "
                                      "(%2); её удалит следующий запуск для этой станции\n")
                           .arg(old, lastError(m_admin))
                           .toLocal8Bit()
                           .constData(),
                       stderr);
        PQclear(res);
    }
}
