#include "platform/data/postgres/PostgresStatServer.h"

#include "platform/core/Exceptions.h"
#include "platform/data/StationDateTime.h"
#include "platform/data/postgres/PostgresSchema.h"

#include <QDate>
#include <QDeadlineTimer>
#include <QFile>
#include <QSqlDriver>
#include <QSqlError>

#include <libpq-fe.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

std::atomic<quint64> connectionCounter{0};
std::atomic<int> statementTimeoutMs{TPostgresStatServer::kStatementTimeoutSeconds * 1000};
std::atomic<qint64> temporaryKilobytesLimit{TPostgresStatServer::kTemporaryKilobytesLimit};

// The server names a database by at most this many bytes (NAMEDATALEN - 1); a longer name would
// be cut short there, or refused before the login with a reason nobody could read.
constexpr qsizetype kMaxDatabaseNameBytes = 63;

// Rows per round trip: large enough that the trips cost little next to the rows, small enough
// that a batch in the driver's buffer stays a few megabytes.
constexpr int kBatchRows = 20000;

// Days from 1970-01-01 to 2000-01-01, the server's day zero.
constexpr qint64 kServerEpochUnixDay = 10957;

// The types the server reports by number (pg_type.oid); they are fixed in every server version.
enum : Oid {
    kBool = 16,
    kInt8 = 20,
    kInt2 = 21,
    kInt4 = 23,
    kText = 25,
    kOid = 26,
    kName = 19,
    kFloat4 = 700,
    kFloat8 = 701,
    kUnknown = 705,
    kBpchar = 1042,
    kVarchar = 1043,
    kDate = 1082,
    kTimestamp = 1114,
    kTimestampTz = 1184,
    kNumeric = 1700,
};

