#include "SqliteStationSink.h"

#include "platform/core/Exceptions.h"
#include "platform/data/StationIndexes.h"
#include "platform/data/sqlite/StationSchema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// The temporary file sits beside the target, so the final rename stays within one file system.
QString temporaryName(const QString& target) {
    return target + QStringLiteral(".tmp-%1").arg(::getpid());
}

void replace(const QString& from, const QString& to) {
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw EOSError(QStringLiteral("Не удалось переименовать «%1» в «%2»: %3")
                           .arg(from, to, QString::fromLocal8Bit(std::strerror(errno))));
}

} // namespace

SqliteStationSink::SqliteStationSink(const QString& root, bool force) {
    const QString fuelFolder = root + QStringLiteral("/DB");
    const QString goodsFolder = root + QStringLiteral("/DB/TradeDB");
    m_fuelFile = fuelFolder + QStringLiteral("/fuel.sqlite");
    m_goodsFile = goodsFolder + QStringLiteral("/goods.sqlite");
    for (const QString& file : {m_fuelFile, m_goodsFile}) {
        if (QFileInfo::exists(file) && !force)
            throw EDatabaseError(QStringLiteral("База данных «%1» уже существует. Чтобы заменить "
                                                "её, запустите программу с ключом --force")
                                     .arg(file));
        if (QFileInfo(file).isSymLink())
            throw EOSError(QStringLiteral("«%1» — символическая ссылка; база данных через неё не "
                                          "записывается")
                               .arg(file));
    }
    for (const QString& folder : {fuelFolder, goodsFolder}) {
        if (!QDir().mkpath(folder))
            throw EOSError(QStringLiteral("Не удалось создать папку «%1»").arg(folder));
    }
    m_fuelTemp = temporaryName(m_fuelFile);
    m_goodsTemp = temporaryName(m_goodsFile);
    for (const QString& temp : {m_fuelTemp, m_goodsTemp}) {
        if (QFileInfo(temp).exists() || QFileInfo(temp).isSymLink())
            throw EOSError(QStringLiteral("Временный файл «%1» уже существует; удалите его и "
                                          "повторите")
                               .arg(temp));
    }
}

SqliteStationSink::~SqliteStationSink() {
    close();
    if (!m_committed) {
        QFile::remove(m_fuelTemp);
        QFile::remove(m_goodsTemp);
    }
}

QString SqliteStationSink::name(Database which) const {
    return which == Database::Fuel ? m_fuelFile : m_goodsFile;
}

void SqliteStationSink::exec(const QString& sql) {
    QSqlQuery q(m_db);
    if (!q.exec(sql))
        throw EDatabaseError(QStringLiteral("Ошибка базы данных «%1»: %2 (%3)")
                                 .arg(m_db.databaseName(), q.lastError().text(), sql));
}

void SqliteStationSink::close() {
    if (m_connectionName.isEmpty())
        return;
    m_inserts.clear();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
    m_connectionName.clear();
}

void SqliteStationSink::beginDatabase(Database which) {
    close();
    m_current = which;
    const QString file = which == Database::Fuel ? m_fuelTemp : m_goodsTemp;
    m_connectionName = QStringLiteral("torvi-stationdb-") + file;
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_db.setDatabaseName(file);
    if (!m_db.open())
        throw EDatabaseError(QStringLiteral("Не удалось создать базу данных «%1»: %2")
                                 .arg(file, m_db.lastError().text()));
    exec(QStringLiteral("PRAGMA journal_mode = OFF"));
    exec(QStringLiteral("PRAGMA synchronous = OFF"));
    exec(QStringLiteral("PRAGMA page_size = 8192"));
    StationSchema::execute(m_db, which == Database::Fuel ? StationSchema::fuelStatements()
                                                         : StationSchema::goodsStatements());
    m_db.transaction();
}

int SqliteStationSink::table(const QString& name, const QStringList& columns) {
    QStringList marks;
    for (qsizetype i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    const QString sql =
        QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(name, columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
    auto query = std::make_unique<QSqlQuery>(m_db);
    if (!query->prepare(sql))
        throw EDatabaseError(QStringLiteral("Ошибка базы данных «%1»: %2 (%3)")
                                 .arg(m_db.databaseName(), query->lastError().text(), sql));
    m_inserts.push_back(std::move(query));
    return int(m_inserts.size() - 1);
}

void SqliteStationSink::row(int table, const QVariantList& values) {
    QSqlQuery& q = *m_inserts[size_t(table)];
    for (qsizetype i = 0; i < values.size(); ++i)
        q.bindValue(int(i), values[i]);
    if (!q.exec())
        throw EDatabaseError(QStringLiteral("Ошибка записи в базу данных «%1»: %2")
                                 .arg(m_db.databaseName(), q.lastError().text()));
}

void SqliteStationSink::endDatabase() {
    m_inserts.clear();
    StationSchema::execute(m_db, m_current == Database::Fuel ? StationIndexes::fuel()
                                                             : StationIndexes::goods());
    if (!m_db.commit())
        throw EDatabaseError(QStringLiteral("Не удалось сохранить базу данных «%1»: %2")
                                 .arg(m_db.databaseName(), m_db.lastError().text()));
    // Back to an ordinary journal, so that whoever opens the file later finds it consistent.
    exec(QStringLiteral("PRAGMA journal_mode = DELETE"));
    exec(QStringLiteral("ANALYZE"));
    close();
}

void SqliteStationSink::commit() {
    replace(m_fuelTemp, m_fuelFile);
    replace(m_goodsTemp, m_goodsFile);
    m_committed = true;
}
