#include "platform/data/sqlite/EmbeddedStatServer.h"

#include "platform/core/DaraPaths.h"
#include "platform/core/Exceptions.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>

#include <sqlite3.h>

#include <atomic>

namespace {

std::atomic<quint64> connectionCounter{0};

// Only reading is authorised. This is what keeps a command text from changing the station's data:
// an INSERT, an ATTACH or a PRAGMA that switches query_only off fails before it runs.
int authorize(void*, int action, const char*, const char* function, const char*, const char*) {
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    case SQLITE_FUNCTION:
        // Loading a library would run foreign code inside the plug-in.
        return function && qstricmp(function, "load_extension") == 0 ? SQLITE_DENY : SQLITE_OK;
    default:
        return SQLITE_DENY;
    }
}

QString errorText(sqlite3* db) {
    return QString::fromUtf8(sqlite3_errmsg(db));
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
                .arg(word)
                .arg(number));
    const QString folder = mapDaraPath(parameter);
    if (!QFileInfo(folder).isDir())
        throw EDatabaseError(QStringLiteral("Папка базы данных %1 не найдена: %2")
                                 .arg(word, QDir::toNativeSeparators(folder)));
    const QString file =
        QDir(folder).filePath(which == Database::Fuel ? fuelFileName() : goodsFileName());
    if (!QFileInfo(file).isFile())
        throw EDatabaseError(QStringLiteral("Файл базы данных %1 не найден: %2").arg(word, file));

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
    h.db.setDatabaseName(file);
    h.db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
    if (!h.db.open()) {
        const QString reason = h.db.lastError().text();
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
    int rc = sqlite3_exec(db, "PRAGMA query_only = ON", nullptr, nullptr, &message);
    sqlite3_free(message);
    message = nullptr;
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const QString reason = message ? QString::fromUtf8(message) : errorText(db);
        sqlite3_free(message);
        closeHandle(h);
        if (rc == SQLITE_NOTADB)
            throw EDatabaseError(QStringLiteral("Файл «%1» не является базой данных %2: %3")
                                     .arg(file, word, reason));
        throw EDatabaseError(
            QStringLiteral("Не удалось прочитать базу данных %1 «%2»: %3").arg(word, file, reason));
    }
    sqlite3_set_authorizer(db, authorize, nullptr);
    return h;
}

std::shared_ptr<const TDataPacket>
TEmbeddedStatServer::provide(const QString& providerName, const QString& commandText,
                             const QHash<QString, TFieldType>& declaredTypes) {
    if (QThread::currentThread() != m_owner)
        throw EDatabaseError(QStringLiteral("Соединение с сервером статистики открыто другим "
                                            "потоком; из этого потока его использовать нельзя"));
    const StationProviders::Provider& provider = StationProviders::find(providerName);
    const QString sql = StationProviders::statement(provider, providerName, commandText);
    return run(handle(provider.database), sql, declaredTypes);
}

std::shared_ptr<const TDataPacket>
TEmbeddedStatServer::run(Handle& h, const QString& sql,
                         const QHash<QString, TFieldType>& declaredTypes) {
    auto* db = static_cast<sqlite3*>(h.sqlite);
    const QByteArray text = sql.toUtf8();
    StatementGuard guard;
    const char* tail = nullptr;
    const int rc =
        sqlite3_prepare_v2(db, text.constData(), int(text.size()) + 1, &guard.stmt, &tail);
    if (rc != SQLITE_OK) {
        const QString reason = errorText(db);
        if (rc == SQLITE_AUTH || reason.startsWith(QLatin1String("not authorized")))
            throw EDatabaseError(QStringLiteral("Сервер статистики только читает данные: запрос, "
                                                "который изменил бы базу «%1», отклонён (%2)")
                                     .arg(h.filePath, reason));
        static const QString noTable = QStringLiteral("no such table: ");
        if (reason.startsWith(noTable))
            throw EDatabaseError(QStringLiteral("В базе данных «%1» нет таблицы «%2»")
                                     .arg(h.filePath, reason.mid(noTable.size())));
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
        if (step != SQLITE_ROW)
            throw EDatabaseError(
                QStringLiteral("Ошибка сервера статистики при чтении базы «%1»: %2")
                    .arg(h.filePath, errorText(db)));
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