struct Result {
    PGresult* res;
    explicit Result(PGresult* r)
        : res(r) {}
    ~Result() { PQclear(res); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    ExecStatusType status() const { return PQresultStatus(res); }
};

quint16 be16(const char* p) {
    return quint16((uchar(p[0]) << 8) | uchar(p[1]));
}
quint32 be32(const char* p) {
    return (quint32(be16(p)) << 16) | be16(p + 2);
}
quint64 be64(const char* p) {
    return (quint64(be32(p)) << 32) | be32(p + 4);
}

qint64 floorDiv(qint64 a, qint64 b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

// A numeric in the server's binary form: base-10000 digits with a weight. Whole numbers that fit
// stay integers, as SQLite keeps a SUM of integers; the rest are read through their decimal
// digits so that the double is the one the text would give. False for a number beyond the
// double's range; one too small for it reads as zero.
bool appendNumeric(TColumnBuilder& b, const char* p, int length) {
    if (length < 8) {
        b.appendNull();
        return true;
    }
    const int count = qint16(be16(p));
    const int weight = qint16(be16(p + 2));
    const quint16 sign = be16(p + 4);
    const int scale = be16(p + 6);
    if (sign != 0 && sign != 0x4000) {
        b.appendText(sign == 0xC000 ? "NaN" : sign == 0xD000 ? "Infinity" : "-Infinity");
        return true;
    }
    if (scale == 0 && weight < 4) {
        qint64 value = 0;
        for (int i = 0; i <= weight; ++i)
            value = value * 10000 + (i < count ? be16(p + 8 + 2 * i) : 0);
        b.appendInteger(sign ? -value : value);
        return true;
    }
    std::string digits = sign ? "-0" : "0";
    char group[8];
    for (int i = 0; i < count; ++i) {
        std::snprintf(group, sizeof group, "%04u", unsigned(be16(p + 8 + 2 * i)));
        digits += group;
    }
    digits += 'e' + std::to_string(4 * (weight + 1 - count));
    double value = 0;
    if (std::from_chars(digits.data(), digits.data() + digits.size(), value).ec ==
        std::errc::result_out_of_range) {
        if (weight >= 0)
            return false;
        value = sign ? -0.0 : 0.0;
    }
    b.appendFloat(value);
    return true;
}

// Years 1 to 9999, as a station's date-time reads; the server's "infinity" and any day beyond
// stay text, which a date-time field refuses with the value in its message instead of showing a
// year no calendar has.
constexpr qint64 kFirstUnixDay = -719162; // 0001-01-01
constexpr qint64 kLastUnixDay = 2932896;  // 9999-12-31

void appendDay(TColumnBuilder& b, qint64 unixDay, qint64 msecOfDay, bool infinite) {
    if (infinite) {
        b.appendText(unixDay > 0 ? "infinity" : "-infinity");
    } else if (unixDay < kFirstUnixDay || unixDay > kLastUnixDay) {
        const QDate date = QDate::fromJulianDay(unixDay + 2440588);
        const QByteArray text = QStringLiteral("%1-%2-%3")
                                    .arg(date.year())
                                    .arg(date.month(), 2, 10, QLatin1Char('0'))
                                    .arg(date.day(), 2, 10, QLatin1Char('0'))
                                    .toUtf8();
        b.appendText(std::string_view(text.constData(), size_t(text.size())));
    } else {
        b.appendDateTime(StationDateTime::fromUnixDay(unixDay, msecOfDay));
    }
}

void appendTimestamp(TColumnBuilder& b, qint64 micro) {
    const bool infinite =
        micro == std::numeric_limits<qint64>::max() || micro == std::numeric_limits<qint64>::min();
    const qint64 msec = floorDiv(micro, 1000);
    const qint64 day = floorDiv(msec, 86400000);
    appendDay(b, infinite ? micro : day + kServerEpochUnixDay, msec - day * 86400000, infinite);
}

bool supported(Oid type) {
    switch (type) {
    case kBool:
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid:
    case kFloat4:
    case kFloat8:
    case kNumeric:
    case kText:
    case kName:
    case kUnknown:
    case kBpchar:
    case kVarchar:
    case kDate:
    case kTimestamp:
    case kTimestampTz:
        return true;
    default:
        return false;
    }
}

// False for a value the column cannot hold (a numeric beyond the double's range).
bool appendValue(TColumnBuilder& b, Oid type, const char* p, int length) {
    switch (type) {
    case kBool:
        b.appendInteger(length > 0 && p[0] ? 1 : 0);
        break;
    case kInt2:
        b.appendInteger(qint16(be16(p)));
        break;
    case kInt4:
        b.appendInteger(qint32(be32(p)));
        break;
    case kOid:
        b.appendInteger(be32(p));
        break;
    case kInt8:
        b.appendInteger(qint64(be64(p)));
        break;
    case kFloat4: {
        const quint32 bits = be32(p);
        float v;
        std::memcpy(&v, &bits, sizeof v);
        b.appendFloat(double(v));
        break;
    }
    case kFloat8: {
        const quint64 bits = be64(p);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        b.appendFloat(v);
        break;
    }
    case kNumeric:
        return appendNumeric(b, p, length);
    case kDate: {
        const qint32 day = qint32(be32(p));
        const bool infinite =
            day == std::numeric_limits<qint32>::max() || day == std::numeric_limits<qint32>::min();
        appendDay(b, infinite ? day : day + kServerEpochUnixDay, 0, infinite);
        break;
    }
    case kTimestamp:
    case kTimestampTz:
        appendTimestamp(b, qint64(be64(p)));
        break;
    default: // the text types: their binary form is the text itself
        b.appendText(std::string_view(p, size_t(length)));
        break;
    }
    return true;
}

QString serverText(const char* text) {
    return QString::fromUtf8(text).trimmed();
}

bool mentions(const QString& reason, std::initializer_list<const char*> words) {
    for (const char* word : words) {
        if (reason.contains(QLatin1String(word), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// Whether something listens at the server's address, found without logging in: a login needs a
// database, and one named after the role (libpq's default) is a failed login in the server's log
// for every connection. Empty when it listens, otherwise why not.
QString listenerMissing(const QString& host, int port) {
    if (port <= 0)
        port = qEnvironmentVariableIntValue("PGPORT") > 0 ? qEnvironmentVariableIntValue("PGPORT")
                                                          : 5432;
    const auto waitConnected = [](int fd) {
        pollfd p{fd, POLLOUT, 0};
        int ready;
        do
            ready = ::poll(&p, 1, 10000); // as connect_timeout=10
        while (ready < 0 && errno == EINTR);
        int error = ready == 0 ? ETIMEDOUT : 0;
        socklen_t size = sizeof error;
        if (ready > 0)
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
        return error;
    };
    const auto attempt = [&](int family, const sockaddr* address, socklen_t size) {
        const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return errno;
        int error = ::connect(fd, address, size) == 0 ? 0 : errno;
        if (error == EINPROGRESS)
            error = waitConnected(fd);
        ::close(fd);
        return error;
    };
    int error = 0;
    if (host.startsWith(QLatin1Char('/'))) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(host + QStringLiteral("/.s.PGSQL.%1").arg(port));
        if (size_t(path.size()) >= sizeof address.sun_path)
            return QStringLiteral("слишком длинный путь к сокету сервера");
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        error = attempt(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } else {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int status = ::getaddrinfo(host.toUtf8().constData(),
                                         QByteArray::number(port).constData(), &hints, &found);
        if (status != 0)
            return QStringLiteral("имя компьютера не найдено");
        error = ECONNREFUSED;
        for (addrinfo* a = found; a && error; a = a->ai_next)
            error = attempt(a->ai_family, a->ai_addr, a->ai_addrlen);
        ::freeaddrinfo(found);
    }
    return error ? QString::fromLocal8Bit(std::strerror(error)) : QString();
}

QString seconds(int ms) {
    return QString::number(ms / 1000.0).replace(QLatin1Char('.'), QLatin1Char(','));
}

// How long the client waits for one statement's answer: the server's own timeout, then as long
// again (at most half a minute) for its cancellation to arrive.
int clientWaitMs() {
    const int limit = statementTimeoutMs.load();
    return limit + qMin(limit, 30000);
}

// Sends one statement and waits for its result at most clientWaitMs(): the server's timeout
// cannot fire in a stopped backend, nor reach a client over a silent network. Null and timedOut
// when the wait ran out, with the statement still pending on the connection. Null as well when
// `cancelled` is set, before the statement is sent or when wakeFd wakes the wait.
PGresult* exchange(PGconn* conn, const char* sql, int resultFormat, bool& timedOut, int wakeFd,
                   const std::atomic<bool>& cancelled) {
    timedOut = false;
    if (cancelled.load())
        return nullptr;
    if (!PQsendQueryParams(conn, sql, 0, nullptr, nullptr, nullptr, nullptr, resultFormat))
        return nullptr;
    const QDeadlineTimer deadline(clientWaitMs());
    while (PQisBusy(conn)) {
        pollfd p[2] = {{PQsocket(conn), POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(p, wakeFd >= 0 ? 2 : 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            timedOut = true;
            return nullptr;
        }
        if (cancelled.load())
            return nullptr;
        if (p[1].revents & POLLIN) {
            // The wake-up of a cancel already taken back: read, so that it wakes nobody again.
            quint64 count = 0;
            [[maybe_unused]] const ssize_t read = ::read(wakeFd, &count, sizeof count);
        }
        if (!(p[0].revents & (POLLIN | POLLERR | POLLHUP)))
            continue;
        if (!PQconsumeInput(conn))
            break;
    }
    PGresult* result = nullptr;
    while (PGresult* next = PQgetResult(conn)) {
        PQclear(result);
        result = next;
    }
    return result;
}

// Closes the transaction of a request however the request ends.
struct Transaction {
    PGconn* conn;
    bool open = true;
    ~Transaction() {
        if (open && PQstatus(conn) == CONNECTION_OK)
            PQclear(PQexec(conn, "ROLLBACK"));
    }
};

} // namespace

TPostgresStatServer::TPostgresStatServer(const QString& computerName)
    : m_computerName(computerName.trimmed())
    , m_host(m_computerName)
    , m_owner(QThread::currentThread()) {
    if (!PostgresSchema::splitServerName(m_computerName, m_host, m_port))
        throw EDatabaseError(PostgresSchema::badServerName(m_computerName));
    // Connecting reaches the computer, as a connection to a remote server always has: an
    // unreachable one fails here and the connection stays closed. The databases are opened on
    // the first request, once StatParameter has named them.
    const QString missing = listenerMissing(m_host, m_port);
    if (!missing.isEmpty())
        throw EDatabaseError(QStringLiteral("Не удалось подключиться к серверу статистики на "
                                            "компьютере «%1»: сервер PostgreSQL не отвечает "
                                            "(компьютер недоступен, имя или порт неверны: %2)")
                                 .arg(m_computerName, missing));
    // Last, so that no failure above leaves it open.
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0)
        throw EOSError(QStringLiteral("Не удалось подготовить прерывание запросов сервера "
                                      "статистики: %1")
                           .arg(SysErrorMessage(errno)));
}

void TPostgresStatServer::setStatementLimits(int timeoutMs, qint64 temporaryKilobytes) {
    statementTimeoutMs = timeoutMs;
    temporaryKilobytesLimit = temporaryKilobytes;
}

TPostgresStatServer::~TPostgresStatServer() {
    // As with the embedded server: a connection closed from another thread is idle by then.
    closeHandle(m_goods);
    closeHandle(m_fuel);
    ::close(m_wakeFd);
}

void TPostgresStatServer::setStatParameter(int index, const QString& value) {
    if (m_parameters.set(index, value))
        closeHandle(index == 1 ? m_goods : m_fuel);
}

QString TPostgresStatServer::statParameter(int index) const {
    return m_parameters.get(index);
}

QString TPostgresStatServer::databaseName(Database which) const {
    QString name = m_parameters[which].trimmed();
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return name.section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty);
}

QString TPostgresStatServer::where(Database which) const {
    return QStringLiteral("база данных %1 «%2» на сервере PostgreSQL «%3»")
        .arg(StationProviders::databaseWord(which), databaseName(which), m_computerName);
}

void TPostgresStatServer::closeHandle(Handle& h) {
    if (h.connectionName.isEmpty())
        return;
    PGcancel* cancel = nullptr;
    {
        const std::lock_guard lock(m_cancelMutex);
        cancel = static_cast<PGcancel*>(std::exchange(h.cancel, nullptr));
    }
    PQfreeCancel(cancel);
    h.pg = nullptr;
    h.db.close();
    h.db = QSqlDatabase();
    QSqlDatabase::removeDatabase(h.connectionName);
    h.connectionName.clear();
}

void TPostgresStatServer::raiseOpenError(Database which, const QString& reason) const {
    const QByteArray host = m_host.toUtf8();
    const QByteArray port = m_port > 0 ? QByteArray::number(m_port) : QByteArray();
    const QByteArray name = databaseName(which).toUtf8();
    const char* keys[] = {"host", "port", "dbname", "connect_timeout", nullptr};
    const char* values[] = {host.constData(), port.isEmpty() ? nullptr : port.constData(),
                            name.constData(), "5", nullptr};
    const PGPing ping = PQpingParams(keys, values, 0);
    if (ping == PQPING_NO_RESPONSE || ping == PQPING_NO_ATTEMPT)
        throw EDatabaseError(QStringLiteral("Сервер статистики PostgreSQL «%1» недоступен, "
                                            "%2 не открыта: %3")
                                 .arg(m_computerName, where(which), reason));
    if (mentions(reason, {"database \"", "база данных \""}) &&
        mentions(reason, {"does not exist", "не существует"}))
        throw EDatabaseError(
            QStringLiteral("На сервере PostgreSQL «%1» нет базы данных %2 «%3»")
                .arg(m_computerName, StationProviders::databaseWord(which), databaseName(which)));
    if (mentions(reason, {"authentication", "password", "pg_hba.conf", "role \"", "роль \"",
                          "парол", "подлинност"}))
        throw EDatabaseError(QStringLiteral("Сервер PostgreSQL «%1» отказал в доступе: %2 не "
                                            "открыта (%3). Имя пользователя и пароль берутся из "
                                            "PGUSER, PGPASSWORD или файла ~/.pgpass")
                                 .arg(m_computerName, where(which), reason));
    throw EDatabaseError(QStringLiteral("Не удалось открыть: %1: %2").arg(where(which), reason));
}

TPostgresStatServer::Handle& TPostgresStatServer::handle(Database which) {
    Handle& h = which == Database::Fuel ? m_fuel : m_goods;
    if (h.pg)
        return h;
    if (databaseName(which).isEmpty())
        throw EDatabaseError(
            QStringLiteral("Серверу статистики не передано имя базы данных %1 "
                           "(параметр %2)")
                .arg(StationProviders::databaseWord(which), QString::number(int(which))));
    if (const qsizetype bytes = databaseName(which).toUtf8().size(); bytes > kMaxDatabaseNameBytes)
        throw EDatabaseError(QStringLiteral("Имя базы данных %1 длиннее %2 байт (%3 байт), "
                                            "такой базы на сервере PostgreSQL «%4» быть не "
                                            "может: «%5»")
                                 .arg(StationProviders::databaseWord(which),
                                      QString::number(kMaxDatabaseNameBytes),
                                      QString::number(bytes), m_computerName,
                                      ShortenedForMessage(databaseName(which), 100)));
    h.connectionName =
        QStringLiteral("torvi-stat-pg-%1-%2")
            .arg(connectionCounter.fetch_add(1))
            .arg(which == Database::Fuel ? QStringLiteral("fuel") : QStringLiteral("goods"));
    h.db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), h.connectionName);
    if (!h.db.isValid()) {
        closeHandle(h);
        throw EDatabaseError(QStringLiteral("Драйвер PostgreSQL для Qt (QPSQL) не установлен; %1 "
                                            "недоступна")
                                 .arg(where(which)));
    }
    h.db.setHostName(m_host);
    if (m_port > 0)
        h.db.setPort(m_port);
    h.db.setDatabaseName(databaseName(which));
    // Keepalives find a peer that vanished without a word (a cable pulled, a machine frozen) in
    // about two minutes instead of the system's two hours; tcp_user_timeout does the same for
    // data the peer never acknowledges.
    h.db.setConnectOptions(QStringLiteral("connect_timeout=10;application_name=torvistat;"
                                          "keepalives=1;keepalives_idle=60;"
                                          "keepalives_interval=10;keepalives_count=6;"
                                          "tcp_user_timeout=120000"));
    if (!h.db.open()) {
        const QString reason = h.db.lastError().databaseText().trimmed();
        closeHandle(h);
        raiseOpenError(which, reason);
    }
    const QVariant native = h.db.driver()->handle();
    if (native.isValid() &&
        (qstrcmp(native.typeName(), "PGconn*") == 0 || qstrcmp(native.typeName(), "pg_conn*") == 0))
        h.pg = *static_cast<PGconn* const*>(native.constData());
    if (!h.pg) {
        closeHandle(h);
        throw EDatabaseError(
            QStringLiteral("Драйвер QPSQL не дал доступа к соединению: %1").arg(where(which)));
    }
    // Every transaction of this session reads only, whatever a command text asks for.
    auto* conn = static_cast<PGconn*>(h.pg);
    {
        PGcancel* cancel = PQgetCancel(conn);
        const std::lock_guard lock(m_cancelMutex);
        h.cancel = cancel;
    }
    const QByteArray setup = QByteArrayLiteral("SET default_transaction_read_only = on; "
                                               "SET cursor_tuple_fraction = 1; "
                                               "SET statement_timeout = ") +
                             QByteArray::number(statementTimeoutMs.load());
    Result set(PQexec(conn, setup.constData()));
    if (set.status() != PGRES_COMMAND_OK) {
        const QString reason = serverText(PQerrorMessage(conn));
        closeHandle(h);
        throw EDatabaseError(
            QStringLiteral("Не удалось настроить соединение: %1: %2").arg(where(which), reason));
    }
    // Sorts and hashes of a hostile command text could otherwise fill the central server's disk.
    // Only a superuser, or a role granted the parameter, may set the limit; for the others the
    // administrator sets it on the role, and any limit found there is the administrator's choice.
    const QByteArray limit = QByteArrayLiteral("SET temp_file_limit = ") +
                             QByteArray::number(temporaryKilobytesLimit.load());
    Result limited(PQexec(conn, limit.constData()));
    if (limited.status() != PGRES_COMMAND_OK) {
        const QString reason = serverText(PQerrorMessage(conn));
        Result current(PQexec(conn, "SELECT current_setting('temp_file_limit'), current_user"));
        const bool known = current.status() == PGRES_TUPLES_OK && PQntuples(current.res) == 1;
        if (!known || qstrcmp(PQgetvalue(current.res, 0, 0), "-1") == 0) {
            const QString role =
                known ? QString::fromUtf8(PQgetvalue(current.res, 0, 1)) : QStringLiteral("РОЛЬ");
            closeHandle(h);
            throw EDatabaseError(
                QStringLiteral("Сервер PostgreSQL «%1» не дал ограничить временные файлы "
                               "запросов (%2), а у роли «%3» ограничения нет: %4 не открыта. "
                               "Администратору сервера: ALTER ROLE %5 SET temp_file_limit = "
                               "'1GB'")
                    .arg(m_computerName, reason, role, where(which),
                         PostgresSchema::quotedName(role)));
        }
    }
    return h;
}

bool TPostgresStatServer::begin(Handle& h, QString& reason, bool& timedOut) {
    auto* conn = static_cast<PGconn*>(h.pg);
    Result res(exchange(conn, "BEGIN TRANSACTION READ ONLY", 0, timedOut, m_wakeFd, m_cancelled));
    if (res.status() == PGRES_COMMAND_OK)
        return true;
    reason = serverText(PQerrorMessage(conn));
    return false;
}

void TPostgresStatServer::raiseNoAnswer(Handle& h, Database which) {
    closeHandle(h);
    throw EDatabaseError(QStringLiteral("Сервер PostgreSQL «%1» не ответил за %2 с: %3 не "
                                        "прочитана, соединение закрыто. Запустите расчёт снова, "
                                        "когда сервер будет отвечать")
                             .arg(m_computerName, seconds(clientWaitMs()), where(which)));
}

void TPostgresStatServer::raiseCancelled(Handle& h) {
    // The statement may still be under way (a stopped backend answers nothing, not even the
    // cancel request): the connection is given up rather than waited for.
    closeHandle(h);
    throw EOperationCancelled();
}

void TPostgresStatServer::cancel() {
    m_cancelled = true;
    if (m_wakeFd >= 0) {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
    }
    const std::lock_guard lock(m_cancelMutex);
    char reason[256];
    for (Handle* h : {&m_goods, &m_fuel})
        if (h->cancel)
            PQcancel(static_cast<PGcancel*>(h->cancel), reason, int(sizeof reason));
}

void TPostgresStatServer::resetCancel() {
    m_cancelled = false;
    quint64 count = 0;
    if (m_wakeFd >= 0)
        while (::read(m_wakeFd, &count, sizeof count) > 0) {
        }
}

std::shared_ptr<const TDataPacket>
TPostgresStatServer::provide(const QString& providerName, const QString& commandText,
                             const QHash<QString, TFieldType>& declaredTypes) {
    if (QThread::currentThread() != m_owner)
        throw EDatabaseError(QStringLiteral("Соединение с сервером статистики открыто другим "
                                            "потоком; из этого потока его использовать нельзя"));
    if (m_cancelled.load())
        throw EOperationCancelled();
    const StationProviders::Provider& provider = StationProviders::find(providerName);
    return run(provider.database, StationProviders::statement(provider, providerName, commandText),
               declaredTypes);
}

std::shared_ptr<const TDataPacket>
TPostgresStatServer::run(Database which, const QString& sql,
                         const QHash<QString, TFieldType>& declaredTypes) {
    Handle* h = &handle(which);
    QString reason;
    bool timedOut = false;
    if (!begin(*h, reason, timedOut)) {
        if (m_cancelled.load())
            raiseCancelled(*h);
        if (timedOut)
            raiseNoAnswer(*h, which);
        if (PQstatus(static_cast<PGconn*>(h->pg)) == CONNECTION_OK)
            throw EDatabaseError(QStringLiteral("Сервер PostgreSQL «%1» не начал чтение: %2: %3")
                                     .arg(m_computerName, where(which), reason));
        // The server went away since the last request, perhaps only for a restart: nothing has
        // run yet, so one new connection is safe to try.
        closeHandle(*h);
        h = &handle(which);
        if (!begin(*h, reason, timedOut)) {
            if (m_cancelled.load())
                raiseCancelled(*h);
            if (timedOut)
                raiseNoAnswer(*h, which);
            closeHandle(*h);
            throw EDatabaseError(QStringLiteral("Связь с сервером PostgreSQL «%1» прервана: %2 "
                                                "недоступна (%3)")
                                     .arg(m_computerName, where(which), reason));
        }
    }
    auto* conn = static_cast<PGconn*>(h->pg);
    Transaction transaction{conn};

    // Classifies a failed step; a lost connection is closed so the next request opens a new one.
    const auto fail = [&](const Result& res) {
        // A cancelled statement ends as cancelled, whether the wait was woken or the server's
        // answer to the cancel request came first.
        if (m_cancelled.load()) {
            transaction.open = false;
            raiseCancelled(*h);
        }
        if (timedOut) {
            transaction.open = false;
            raiseNoAnswer(*h, which);
        }
        const QString state = QString::fromLatin1(PQresultErrorField(res.res, PG_DIAG_SQLSTATE));
        const QString text = serverText(PQerrorMessage(conn));
        if (PQstatus(conn) != CONNECTION_OK || state.startsWith(QLatin1String("08")) ||
            state.startsWith(QLatin1String("57P"))) {
            transaction.open = false;
            closeHandle(*h);
            throw EDatabaseError(QStringLiteral("Связь с сервером PostgreSQL «%1» прервалась во "
                                                "время запроса: %2 (%3). Запустите расчёт снова, "
                                                "когда сервер будет доступен")
                                     .arg(m_computerName, where(which), text));
        }
        if (state == QLatin1String("25006"))
            throw EDatabaseError(QStringLiteral("Сервер статистики только читает данные: запрос, "
                                                "который изменил бы базу, отклонён: %1 (%2)")
                                     .arg(where(which), text));
        if (state == QLatin1String("57014"))
            throw EDatabaseError(QStringLiteral("Запрос не уложился в %1 с и прерван: %2")
                                     .arg(seconds(statementTimeoutMs.load()))
                                     .arg(where(which)));
        if (state == QLatin1String("53400") && mentions(text, {"temp_file_limit"}))
            throw EDatabaseError(
                QStringLiteral("Временные данные запроса превысили %1 МБ; "
                               "запрос прерван: %2")
                    .arg(QString::number(temporaryKilobytesLimit.load() / 1024.0).replace('.', ','))
                    .arg(where(which)));
        throw EDatabaseError(QStringLiteral("Сервер PostgreSQL «%1» отклонил запрос: %2: %3")
                                 .arg(m_computerName, where(which), text));
    };

    // The command text goes to the server unchanged behind the cursor's declaration; the
    // extended protocol refuses a second statement after it.
    const QByteArray declare =
        QByteArrayLiteral("DECLARE torvi_rows NO SCROLL CURSOR FOR ") + sql.toUtf8();
    {
        Result res(exchange(conn, declare.constData(), 0, timedOut, m_wakeFd, m_cancelled));
        if (res.status() != PGRES_COMMAND_OK)
            fail(res);
    }

    static const QByteArray fetch =
        QByteArrayLiteral("FETCH FORWARD ") + QByteArray::number(kBatchRows) + " FROM torvi_rows";
    std::vector<TColumnBuilder> builders;
    std::vector<Oid> types;
    QStringList names;
    qsizetype rows = 0;
    for (bool first = true;; first = false) {
        // Binary results: numbers and time stamps arrive as the server holds them.
        Result res(exchange(conn, fetch.constData(), 1, timedOut, m_wakeFd, m_cancelled));
        if (res.status() != PGRES_TUPLES_OK)
            fail(res);
        const int columns = PQnfields(res.res);
        if (first) {
            builders.reserve(size_t(columns));
            for (int c = 0; c < columns; ++c) {
                const QString name =
                    PostgresSchema::stationSpelling(QString::fromUtf8(PQfname(res.res, c)));
                types.push_back(PQftype(res.res, c));
                names << name;
                if (!supported(types.back()))
                    throw EDatabaseError(
                        QStringLiteral("Столбец «%1» результата имеет тип, "
                                       "который сервер статистики не читает "
                                       "(тип PostgreSQL %2): %3")
                            .arg(name, QString::number(types.back()), where(which)));
                builders.emplace_back(name,
                                      declaredTypes.value(name.toLower(), TFieldType::Unknown));
            }
        }
        const int count = PQntuples(res.res);
        if (count == 0)
            break;
        for (int c = 0; c < columns; ++c) {
            TColumnBuilder& b = builders[size_t(c)];
            const Oid type = types[size_t(c)];
            for (int r = 0; r < count; ++r) {
                if (PQgetisnull(res.res, r, c))
                    b.appendNull();
                else if (!appendValue(b, type, PQgetvalue(res.res, r, c),
                                      PQgetlength(res.res, r, c)))
                    throw EDatabaseError(
                        QStringLiteral("Число в столбце «%1» результата больше "
                                       "любого, с которым считает статистика "
                                       "(строка %2): %3")
                            .arg(names[c], QString::number(rows + r + 1), where(which)));
            }
        }
        rows += count;
        if (count < kBatchRows)
            break;
    }

    auto packet = std::make_shared<TDataPacket>();
    packet->rowCount = rows;
    packet->columns.reserve(builders.size());
    for (TColumnBuilder& b : builders)
        packet->columns.push_back(b.finish());
    return packet;
}
