#include "platform/data/sqlite/EmbeddedStatServer.h"

#include "platform/core/DaraPaths.h"
#include "platform/core/Exceptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QUrl>

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace {

std::atomic<quint64> connectionCounter{0};

// Only reading is authorised. This is what keeps a command text from changing the station's data:
// an INSERT, an ATTACH or a PRAGMA that switches query_only off fails before it runs. Functions
// are allowed by name: those a query over the station's tables may reasonably use. Anything else
// (loading a library, registering a tokenizer, reading the build options, making huge blobs) is
// refused, so a hostile view in a station file cannot reach it either.
int authorize(void*, int action, const char*, const char* function, const char*, const char*) {
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    case SQLITE_FUNCTION: {
        static const char* const allowed[] = {
            "abs", "avg",    "coalesce",  "count",  "date",   "datetime", "glob",   "ifnull",
            "iif", "instr",  "julianday", "length", "like",   "lower",    "ltrim",  "max",
            "min", "nullif", "replace",   "round",  "rtrim",  "strftime", "substr", "substring",
            "sum", "time",   "total",     "trim",   "typeof", "upper"};
        for (const char* name : allowed)
            if (function && qstricmp(function, name) == 0)
                return SQLITE_OK;
        return SQLITE_DENY;
    }
    default:
        return SQLITE_DENY;
    }
}

// ---- Statement limits: a time limit and a bound on temporary storage --------------------------

std::atomic<qint64> statementTimeLimitMs{TEmbeddedStatServer::kStatementTimeLimitMs};
std::atomic<qint64> temporaryBytesLimit{TEmbeddedStatServer::kTemporaryBytesLimit};
// Set by a temporary file that refused to grow, on the thread that ran the statement (SQLite
// sorts and builds its temporary tables on the calling thread).
thread_local bool temporaryLimitHit = false;

// A file of the bounding VFS: ours in front, the real VFS's file right behind it.
struct BoundedFile {
    sqlite3_file base;
    bool temporary;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

sqlite3_file* realOf(sqlite3_file* f) {
    return reinterpret_cast<BoundedFile*>(f)->real();
}

int boundedClose(sqlite3_file* f) {
    return realOf(f)->pMethods->xClose(realOf(f));
}
int boundedRead(sqlite3_file* f, void* buf, int amount, sqlite3_int64 offset) {
    return realOf(f)->pMethods->xRead(realOf(f), buf, amount, offset);
}
int boundedWrite(sqlite3_file* f, const void* buf, int amount, sqlite3_int64 offset) {
    if (reinterpret_cast<BoundedFile*>(f)->temporary &&
        offset + amount > temporaryBytesLimit.load(std::memory_order_relaxed)) {
        temporaryLimitHit = true;
        return SQLITE_FULL;
    }
    return realOf(f)->pMethods->xWrite(realOf(f), buf, amount, offset);
}
int boundedTruncate(sqlite3_file* f, sqlite3_int64 size) {
    return realOf(f)->pMethods->xTruncate(realOf(f), size);
}
int boundedSync(sqlite3_file* f, int flags) {
    return realOf(f)->pMethods->xSync(realOf(f), flags);
}
int boundedFileSize(sqlite3_file* f, sqlite3_int64* size) {
    return realOf(f)->pMethods->xFileSize(realOf(f), size);
}
int boundedLock(sqlite3_file* f, int level) {
    return realOf(f)->pMethods->xLock(realOf(f), level);
}
int boundedUnlock(sqlite3_file* f, int level) {
    return realOf(f)->pMethods->xUnlock(realOf(f), level);
}
int boundedCheckReservedLock(sqlite3_file* f, int* out) {
    return realOf(f)->pMethods->xCheckReservedLock(realOf(f), out);
}
int boundedFileControl(sqlite3_file* f, int op, void* arg) {
    return realOf(f)->pMethods->xFileControl(realOf(f), op, arg);
}
int boundedSectorSize(sqlite3_file* f) {
    return realOf(f)->pMethods->xSectorSize(realOf(f));
}
int boundedDeviceCharacteristics(sqlite3_file* f) {
    return realOf(f)->pMethods->xDeviceCharacteristics(realOf(f));
}

int boundedShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
    return realOf(f)->pMethods->xShmMap(realOf(f), region, size, extend, out);
}
int boundedShmLock(sqlite3_file* f, int offset, int n, int flags) {
    return realOf(f)->pMethods->xShmLock(realOf(f), offset, n, flags);
}
void boundedShmBarrier(sqlite3_file* f) {
    realOf(f)->pMethods->xShmBarrier(realOf(f));
}
int boundedShmUnmap(sqlite3_file* f, int deleteFlag) {
    return realOf(f)->pMethods->xShmUnmap(realOf(f), deleteFlag);
}

// Temporary files get version 1 methods only: without shared memory and memory mapping, SQLite
// reads and writes them through xRead and xWrite, so every byte passes the bound. The station's
// own files (the database, and its -wal and -shm files when the program that keeps it writes in
// WAL mode) get version 2, the shared memory, without which SQLite cannot read a database in WAL
// mode at all. Memory mapping (version 3) stays off: reads go through xRead.
constexpr sqlite3_io_methods boundedMethodsOf(int version) {
    sqlite3_io_methods methods{version,
                               boundedClose,
                               boundedRead,
                               boundedWrite,
                               boundedTruncate,
                               boundedSync,
                               boundedFileSize,
                               boundedLock,
                               boundedUnlock,
                               boundedCheckReservedLock,
                               boundedFileControl,
                               boundedSectorSize,
                               boundedDeviceCharacteristics,
                               nullptr,
                               nullptr,
                               nullptr,
                               nullptr,
                               nullptr,
                               nullptr};
    if (version >= 2) {
        methods.xShmMap = boundedShmMap;
        methods.xShmLock = boundedShmLock;
        methods.xShmBarrier = boundedShmBarrier;
        methods.xShmUnmap = boundedShmUnmap;
    }
    return methods;
}
const sqlite3_io_methods boundedMethods = boundedMethodsOf(1);
const sqlite3_io_methods stationMethods = boundedMethodsOf(2);

sqlite3_vfs boundedVfs;
const char* const kBoundedVfsName = "torvi-bounded-temp";

int boundedOpen(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    auto* root = static_cast<sqlite3_vfs*>(vfs->pAppData);
    auto* bounded = reinterpret_cast<BoundedFile*>(file);
    bounded->temporary = !name || (flags & (SQLITE_OPEN_TEMP_DB | SQLITE_OPEN_TEMP_JOURNAL |
                                            SQLITE_OPEN_TRANSIENT_DB | SQLITE_OPEN_SUBJOURNAL));
    std::memset(bounded->real(), 0, size_t(root->szOsFile));
    const int rc = root->xOpen(root, name, bounded->real(), flags, outFlags);
    const sqlite3_io_methods* real = bounded->real()->pMethods;
    file->pMethods = rc != SQLITE_OK || !real                                     ? nullptr
                     : bounded->temporary || real->iVersion < 2 || !real->xShmMap ? &boundedMethods
                                                                                  : &stationMethods;
    return rc;
}

// The default VFS with every temporary file bounded; the server's connections name it in their
// URI, so nothing else in the process is affected.
void registerBoundedVfs() {
    static std::once_flag once;
    std::call_once(once, [] {
        sqlite3_vfs* root = sqlite3_vfs_find(nullptr);
        boundedVfs = *root;
        boundedVfs.iVersion = qMin(root->iVersion, 3);
        boundedVfs.szOsFile = int(sizeof(BoundedFile)) + root->szOsFile;
        boundedVfs.pNext = nullptr;
        boundedVfs.zName = kBoundedVfsName;
        boundedVfs.pAppData = root;
        boundedVfs.xOpen = boundedOpen;
        sqlite3_vfs_register(&boundedVfs, 0);
    });
}

// SQLite's progress handler: a non-zero answer interrupts the statement.
int checkLimits(void* limits) {
    const auto* l = static_cast<const TEmbeddedStatServer::StatementLimits*>(limits);
    return l->cancelled->load(std::memory_order_relaxed) || l->deadline.hasExpired() ? 1 : 0;
}

// ---- Messages ------------------------------------------------------------------------------

// SQLite's reason in Russian for the causes an operator or administrator can act on; SQLite's
// own words for the rest (syntax errors name the place in the query).
QString sqliteReason(int extendedCode, const QString& message) {
    static const QString noTable = QStringLiteral("no such table: ");
    static const QString noColumn = QStringLiteral("no such column: ");
    switch (extendedCode) {
    case SQLITE_READONLY_ROLLBACK:
    case SQLITE_READONLY_RECOVERY:
    case SQLITE_READONLY_CANTINIT:
        return QStringLiteral("рядом с базой остался журнал незавершённой записи; сервер "
                              "статистики только читает базу и восстановить её не может, это "
                              "сделает программа, которая ведёт базу");
    default:
        break;
    }
    switch (extendedCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("база данных заблокирована другой программой");
    case SQLITE_CORRUPT:
        return QStringLiteral("файл базы данных повреждён");
    case SQLITE_NOTADB:
        return QStringLiteral("файл не является базой данных");
    case SQLITE_CANTOPEN:
        return QStringLiteral("не удалось открыть файл базы данных (нет доступа, файл не найден "
                              "или открыто слишком много файлов)");
    case SQLITE_PERM:
        return QStringLiteral("отказано в доступе");
    case SQLITE_READONLY:
        return QStringLiteral("база данных доступна только для чтения");
    case SQLITE_FULL:
        return QStringLiteral("недостаточно места на диске");
    case SQLITE_IOERR:
        return QStringLiteral("ошибка ввода-вывода при чтении файла базы данных");
    case SQLITE_NOMEM:
        return QStringLiteral("недостаточно памяти");
    case SQLITE_ERROR:
        if (message.startsWith(noTable))
            return QStringLiteral("нет таблицы «%1»").arg(message.mid(noTable.size()));
        if (message.startsWith(noColumn))
            return QStringLiteral("нет столбца «%1»").arg(message.mid(noColumn.size()));
        break;
    default:
        break;
    }
    return message;
}

// A database that its program writes in WAL mode can only be read beside its -wal and -shm files,
// which a reader creates when they are missing; in a folder closed to the statistics, or with
// those files closed to it, SQLite's own message speaks of access or missing files only. Empty
// when the database is not in WAL mode or failed for another cause.
QString walFolderProblem(const QString& file, int code) {
    code &= 0xff;
    if (code != SQLITE_CANTOPEN && code != SQLITE_READONLY && code != SQLITE_PERM &&
        code != SQLITE_IOERR)
        return {};
    QFile f(file);
    // Bytes 18 and 19 of the header: the file format versions, 2 for WAL.
    const QByteArray header = f.open(QIODevice::ReadOnly) ? f.read(20) : QByteArray();
    if (header.size() < 20 || header.at(18) != 2 || header.at(19) != 2)
        return {};
    const QString folder = QFileInfo(file).absolutePath();
    return QStringLiteral("база данных ведётся в режиме журнала WAL; чтобы читать её, серверу "
                          "статистики нужны доступные ему файлы «%1-wal» и «%1-shm» рядом с ней "
                          "или право создать их в папке «%2». Дайте это право или откройте базу "
                          "программой, которая её ведёт")
        .arg(QFileInfo(file).fileName(), folder);
}

QString errorText(sqlite3* db) {
    return sqliteReason(sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)));
}

// Why a running statement stopped, when it was one of the server's own limits.
QString limitReason(int rc) {
    if (rc == SQLITE_INTERRUPT)
        return QStringLiteral("запрос выполнялся дольше %1 с и прерван")
            .arg(QString::number(statementTimeLimitMs.load() / 1000.0).replace('.', ','));
    if ((rc & 0xff) == SQLITE_FULL && temporaryLimitHit)
        return QStringLiteral("временные данные запроса превысили %1 МБ; запрос прерван")
            .arg(QString::number(temporaryBytesLimit.load() / double(1 << 20)).replace('.', ','));
    return {};
}

struct StatementGuard {
    sqlite3_stmt* stmt = nullptr;
    ~StatementGuard() { sqlite3_finalize(stmt); }
};

bool onlyBlanks(const char* text) {
    for (; *text; ++text) {
        if (!QChar::isSpace(uchar(*text)) && *text != ';')
            return false;
    }
    return true;
}

} // namespace

void TEmbeddedStatServer::setStatementLimits(qint64 timeLimitMs, qint64 temporaryBytes) {
    statementTimeLimitMs = timeLimitMs;
    temporaryBytesLimit = temporaryBytes;
}

TEmbeddedStatServer::TEmbeddedStatServer()
    : m_owner(QThread::currentThread()) {}

TEmbeddedStatServer::~TEmbeddedStatServer() {
    // Normally the owning thread closes its connection itself. When a connection is closed from
    // elsewhere, its owner has finished with it (no connection is used by two threads at once),
    // and closing an idle SQLite handle from another thread is safe.
    closeHandle(m_goods);
    closeHandle(m_fuel);
}

void TEmbeddedStatServer::setStatParameter(int index, const QString& value) {
    // The next request opens the database in its new place.
    if (m_parameters.set(index, value))
        closeHandle(index == 1 ? m_goods : m_fuel);
}

QString TEmbeddedStatServer::statParameter(int index) const {
    return m_parameters.get(index);
}

void TEmbeddedStatServer::closeHandle(Handle& h) {
    if (h.connectionName.isEmpty())
        return;
    {
        const std::lock_guard lock(m_cancelMutex);
        h.interruptible = nullptr;
    }
    h.sqlite = nullptr;
    h.db.close();
    h.db = QSqlDatabase();
    QSqlDatabase::removeDatabase(h.connectionName);
    h.connectionName.clear();
}

TEmbeddedStatServer::Handle& TEmbeddedStatServer::handle(Database which) {
    Handle& h = which == Database::Fuel ? m_fuel : m_goods;
    if (h.sqlite)
        return h;
    const int number = int(which);
    const QString word = StationProviders::databaseWord(which);
    const QString parameter = m_parameters[which];
    if (parameter.trimmed().isEmpty())
        throw EDatabaseError(
            QStringLiteral("Серверу статистики не передана папка базы данных %1 (параметр %2)")
                .arg(word, QString::number(number)));
    const QString folder = mapDaraPath(parameter);
    if (!QFileInfo(folder).isDir())
        throw EDatabaseError(QStringLiteral("Папка базы данных %1 не найдена: %2")
                                 .arg(word, ShortenedForMessage(QDir::toNativeSeparators(folder))));
    const QString file =
        QDir(folder).filePath(which == Database::Fuel ? fuelFileName() : goodsFileName());
    if (!QFileInfo(file).isFile())
        throw EDatabaseError(QStringLiteral("Файл базы данных %1 не найден: %2")
                                 .arg(word, ShortenedForMessage(file)));

    h.filePath = file;
    h.connectionName =
        QStringLiteral("torvi-stat-%1-%2")
            .arg(connectionCounter.fetch_add(1))
            .arg(which == Database::Fuel ? QStringLiteral("fuel") : QStringLiteral("goods"));
    h.db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), h.connectionName);
    if (!h.db.isValid()) {
        closeHandle(h);
        throw EDatabaseError(QStringLiteral("Драйвер SQLite для Qt (QSQLITE) не установлен; база "
                                            "данных %1 «%2» недоступна")
                                 .arg(word, file));
    }
    registerBoundedVfs();
    h.db.setDatabaseName(QString::fromLatin1(QUrl::fromLocalFile(file).toEncoded()) +
                         QStringLiteral("?vfs=") + QLatin1String(kBoundedVfsName));
    h.db.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
    if (!h.db.open()) {
        const QSqlError error = h.db.lastError();
        const int code = error.nativeErrorCode().toInt();
        const QString wal = walFolderProblem(file, code);
        const QString reason = wal.isEmpty() ? sqliteReason(code, error.driverText()) : wal;
        closeHandle(h);
        throw EDatabaseError(
            QStringLiteral("Не удалось открыть базу данных %1 «%2»: %3").arg(word, file, reason));
    }
    const QVariant native = h.db.driver()->handle();
    if (native.isValid() && qstrcmp(native.typeName(), "sqlite3*") == 0)
        h.sqlite = *static_cast<sqlite3* const*>(native.constData());
    if (!h.sqlite) {
        closeHandle(h);
        throw EDatabaseError(
            QStringLiteral("Драйвер QSQLITE не дал доступа к базе данных «%1»").arg(file));
    }
    auto* db = static_cast<sqlite3*>(h.sqlite);
    char* message = nullptr;
    // Temporary tables and sorts in files, where the bounding VFS sees them, never unbounded in
    // memory.
    int rc = sqlite3_exec(db, "PRAGMA query_only = ON; PRAGMA temp_store = FILE", nullptr, nullptr,
                          &message);
    sqlite3_free(message);
    message = nullptr;
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const QString wal = walFolderProblem(file, sqlite3_extended_errcode(db));
        const QString reason = wal.isEmpty() ? errorText(db) : wal;
        sqlite3_free(message);
        closeHandle(h);
        if (rc == SQLITE_NOTADB)
            throw EDatabaseError(QStringLiteral("Файл «%1» не является базой данных %2: %3")
                                     .arg(file, word, reason));
        throw EDatabaseError(
            QStringLiteral("Не удалось прочитать базу данных %1 «%2»: %3").arg(word, file, reason));
    }
    h.limits.cancelled = &m_cancelled;
    sqlite3_progress_handler(db, 1000, checkLimits, &h.limits);
    {
        const std::lock_guard lock(m_cancelMutex);
        h.interruptible = db;
    }
    sqlite3_set_authorizer(db, authorize, nullptr);
    return h;
}

void TEmbeddedStatServer::cancel() {
    m_cancelled = true;
    const std::lock_guard lock(m_cancelMutex);
    for (const Handle* h : {&m_goods, &m_fuel})
        if (h->interruptible)
            sqlite3_interrupt(static_cast<sqlite3*>(h->interruptible));
}

void TEmbeddedStatServer::resetCancel() {
    m_cancelled = false;
}

std::shared_ptr<const TDataPacket>
TEmbeddedStatServer::provide(const QString& providerName, const QString& commandText,
                             const QHash<QString, TFieldType>& declaredTypes) {
    if (QThread::currentThread() != m_owner)
        throw EDatabaseError(QStringLiteral("Соединение с сервером статистики открыто другим "
                                            "потоком; из этого потока его использовать нельзя"));
    if (m_cancelled.load())
        throw EOperationCancelled();
    const StationProviders::Provider& provider = StationProviders::find(providerName);
    const QString sql = StationProviders::statement(provider, providerName, commandText);
    return run(handle(provider.database), sql, declaredTypes);
}

std::shared_ptr<const TDataPacket>
TEmbeddedStatServer::run(Handle& h, const QString& sql,
                         const QHash<QString, TFieldType>& declaredTypes) {
    auto* db = static_cast<sqlite3*>(h.sqlite);
    h.limits.deadline.setRemainingTime(statementTimeLimitMs.load());
    temporaryLimitHit = false;
    const QByteArray text = sql.toUtf8();
    StatementGuard guard;
    const char* tail = nullptr;
    const int rc =
        sqlite3_prepare_v2(db, text.constData(), int(text.size()) + 1, &guard.stmt, &tail);
    if (rc != SQLITE_OK) {
        if (m_cancelled.load())
            throw EOperationCancelled();
        const QString reason = errorText(db);
        static const QString deniedFunction = QStringLiteral("not authorized to use function: ");
        const QString native = QString::fromUtf8(sqlite3_errmsg(db));
        if (native.startsWith(deniedFunction))
            throw EDatabaseError(QStringLiteral("Сервер статистики не выполняет функцию «%1»: "
                                                "запрос к базе «%2» отклонён")
                                     .arg(native.mid(deniedFunction.size()), h.filePath));
        if (rc == SQLITE_AUTH || reason.startsWith(QLatin1String("not authorized")))
            throw EDatabaseError(QStringLiteral("Сервер статистики только читает данные: запрос, "
                                                "который изменил бы базу «%1», отклонён (%2)")
                                     .arg(h.filePath, reason));
        static const QString noTable = QStringLiteral("no such table: ");
        const QString english = QString::fromUtf8(sqlite3_errmsg(db));
        if (english.startsWith(noTable))
            throw EDatabaseError(QStringLiteral("В базе данных «%1» нет таблицы «%2»")
                                     .arg(h.filePath, english.mid(noTable.size())));
        throw EDatabaseError(QStringLiteral("Сервер статистики отклонил запрос к базе «%1»: %2")
                                 .arg(h.filePath, reason));
    }
    if (!guard.stmt)
        throw EDatabaseError(QStringLiteral("Текст запроса к базе «%1» пуст").arg(h.filePath));
    if (tail && !onlyBlanks(tail))
        throw EDatabaseError(QStringLiteral("Сервер статистики выполняет за раз только один "
                                            "запрос; запрос к базе «%1» отклонён")
                                 .arg(h.filePath));
    if (!sqlite3_stmt_readonly(guard.stmt))
        throw EDatabaseError(QStringLiteral("Сервер статистики только читает данные: запрос, "
                                            "который изменил бы базу «%1», отклонён")
                                 .arg(h.filePath));

    const int columnCount = sqlite3_column_count(guard.stmt);
    std::vector<TColumnBuilder> builders;
    builders.reserve(size_t(columnCount));
    for (int i = 0; i < columnCount; ++i) {
        const QString name = QString::fromUtf8(sqlite3_column_name(guard.stmt, i));
        builders.emplace_back(name, declaredTypes.value(name.toLower(), TFieldType::Unknown));
    }
    auto packet = std::make_shared<TDataPacket>();
    qsizetype rows = 0;
    for (;;) {
        const int step = sqlite3_step(guard.stmt);
        if (step == SQLITE_DONE)
            break;
        if (step != SQLITE_ROW) {
            if (m_cancelled.load())
                throw EOperationCancelled();
            const QString limit = limitReason(sqlite3_extended_errcode(db));
            throw EDatabaseError(
                QStringLiteral("Ошибка сервера статистики при чтении базы «%1»: %2")
                    .arg(h.filePath, limit.isEmpty() ? errorText(db) : limit));
        }
        for (int i = 0; i < columnCount; ++i) {
            TColumnBuilder& b = builders[size_t(i)];
            switch (sqlite3_column_type(guard.stmt, i)) {
            case SQLITE_INTEGER:
                b.appendInteger(sqlite3_column_int64(guard.stmt, i));
                break;
            case SQLITE_FLOAT:
                b.appendFloat(sqlite3_column_double(guard.stmt, i));
                break;
            case SQLITE_TEXT:
            case SQLITE_BLOB: {
                const auto* data = static_cast<const char*>(sqlite3_column_blob(guard.stmt, i));
                const int bytes = sqlite3_column_bytes(guard.stmt, i);
                b.appendText(std::string_view(data ? data : "", size_t(bytes)));
                break;
            }
            default:
                b.appendNull();
                break;
            }
        }
        ++rows;
    }
    packet->rowCount = rows;
    packet->columns.reserve(builders.size());
    for (TColumnBuilder& b : builders)
        packet->columns.push_back(b.finish());
    return packet;
}
