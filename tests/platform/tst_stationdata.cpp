#include "common/ChildProcess.h"
#include "common/Errors.h"
#include "common/StationFixture.h"
#include "common/TestFiles.h"

#include "platform/data/ClientDataSet.h"
#include "platform/data/DCOMConnection.h"
#include "platform/data/DataSetModel.h"
#include "platform/data/postgres/ChainCatalogue.h"
#include "platform/data/postgres/PostgresStatServer.h"
#include "platform/data/sqlite/EmbeddedStatServer.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <sys/stat.h>

#include <csignal>

namespace {

// Copies the file and the journal of a write left open into `copyTo`, then closes, which rolls
// the write back: the copy's journal is then hot, and the server, which only reads, cannot roll it
// back.
void leaveHotJournal(const QString& file, const QString& copyTo) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), file);
        db.setDatabaseName(file);
        QVERIFY(db.open());
        QSqlQuery query(db);
        // Without syncing, the journal's header is complete at once, not at the commit.
        for (const char* statement :
             {"PRAGMA synchronous = OFF", "BEGIN", "UPDATE LogTran SET Liter = 0"})
            QVERIFY2(query.exec(QString::fromLatin1(statement)),
                     qPrintable(query.lastError().text()));
        QVERIFY(QDir().mkpath(copyTo) && QFile::copy(file, copyTo + "/fuel.sqlite") &&
                QFile::copy(file + "-journal", copyTo + "/fuel.sqlite-journal"));
    }
    QSqlDatabase::removeDatabase(file);
}

// Overwrites everything after the first page, where the tables are.
void damage(const QString& file) {
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadWrite));
    const qint64 size = f.size();
    QVERIFY(f.seek(4096));
    f.write(QByteArray(size - 4096, '\xA5'));
}

std::unique_ptr<TStatServer> serverFor(const StationFixture& station) {
    auto server = chooseStatServer(station.computerName());
    server->setStatParameter(1, station.goodsParameter());
    server->setStatParameter(2, station.fuelParameter());
    return server;
}

QString cell(const TDataColumn& c, qsizetype row) {
    if (c.isNull(row))
        return QStringLiteral("NULL");
    switch (c.storage) {
    case TDataColumn::Storage::Integer:
        return QString::number(c.ints[size_t(row)]);
    case TDataColumn::Storage::Text:
        return c.dictionary[c.textIds[size_t(row)]];
    default:
        return QString::number(c.doubles[size_t(row)], 'g', 17);
    }
}

// Everything a data set sees of a packet: names, kinds and every value.
QStringList dump(const TDataPacket& packet) {
    QStringList out;
    for (const TDataColumn& c : packet.columns) {
        QString line = c.name + QLatin1Char(':') + QString::number(int(c.storage));
        for (qsizetype row = 0; row < packet.rowCount; ++row)
            line += QLatin1Char('|') + cell(c, row);
        out << line;
    }
    return out;
}

// The fingerprint of the fuel database that a write would change.
QStringList fuelFingerprint(TStatServer& server) {
    return dump(*server.provide(
        QStringLiteral("dspLogtran"),
        QStringLiteral("SELECT (SELECT count(*) FROM LogTran) AS n, (SELECT sum(Liter) FROM "
                       "LogTran) AS l, (SELECT count(*) FROM GSM) AS g"),
        {}));
}

// A cluster of the test's own, which it may stop and start.
class OwnCluster {
public:
    // Below the system's ephemeral ports, and away from the fixed ones of other clusters that
    // may run on a shared machine.
    // `offset` sets apart the clusters of one test, a primary and its standby.
    explicit OwnCluster(int offset = 0)
        : m_ctl(qEnvironmentVariable("TORVI_TEST_PGCTL"))
        , m_port(10000 + int((QCoreApplication::applicationPid() + offset) % 20000)) {}
    ~OwnCluster() { run(QStringLiteral("stop")); }
    bool available() const { return !m_ctl.isEmpty() && m_port > 1 && m_dir.isValid(); }
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QByteArray log() const { return readBytes(m_dir.filePath(QStringLiteral("server.log"))); }
    bool run(const QString& action) {
        if (!available())
            return false;
        return QProcess::execute(QStringLiteral("bash"),
                                 {m_ctl, action, m_dir.path(), QString::number(m_port)}) == 0;
    }
    // Becomes a streaming standby of the running primary and starts.
    bool runStandbyOf(const OwnCluster& primary) {
        return available() &&
               QProcess::execute(QStringLiteral("bash"),
                                 {m_ctl, QStringLiteral("standby"), primary.m_dir.path(),
                                  m_dir.path(), QString::number(m_port)}) == 0;
    }

private:
    QTemporaryDir m_dir;
    QString m_ctl;
    int m_port = 0;
};

} // namespace

// The statistics server over the station's files, through a connection and the data sets as the
// windows use them (filters, fields, order, clones, the grid's model), also over stations as a
// broken disk or a hostile hand leaves them. What the fuel and goods statements answer is checked
// by the extractors' runs. In its PostgreSQL variant the station is on that server: there the rows
// it gives are the embedded server's, no command text changes anything, and each failure reads as
// the operator needs it.
class TestStationData : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_station.isValid(), qPrintable(m_station.error())); }
    void init() {
        m_connection = std::make_unique<TDCOMConnection>(chooseStatServer);
        m_station.attach(*m_connection);
        m_set = std::make_unique<TClientDataSet>(QStringLiteral("cdsTest"));
        m_set->setRemoteServer(m_connection.get());
        m_set->setProviderName(QStringLiteral("dspLogtran"));
        m_set->setCommandText(QStringLiteral("SELECT * FROM LogTran ORDER BY ID_LogTran"));
    }
    void cleanup() {
        m_set.reset();
        m_connection.reset();
        TEmbeddedStatServer::setStatementLimits(TEmbeddedStatServer::kStatementTimeLimitMs,
                                                TEmbeddedStatServer::kTemporaryBytesLimit);
        TPostgresStatServer::setStatementLimits(TPostgresStatServer::kStatementTimeoutSeconds *
                                                    1000,
                                                TPostgresStatServer::kTemporaryKilobytesLimit);
    }

    void fixedProviders_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QStringList>("values");
        // clang-format off
        QTest::newRow("grades in the station's order") << "dspGSM" << "GsmName"
            << QStringList{"АИ-92", "АИ-95", "ДТ", "АИ-95 'Премиум'"};
        QTest::newRow("shifts") << "dspSmSilo" << "SmNum"
            << QStringList{"5", "11", "110", "116", "117", "119", "120"};
        QTest::newRow("categories, the empty name too") << "dspCategory" << "Name"
            << QStringList{"Напитки", "Снеки", "", "НАПИТКИ"};
        QTest::newRow("goods") << "dspGoods" << "Name"
            << QStringList{"Вода", "Сок O'Key", "Чипсы", ""};
        // clang-format on
    }
    void fixedProviders() {
        QFETCH(QString, provider);
        QFETCH(QString, column);
        TDCOMConnection connection{chooseStatServer};
        m_station.attach(connection);
        TClientDataSet set(provider);
        set.setRemoteServer(&connection);
        set.setProviderName(provider);
        // A command text does not change what a fixed provider answers.
        set.setCommandText(QStringLiteral("DELETE FROM LogTran"));
        set.open();
        QStringList got;
        for (set.first(); !set.eof(); set.next())
            got << set.fieldByName(column).asString();
        QTEST(got, "values");
    }

    // No command text changes the station, whichever server holds it, and the same connection
    // reads on afterwards.
    void commandThatWrites_data() {
        QTest::addColumn<QString>("sql");
        const QString other = m_station.root() + QStringLiteral("/planted.sqlite");
        // clang-format off
        QTest::newRow("insert")
            << "INSERT INTO LogTran (Data, GsmName, Liter, Summa) VALUES "
               "('2009-08-24 01:00:00.000', 'АИ-92', 1, 1)";
        QTest::newRow("update") << "UPDATE LogTran SET Liter = 0";
        QTest::newRow("drop") << "DROP TABLE GSM";
        QTest::newRow("second statement") << "SELECT 1; DELETE FROM LogTran";
        if (StationFixture::kindFromEnvironment() == StationServerKind::Postgres) {
            QTest::newRow("commit first") << "SELECT 1; COMMIT; DELETE FROM LogTran";
            QTest::newRow("delete in WITH")
                << "WITH d AS (DELETE FROM LogTran RETURNING ID_LogTran) SELECT * FROM d";
            QTest::newRow("row locks") << "SELECT * FROM LogTran FOR UPDATE";
            QTest::newRow("table from a query") << "SELECT * INTO Planted FROM LogTran";
            return;
        }
        QTest::newRow("attach") << "ATTACH DATABASE '" + other + "' AS planted";
        QTest::newRow("pragma") << "PRAGMA query_only = OFF";
        QTest::newRow("delete in a with") << "WITH x AS (SELECT 1) DELETE FROM LogTran";
        QTest::newRow("temporary table") << "CREATE TEMP TABLE t AS SELECT * FROM LogTran";
        QTest::newRow("load a library") << "SELECT load_extension('" + other + "')";
        // clang-format on
    }
    void commandThatWrites() {
        QFETCH(QString, sql);
        // Every byte of the file; on the server what a write would change.
        const auto state = [this] {
            return m_station.computerName().isEmpty()
                       ? QStringList{QString::fromLatin1(fileHash(m_station.fuelFile()).toHex())}
                       : fuelFingerprint(*serverFor(m_station));
        };
        const QStringList before = state();
        TDCOMConnection connection{chooseStatServer};
        m_station.attach(connection);
        TClientDataSet set(QStringLiteral("cdsLogtran"));
        set.setRemoteServer(&connection);
        set.setProviderName(QStringLiteral("dspLogtran"));
        set.setCommandText(sql);
        const QString message = errorOf<EDatabaseError>([&] { set.open(); });
        QVERIFY2(message.contains(QStringLiteral("отклон")), qPrintable(message));
        QVERIFY(!set.active());
        set.setCommandText(QStringLiteral("SELECT * FROM LogTran"));
        set.open();
        QCOMPARE(set.recordCount(), 10);
        connection.close();
        QCOMPARE(state(), before);
        QVERIFY(!QFile::exists(m_station.root() + QStringLiteral("/planted.sqlite")));
    }

    // Every failure, of the operator's input or of a station that a broken disk or a hostile hand
    // left, ends the open with a Russian message naming its cause. Each row spoils a station of its
    // own first: "fuel:<folder>" (under the station unless absolute), "goods:" without a folder,
    // "computer:<name>", "sql:<statements>" run on the fuel file, "damage" or "hot journal".
    void errors_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("field");    // read as a 64-bit integer after the open
        QTest::addColumn<QString>("expected"); // <root> is the station's folder
        const QString select = QStringLiteral("SELECT * FROM LogTran");
        const QString view = QStringLiteral("sql:DROP TABLE LogTran; CREATE VIEW LogTran AS ");
        const QString endless = QStringLiteral("WITH RECURSIVE r(x) AS (SELECT 1 UNION%1 SELECT x "
                                               "+ 1 FROM r) SELECT x AS Data FROM r WHERE x < 0");
        // clang-format off
        QTest::newRow("remote computer") << "computer:station-2" << "dspLogtran" << select << ""
            << "компьютере «station-2»";
        QTest::newRow("fuel folder missing") << "fuel:nowhere" << "dspLogtran" << select << ""
            << "Папка базы данных топлива не найдена: <root>/nowhere";
        QTest::newRow("fuel file missing") << "fuel:empty" << "dspLogtran" << select << ""
            << "Файл базы данных топлива не найден: <root>/empty/fuel.sqlite";
        QTest::newRow("not a database") << "fuel:broken" << "dspGSM" << "" << ""
            << "«<root>/broken/fuel.sqlite» не является базой данных";
        QTest::newRow("goods folder not given") << "goods:" << "dspGoods" << "" << ""
            << "не передана папка базы данных товаров";
        QTest::newRow("missing table") << "" << "dspLogtran" << "SELECT * FROM Fillings" << ""
            << "нет таблицы «Fillings»";
        QTest::newRow("rejected sql") << "" << "dspLogtran" << "SELEC * FROM LogTran" << ""
            << "отклонил запрос к базе «<root>/DB/fuel.sqlite»: near";
        QTest::newRow("missing column") << "" << "dspLogtran" << "SELECT Data2 FROM LogTran" << ""
            << "отклонил запрос к базе «<root>/DB/fuel.sqlite»: нет столбца «Data2»";
        QTest::newRow("no command text") << "" << "dspGoodsStat" << "  " << ""
            << "не задан текст запроса";
        QTest::newRow("unknown provider") << "" << "dspNothing" << select << ""
            << "нет поставщика данных «dspNothing»";
        QTest::newRow("field not in the result") << "" << "dspLogtran" << select << "Litres"
            << "Поле «Litres» не найдено в наборе данных test";
        QTest::newRow("endless view") << view + endless.arg(" ALL") << "dspLogtran" << select << ""
            << "запрос выполнялся дольше 0,3 с и прерван";
        QTest::newRow("view filling the disk") << view + endless.arg("") << "dspLogtran" << select
            << "" << "временные данные запроса превысили 1 МБ; запрос прерван";
        QTest::newRow("tokenizer function") << "" << "dspLogtran"
            << "SELECT fts3_tokenizer('simple') AS Data" << ""
            << "не выполняет функцию «fts3_tokenizer»";
        QTest::newRow("build options") << "" << "dspLogtran"
            << "SELECT sqlite_compileoption_get(0) AS Data" << ""
            << "не выполняет функцию «sqlite_compileoption_get»";
        QTest::newRow("function in a view") << view + "SELECT zeroblob(1000000000) AS Data"
            << "dspLogtran" << select << "" << "не выполняет функцию «zeroblob»";
        QTest::newRow("damaged file") << "damage" << "dspLogtran" << select << ""
            << "файл базы данных повреждён";
        QTest::newRow("hot journal") << "hot journal" << "dspLogtran" << select << ""
            << "рядом с базой остался журнал незавершённой записи";
        QTest::newRow("folder name of 1 MB") // shown by its ends
            << "fuel:/nowhere/" + QString(1 << 20, 'x') << "dspLogtran" << select << ""
            << "/nowhere/" + QString(231, 'x') + "…" + QString(60, 'x') + " (всего 1048585 символов)";
        QTest::newRow("huge number in an integer field")
            << "sql:UPDATE LogTran SET Liter = 1e300 WHERE ID_LogTran = 2" << "dspLogtran"
            << "SELECT Liter FROM LogTran WHERE ID_LogTran = 2" << "Liter"
            << "Значение «1e+300» поля «Liter» (набор данных test) не помещается в 64-разрядное "
               "целое число";
        // clang-format on
    }
    void errors() {
        QFETCH(QString, setup);
        QFETCH(QString, field);
        QFETCH(QString, expected);
        StationFixture station(StationServerKind::Embedded);
        QVERIFY2(station.isValid(), qPrintable(station.error()));
        const QString root = station.root(), arg = setup.section(QLatin1Char(':'), 1);
        QString computer, goods = station.goodsFolder(), fuel = station.fuelFolder();
        if (setup.startsWith("computer:")) {
            computer = arg;
        } else if (setup.startsWith("goods:")) {
            goods = arg;
        } else if (setup.startsWith("fuel:")) {
            fuel = arg.startsWith('/') ? arg : root + '/' + arg;
            if (arg == "empty" || arg == "broken")
                QVERIFY(QDir().mkpath(fuel));
            if (arg == "broken")
                QVERIFY(writeBytes(fuel + "/fuel.sqlite", QByteArray(4096, 'x')));
        } else if (setup.startsWith("sql:")) {
            QVERIFY2(station.exec(station.fuelFile(), arg.split(QStringLiteral("; "))),
                     qPrintable(station.error()));
        } else if (setup == "damage") {
            damage(station.fuelFile());
        } else if (setup == "hot journal") {
            leaveHotJournal(station.fuelFile(), fuel = root + "/hot");
        }
        // Only the endless view waits for the time limit; the others must end by their own cause
        // however slow the machine.
        TEmbeddedStatServer::setStatementLimits(
            QByteArray(QTest::currentDataTag()) == "endless view" ? 300 : 60000, 1 << 20);
        TDCOMConnection connection{chooseStatServer};
        station.attach(connection, goods, fuel);
        connection.setComputerName(computer);
        TClientDataSet set(QStringLiteral("test"));
        set.setRemoteServer(&connection);
        QFETCH(QString, provider);
        set.setProviderName(provider);
        QFETCH(QString, sql);
        set.setCommandText(sql);
        QString message = errorOf<EDatabaseError>([&] { set.open(); });
        if (message.isEmpty() && !field.isEmpty())
            message = errorOf([&] { set.fieldByName(field).asLargeInt(); });
        QVERIFY2(message.contains(expected.replace("<root>", root)), qPrintable(message));
        // A remote name never falls back to the local files.
        QVERIFY(computer.isEmpty() || !connection.connected());
    }

    // A station whose program writes in WAL mode is read with what it committed, in the WAL file
    // too; where the WAL's companion files cannot be made, the message says so. The folder is
    // closed to a reader that is nobody when the test runs as root, which no folder stops.
    void walDatabase_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("expected"); // row count, or part of the message
        QTest::newRow("commit still in the WAL file") << "open"
                                                      << "11";
        QTest::newRow("folder closed to the reader")
            << "closed folder"
            << "база данных ведётся в режиме журнала WAL; чтобы читать её, "
               "серверу статистики нужны доступные ему файлы «fuel.sqlite-wal» и ";
    }
    void walDatabase() {
        QFETCH(QString, state);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString folder = dir.filePath("wal"), file = folder + "/fuel.sqlite";
        QVERIFY(QDir().mkdir(folder) && QFile::copy(m_station.fuelFile(), file));
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
        auto rows = [&] {
            TEmbeddedStatServer server;
            server.setStatParameter(2, folder);
            throw EDatabaseError(QString::number(
                server.provide("dspLogtran", "SELECT * FROM LogTran", {})->rowCount));
        };
        QString got;
        {
            QSqlDatabase writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), file);
            writer.setDatabaseName(file);
            QVERIFY(writer.open());
            QSqlQuery query(writer);
            for (const char* statement :
                 {"PRAGMA journal_mode = WAL", "PRAGMA wal_autocheckpoint = 0",
                  "INSERT INTO LogTran (ID_LogTran, Data, GsmName, Liter, Summa) VALUES "
                  "(11, '2009-08-24 13:00:00.000', 'ДТ', 1, 1)"})
                QVERIFY2(query.exec(QString::fromUtf8(statement)),
                         qPrintable(query.lastError().text()));
            if (state == "open" && QFileInfo(file + "-wal").size() > 0)
                got = errorOf(rows);
        }
        QSqlDatabase::removeDatabase(file);
        if (state == "closed folder") {
            QVERIFY(!QFile::exists(file + "-wal"));
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);
            got = inChild(rows).message;
            ::chmod(QFile::encodeName(folder).constData(), 0755);
        }
        QVERIFY2(state == "closed folder" ? got.contains(expected) : got == expected,
                 qPrintable(got));
    }

    void workerThread() {
        int count = -1;
        QString failure;
        QStringList connectionsWhileOpen;
        std::unique_ptr<QThread> thread(QThread::create([&] {
            failure = errorOf([&] {
                TDCOMConnection connection{chooseStatServer};
                m_station.attach(connection);
                TClientDataSet set(QStringLiteral("cdsLogtran"));
                set.setRemoteServer(&connection);
                set.setProviderName(QStringLiteral("dspLogtran"));
                set.setCommandText(QStringLiteral("SELECT * FROM LogTran ORDER BY Data"));
                set.open();
                count = set.recordCount();
                connectionsWhileOpen = QSqlDatabase::connectionNames();
                connection.close();
            });
        }));
        thread->start();
        QVERIFY(thread->wait(60000));
        QCOMPARE(failure, QString());
        QCOMPARE(count, 10);
        QCOMPARE(connectionsWhileOpen.size(), 1);
        QVERIFY2(QSqlDatabase::connectionNames().isEmpty(), "closing removes the Qt connection");

        // A connection opened on this thread refuses to serve another one.
        TDCOMConnection connection{chooseStatServer};
        m_station.attach(connection);
        connection.open();
        TClientDataSet set(QStringLiteral("cdsGSM"));
        set.setRemoteServer(&connection);
        set.setProviderName(QStringLiteral("dspGSM"));
        thread.reset(
            QThread::create([&] { failure = errorOf<EDatabaseError>([&] { set.open(); }); }));
        thread->start();
        QVERIFY(thread->wait(60000));
        QVERIFY2(failure.contains(QStringLiteral("другим потоком")), qPrintable(failure));
        set.open();
        QCOMPARE(set.recordCount(), 4);
    }

    void filter_data() {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<bool>("caseInsensitive");
        QTest::addColumn<QList<int>>("ids");
        QTest::addColumn<QString>("error");
        QTest::newRow("one grade")
            << "GsmName in ('АИ-92')" << false << QList<int>{1, 2, 5, 8, 9} << "";
        QTest::newRow("one grade, any case")
            << "GsmName in ('АИ-92')" << true << QList<int>{1, 2, 5, 7, 8, 9} << "";
        QTest::newRow("apostrophe doubled")
            << "GsmName in ('АИ-95 ''Премиум''')" << false << QList<int>{6} << "";
        QTest::newRow("two grades, blanks and field case")
            << "  gsmname IN ( 'ДТ' , 'АИ-95' )  " << false << QList<int>{3, 4, 10} << "";
        QTest::newRow("number equals") << "ID_LogTran = 7" << false << QList<int>{7} << "";
        QTest::newRow("unsupported operator") << "Liter > 10" << false << QList<int>{}
                                              << "Выражение фильтра «Liter > 10» не поддерживается";
        QTest::newRow("two conditions")
            << "GsmName in ('ДТ') and Liter = 10" << false << QList<int>{} << "не поддерживается";
        QTest::newRow("unknown field")
            << "Grade in ('ДТ')" << false << QList<int>{} << "Поле «Grade» из фильтра";
        QTest::newRow("text for a number")
            << "ID_LogTran = 'семь'" << false << QList<int>{} << "нельзя сравнить";
    }
    void filter() {
        QFETCH(QString, expression);
        QFETCH(bool, caseInsensitive);
        QFETCH(QList<int>, ids);
        QFETCH(QString, error);
        TClientDataSet& set = *m_set;
        set.setFilterCaseInsensitive(caseInsensitive);
        set.open();
        const QString message = errorOf<EDatabaseError>([&] {
            set.setFilter(expression);
            set.setFiltered(true);
        });
        QVERIFY2(error.isEmpty() ? message.isEmpty() : message.contains(error),
                 qPrintable(message));
        if (!error.isEmpty())
            ids = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}; // a refused filter leaves every row visible
        QList<int> got;
        for (set.first(); !set.eof(); set.next())
            got << set.fieldByName(QStringLiteral("ID_LogTran")).asInteger();
        QCOMPARE(got, ids);
        QCOMPARE(set.recordCount(), ids.size());
    }

    void filterBeforeOpenAndOff() {
        TClientDataSet& set = *m_set;
        set.setFilter(QStringLiteral("GsmName in ('ДТ')"));
        set.setFiltered(true);
        set.open();
        QCOMPARE(set.recordCount(), 2);
        set.setFilter(QStringLiteral("GsmName in ('АИ-95')"));
        QCOMPARE(set.recordCount(), 1);
        QCOMPARE(set.fieldByName(QStringLiteral("ID_LogTran")).asInteger(), 3);
        set.setFiltered(false);
        QCOMPARE(set.recordCount(), 10);
        QCOMPARE(set.fieldByName(QStringLiteral("ID_LogTran")).asInteger(), 1);
    }

    // The apostrophe's grade is read by the extractors' runs.
    void fieldReads() {
        TClientDataSet& set = *m_set;
        set.setCommandText(QStringLiteral("SELECT Data, Liter, GsmName, NULL AS NoValue, NumTrk "
                                          "FROM LogTran WHERE ID_LogTran = 4"));
        set.open();
        QCOMPARE(set.recordCount(), 1);
        QCOMPARE(qRound64(set.fieldByName(QStringLiteral("data")).asDateTime() * kMsecPerDay),
                 qRound64(encodeDateTime(2009, 8, 24, 23, 59, 59, 999) * kMsecPerDay));
        QCOMPARE(set.fieldByName(QStringLiteral("LITER")).asFloat(), 49.99);
        QCOMPARE(set.fieldByName(QStringLiteral("GsmName")).asString(), QStringLiteral("ДТ"));
        TField& nothing = set.fieldByName(QStringLiteral("NoValue"));
        QVERIFY(nothing.isNull());
        QCOMPARE(nothing.asFloat(), 0.0);
        QCOMPARE(nothing.asString(), QString());
        QCOMPARE(set.fieldByName(QStringLiteral("NumTrk")).asInteger(), 0);
        set.close();
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, nothing.asFloat());
    }

    void defaultOrderAndCloneCursor() {
        TClientDataSet& set = shiftSet();
        set.open();
        QList<int> order;
        for (set.first(); !set.eof(); set.next())
            order << set.fieldByName(QStringLiteral("SmNum")).asInteger();
        QCOMPARE(order, (QList<int>{120, 119, 117, 116, 110, 11, 5}));

        // The clone keeps the default order, whatever the source is filtered by.
        set.setFilter(QStringLiteral("SmNum = 117"));
        set.setFiltered(true);
        TClientDataSet clone(QStringLiteral("Clone"));
        clone.cloneCursor(set, true);
        QCOMPARE(clone.recordCount(), 7);
        QCOMPARE(set.recordCount(), 1);
        QVERIFY(clone.locate(QStringLiteral("SmNum"), 119));
        clone.next();
        QCOMPARE(clone.fieldByName(QStringLiteral("SmNum")).asInteger(), 117);
        QVERIFY(clone.locate(QStringLiteral("SmNum"), 5));
        clone.next();
        QVERIFY(clone.eof());
        QCOMPARE(clone.fieldByName(QStringLiteral("SmNum")).asInteger(), 5);

        // The clone shares the rows: closing the source leaves it readable.
        set.close();
        QCOMPARE(clone.fieldByName(QStringLiteral("Operator")).asString(),
                 QStringLiteral("Петров"));
        clone.first();
        QVERIFY(clone.fieldByName(QStringLiteral("EndTime")).isNull());
        QCOMPARE(clone.fieldByName(QStringLiteral("EndTime")).asDateTime(), 0.0);
        QCOMPARE(clone.fieldByName(QStringLiteral("BegTime")).asDateTime(),
                 encodeDateTime(2009, 8, 25, 8));
    }

    void locate_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("partial");
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("current");
        QTest::newRow("typed 11, first in index order") << "11" << true << true << 119;
        QTest::newRow("typed 2, nothing: cursor stays") << "2" << true << false << 116;
        QTest::newRow("whole key 11") << "11" << false << true << 11;
        QTest::newRow("whole key 118") << "118" << false << false << 116;
    }
    void locate() {
        QFETCH(QString, key);
        QFETCH(bool, partial);
        TClientDataSet& set = shiftSet();
        set.open();
        QVERIFY(set.locate(QStringLiteral("SmNum"), 116));
        QTEST(set.locate(QStringLiteral("smnum"), key,
                         partial ? TClientDataSet::LocatePartialKey
                                 : TClientDataSet::LocateOptions()),
              "found");
        QTEST(set.fieldByName(QStringLiteral("SmNum")).asInteger(), "current");
    }

    void storedDefinitionsMissingFromResult() {
        m_set->setProviderName(QStringLiteral("dspGSM"));
        m_set->setFieldDefs({{QStringLiteral("GsmName"), TFieldType::String, 20, QString(), 0},
                             {QStringLiteral("Colour"), TFieldType::Integer, 0, QString(), 0}});
        const QString message = errorOf<EDatabaseError>([&] { m_set->open(); });
        QVERIFY2(message.contains(QStringLiteral("нет поля «Colour»")), qPrintable(message));
        QVERIFY(!m_set->active());
    }

    void gridModelAndSecondOpen() {
        TClientDataSet& set = shiftSet();
        TDataSetModel model(&set);
        QCOMPARE(model.rowCount(), 0);
        set.open();
        QCOMPARE(model.rowCount(), 7);
        QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("120"));
        QCOMPARE(model.data(model.index(0, 2)).toString(), QString());
        set.setFilter(QStringLiteral("Operator in ('Петров')"));
        set.setFiltered(true);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.data(model.index(2, 0)).toString(), QStringLiteral("5"));

        // Opening an open set changes nothing, not even the connection.
        QVERIFY(set.locate(QStringLiteral("SmNum"), 110));
        m_connection->close();
        set.open();
        QVERIFY(!m_connection->connected());
        QCOMPARE(set.fieldByName(QStringLiteral("SmNum")).asInteger(), 110);
        set.close();
        QCOMPARE(model.rowCount(), 0);
    }

    void sameRowsAsEmbedded_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QString>("sql");
        QTest::newRow("fillings of a day")
            << "dspLogtran"
            << "SELECT * FROM LogTran WHERE Data >= '2009-08-24 00:00:00.000' AND Data < "
               "'2009-08-25 00:00:00.000' AND Liter >= 10 ORDER BY Data, GSMName";
        QTest::newRow("all fillings") << "dspLogtran"
                                      << "SELECT * FROM LogTran ORDER BY ID_LogTran";
        QTest::newRow("sales with missing goods")
            << "dspGoodsStat"
            << "SELECT d.Data, gm.RPrice, gm.\"COUNT\", g.ID_Category FROM Documents d LEFT JOIN "
               "GoodsMotion gm ON (d.ID_doc = gm.ID_doc) LEFT JOIN Batches b ON (gm.ID_p = b.ID_p) "
               "LEFT JOIN Goods g ON (b.ID_Goods = g.ID_Goods) WHERE d.\"TYPE\" = 2 ORDER BY "
               "d.Data, "
               "gm.ID_GoodsMotion";
        for (const char* fixed : {"dspSmSilo", "dspGSM", "dspGoods", "dspCategory"})
            QTest::newRow(fixed) << fixed << QString();
    }
    void sameRowsAsEmbedded() {
        if (StationFixture::kindFromEnvironment() != StationServerKind::Postgres)
            QSKIP("runs in the PostgreSQL variant of this test");
        QFETCH(QString, provider);
        QFETCH(QString, sql);
        const QStringList expected = dump(*serverFor(m_embedded)->provide(provider, sql, {}));
        QVERIFY(!expected.isEmpty());
        QCOMPARE(dump(*serverFor(m_station)->provide(provider, sql, {})), expected);
    }

    void postgresFailures_data() {
        QTest::addColumn<QString>("computer");
        QTest::addColumn<QString>("goods");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QString>("role"); // a plain login role made for the row; empty: PGUSER
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("expected");
        const QString server = m_station.computerName();
        const QString goods = m_station.goodsParameter();
        const QString query = QStringLiteral("SELECT * FROM Documents");
        QTest::newRow("unreachable") << "127.0.0.1:1" << goods << QByteArray("torvi") << "" << query
                                     << QStringList{"не отвечает", "«127.0.0.1:1»"};
        QTest::newRow("login refused")
            << server << goods << QByteArray("wrong") << "" << query
            << QStringList{"отказал в доступе", server, goods, "PGPASSWORD"};
        QTest::newRow("database missing")
            << server << "C:\\DARA\\torvi_no_such_station\\" << QByteArray("torvi") << "" << query
            << QStringList{"нет базы данных товаров «torvi_no_such_station»", server};
        QTest::newRow("statement rejected")
            << server << goods << QByteArray("torvi") << ""
            << "SELECT * FROM NoSuchTable"
            << QStringList{"отклонил запрос", server, goods, "nosuchtable"};
        QTest::newRow("database name of 10 KB")
            << server << QString(10240, 'x') << QByteArray("torvi") << "" << query
            << QStringList{"длиннее 63 байт (10240 байт)", server, "(всего 10240 символов)"};
        QTest::newRow("role without a limit on temporary files")
            << server << goods << QByteArray("torvi") << "torvi_plain_reader" << query
            << QStringList{"не дал ограничить временные файлы",
                           "ALTER ROLE \"torvi_plain_reader\" SET temp_file_limit = '1GB'"};
        QTest::newRow("port out of range")
            << "127.0.0.1:70000" << goods << QByteArray("torvi") << "" << query
            << QStringList{"«127.0.0.1:70000»", "ИМЯ:ПОРТ"};
        QTest::newRow("no server of a list answers")
            << "127.0.0.1:1,127.0.0.1:2" << goods << QByteArray("torvi") << "" << query
            << QStringList{"не отвечает", "«127.0.0.1:1,127.0.0.1:2»"};
        QTest::newRow("empty entry of a list")
            << "127.0.0.1:1,,127.0.0.1:2" << goods << QByteArray("torvi") << "" << query
            << QStringList{"«127.0.0.1:1,,127.0.0.1:2»", "пуст 2-й сервер"};
        QTest::newRow("bad port in a list")
            << server + ",127.0.0.1:0" << goods << QByteArray("torvi") << "" << query
            << QStringList{"«127.0.0.1:0»", server + ",127.0.0.1:0", "ИМЯ:ПОРТ"};
        QStringList seventeen;
        for (int i = 0; i < 17; ++i)
            seventeen << server;
        QTest::newRow("17 servers") << seventeen.join(',') << goods << QByteArray("torvi") << ""
                                    << query << QStringList{"17 серверов, а можно не больше 16"};
    }
    void postgresFailures() {
        if (StationFixture::kindFromEnvironment() != StationServerKind::Postgres)
            QSKIP("runs in the PostgreSQL variant of this test");
        QFETCH(QString, computer);
        QFETCH(QString, goods);
        QFETCH(QByteArray, password);
        QFETCH(QString, role);
        QFETCH(QString, sql);
        QFETCH(QStringList, expected);
        const QByteArray saved = qgetenv("PGPASSWORD"), user = qgetenv("PGUSER");
        if (!role.isEmpty()) {
            QVERIFY2(m_station.exec(m_station.fuelFile(),
                                    {"CREATE ROLE " + role + " LOGIN PASSWORD '" + password + "'"}),
                     qPrintable(m_station.error()));
            qputenv("PGUSER", role.toUtf8());
        }
        qputenv("PGPASSWORD", password);
        const QString message = errorOf<EDatabaseError>([&] {
            auto server = chooseStatServer(computer);
            server->setStatParameter(1, goods);
            server->provide(QStringLiteral("dspGoodsStat"), sql, {});
        });
        qputenv("PGPASSWORD", saved);
        qputenv("PGUSER", user);
        if (!role.isEmpty())
            QVERIFY(m_station.exec(m_station.fuelFile(), {"DROP ROLE " + role}));
        for (const QString& part : expected)
            QVERIFY2(message.contains(part), qPrintable(message));
    }

    void serverGoesAwayAndComesBack() {
        if (StationFixture::kindFromEnvironment() != StationServerKind::Postgres)
            QSKIP("runs in the PostgreSQL variant of this test");
        OwnCluster cluster;
        if (!cluster.available())
            QSKIP("TORVI_TEST_PGCTL is not set: no cluster script to stop and start a server with");
        QVERIFY(cluster.run(QStringLiteral("start")));
        const QByteArray shared = qgetenv("TORVI_TEST_PGHOST");
        qputenv("TORVI_TEST_PGHOST", cluster.server().toUtf8());
        StationFixture station(StationServerKind::Postgres);
        qputenv("TORVI_TEST_PGHOST", shared);
        QVERIFY2(station.isValid(), qPrintable(station.error()));
        auto server = serverFor(station);
        const auto provide = [&](const QString& sql) {
            return server->provide(QStringLiteral("dspLogtran"), sql, {});
        };
        const QString quick = QStringLiteral("SELECT * FROM LogTran");

        // The server ends the session while a statement runs.
        QString message = errorOf<EDatabaseError>(
            [&] { provide("SELECT l.*, pg_terminate_backend(pg_backend_pid()) FROM LogTran l"); });
        QVERIFY2(message.contains(QStringLiteral("прервалась")) &&
                     message.contains(cluster.server()) &&
                     message.contains(station.fuelParameter()),
                 qPrintable(message));
        QVERIFY(cluster.run(QStringLiteral("stop")));

        // While it is down, each request says so, naming the server and the database; once it is
        // back, the same server object reads, also after a restart while it was idle.
        message = errorOf<EDatabaseError>([&] { provide(quick); });
        QVERIFY2(message.contains(cluster.server()) && message.contains(station.fuelParameter()),
                 qPrintable(message));
        QVERIFY(cluster.run(QStringLiteral("start")));
        QCOMPARE(provide(quick)->rowCount, 10);
        QVERIFY(cluster.run(QStringLiteral("stop")) && cluster.run(QStringLiteral("start")));
        QCOMPARE(provide(quick)->rowCount, 10);
        // Reaching the computer logs in nowhere: no failed login to a database named after
        // the role.
        QVERIFY2(!cluster.log().contains("does not exist"), cluster.log().constData());
    }

    // A primary and its streaming standby named as a list: the standby serves while it is up,
    // and either side alone serves when the other is down.
    void standbyServesReads() {
        if (StationFixture::kindFromEnvironment() != StationServerKind::Postgres)
            QSKIP("runs in the PostgreSQL variant of this test");
        OwnCluster primary, standby(1);
        bool serverPrograms = false;
        for (const QString& version : QDir(QStringLiteral("/usr/lib/postgresql")).entryList())
            serverPrograms = serverPrograms || QFileInfo::exists("/usr/lib/postgresql/" + version +
                                                                 "/bin/pg_basebackup");
        if (!primary.available() || !serverPrograms) {
            if (qEnvironmentVariable("CI") == QLatin1String("true"))
                QFAIL("CI=true, but no cluster script (TORVI_TEST_PGCTL) or no PostgreSQL server "
                      "programs to make a primary and a standby with");
            QSKIP("no cluster script (TORVI_TEST_PGCTL) or no PostgreSQL server programs");
        }
        QVERIFY(primary.run(QStringLiteral("start")) && standby.runStandbyOf(primary));
        QProcess load;
        load.start(STATIONDB_PROGRAM,
                   {"--postgres", primary.server(), "--fuel-db", "chain_fuel", "--goods-db",
                    "chain_goods", "--days", "2", "--fillings", "50"});
        QVERIFY2(load.waitForFinished(120000) && load.exitCode() == 0,
                 load.readAllStandardError().constData());
        const auto serverOf = [](const QString& computer, const char* database = "chain_fuel") {
            auto server = chooseStatServer(computer);
            server->setStatParameter(2, QString::fromLatin1(database));
            return server;
        };
        const auto value = [](TStatServer& server, const QString& sql) {
            return cell(server.provide(QStringLiteral("dspLogtran"), sql, {})->columns[0], 0);
        };
        // The standby has the station once it has replayed the primary's log up to the load's end.
        const QString lsn = value(*serverOf(primary.server()), "SELECT pg_current_wal_lsn()::text");
        auto replay = serverOf(standby.server(), "postgres");
        QTRY_VERIFY_WITH_TIMEOUT(value(*replay, "SELECT (pg_last_wal_replay_lsn() >= '" + lsn +
                                                    "'::pg_lsn)::int AS caught_up") == "1",
                                 60000);
        const QString fillings = value(*serverOf(standby.server()), "SELECT count(*) FROM LogTran");
        QVERIFY(fillings.toInt() > 0);

        // "1 <fillings>" read on the standby, "0 <fillings>" on the primary.
        const QString both = primary.server() + ',' + standby.server();
        const QString query = "SELECT pg_is_in_recovery()::int || ' ' || count(*) FROM LogTran";
        QCOMPARE(value(*serverOf(both), query), "1 " + fillings);
        QVERIFY(primary.run(QStringLiteral("stop")));
        auto reader = serverOf(both);
        QCOMPARE(value(*reader, query), "1 " + fillings);
        // The same reader, whose standby goes away between two runs, finds the primary.
        QVERIFY(primary.run(QStringLiteral("start")) && standby.run(QStringLiteral("stop")));
        QCOMPARE(value(*reader, query), "0 " + fillings);
        QCOMPARE(value(*serverOf(both), query), "0 " + fillings);
    }

    // Values as the server holds them, a result of several batches and the session's limits.
    // A row's limits hold for its connection; "stopped backend" stops the server's process of the
    // connection before the request, as a frozen server would be.
    // A cancel from another thread ends the statement under way, or the next request, with the
    // run's own error; after resetCancel the same server reads on.
    void requestCancelled_data() {
        QTest::addColumn<bool>("underWay");
        QTest::newRow("statement under way") << true;
        QTest::newRow("before the request") << false;
    }
    void requestCancelled() {
        QFETCH(bool, underWay);
        // Runs until cancelled, or for minutes until the statement limit.
        const QString endless =
            StationFixture::kindFromEnvironment() == StationServerKind::Postgres
                ? QStringLiteral("SELECT pg_sleep(600)::text AS v")
                : QStringLiteral("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 "
                                 "FROM c) SELECT count(*) AS v FROM c");
        std::atomic<TStatServer*> published{nullptr};
        QString message;
        qsizetype rowsAfter = -1;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            // A server answers only the thread that made it.
            auto server = serverFor(m_station);
            const auto provide = [&](const QString& text) {
                return server->provide(QStringLiteral("dspLogtran"), text, {});
            };
            if (!underWay)
                server->cancel();
            published = server.get();
            try {
                message = errorOf<EOperationCancelled>([&] { provide(endless); });
                server->resetCancel();
                rowsAfter = provide(QStringLiteral("SELECT * FROM LogTran"))->rowCount;
            } catch (const std::exception& e) {
                message = ExceptionMessage(e);
            }
        }));
        worker->start();
        QTRY_VERIFY(published.load() != nullptr);
        if (underWay)
            published.load()->cancel();
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 120000);
        QCOMPARE(message, QStringLiteral("Построение прервано"));
        QCOMPARE(rowsAfter, 10);
    }

    void postgresValues_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<QString>("expected"); // "<rows>: <last row's first cell>" or an error
        // clang-format off
        QTest::newRow("numeric with a fraction")
            << "SELECT round(avg(Liter)::numeric, 3) AS v FROM LogTran" << 60000 << "1: 25.998";
        QTest::newRow("numeric past the double") << "SELECT 1e1000::numeric AS v" << 60000
            << "Число в столбце «v» результата больше любого";
        QTest::newRow("numeric under the double") << "SELECT 1e-1000::numeric AS v" << 60000 << "1: 0";
        QTest::newRow("infinite date") << "SELECT 'infinity'::date AS v" << 60000 << "1: infinity";
        QTest::newRow("time stamp past year 9999")
            << "SELECT '20000-01-02 10:00'::timestamp AS v" << 60000 << "1: 20000-01-02";
        QTest::newRow("three batches")
            << "SELECT g FROM generate_series(1, 45001) g" << 60000 << "45001: 45001";
        QTest::newRow("statement timeout") << "SELECT pg_sleep(60)::text AS v" << 300
            << "Запрос не уложился в 0,3 с и прерван";
        QTest::newRow("temporary files over the limit") << "SELECT g FROM generate_series(1, "
            "1000000) g ORDER BY g DESC" << 60000 << "Временные данные запроса превысили 1 МБ";
        QTest::newRow("stopped backend") << "SELECT 1 AS v" << 500
            << "не ответил за 1 с: база данных топлива";
        // clang-format on
    }
    void postgresValues() {
        if (StationFixture::kindFromEnvironment() != StationServerKind::Postgres)
            QSKIP("runs in the PostgreSQL variant of this test");
        QFETCH(QString, sql);
        QFETCH(int, timeoutMs);
        const bool stopBackend = QByteArray(QTest::currentDataTag()) == "stopped backend";
        QFETCH(QString, expected);
        TPostgresStatServer::setStatementLimits(timeoutMs, 1024);
        auto server = serverFor(m_station);
        const auto provide = [&](const QString& text) {
            return server->provide(QStringLiteral("dspLogtran"), text, {});
        };
        const auto backend = pid_t(provide("SELECT pg_backend_pid() AS p")->columns[0].ints[0]);
        QVERIFY(!stopBackend || ::kill(backend, SIGSTOP) == 0);
        QString got;
        const QString message = errorOf<EDatabaseError>([&] {
            const auto packet = provide(sql);
            got = QString::number(packet->rowCount) + ": " +
                  cell(packet->columns[0], packet->rowCount - 1);
        });
        if (stopBackend)
            QCOMPARE(::kill(backend, SIGCONT), 0);
        QVERIFY2((message.isEmpty() ? got : message).contains(expected), qPrintable(message + got));
        // Whatever ended the request, the same server reads on.
        QCOMPARE(provide("SELECT * FROM LogTran")->rowCount, 10);
    }

    // torvi-stationdb --postgres: the next run removes what a killed one left, and a replacement
    // that fails halfway leaves the old pair as it was.
    void stationReplacedAsAPair() {
        if (StationFixture::kindFromEnvironment() != StationServerKind::Postgres)
            QSKIP("runs in the PostgreSQL variant of this test");
        const QString server = m_station.computerName();
        const QString stem =
            QStringLiteral("torvi_load_%1").arg(QCoreApplication::applicationPid());
        const QString fuel = stem + "_fuel", goods = stem + "_goods";
        auto watcher = serverFor(m_station);
        const auto found = [&](const QString& sql) {
            const auto packet = watcher->provide(QStringLiteral("dspLogtran"), sql, {});
            QStringList values;
            for (qsizetype row = 0; row < packet->rowCount; ++row)
                values << cell(packet->columns[0], row);
            return values;
        };
        const QString ours = "SELECT datname FROM pg_database WHERE datname LIKE '" + stem + "%'";
        // untilCleanUp runs once the failed load drops what it built: the server holds the drop
        // while any of its processes is stopped.
        const auto load = [&](const QStringList& options,
                              const std::function<void()>& untilCleanUp) {
            QProcess tool;
            tool.start(STATIONDB_PROGRAM, QStringList{"--postgres", server, "--fuel-db", fuel,
                                                      "--goods-db", goods, "--days", "2"} +
                                              options);
            for (const QDeadlineTimer end(120000); untilCleanUp && !end.hasExpired();
                 QTest::qWait(50)) {
                if (!found("SELECT 1 FROM pg_stat_activity WHERE application_name = "
                           "'torvi-stationdb' AND query LIKE 'DROP DATABASE%'")
                         .isEmpty())
                    break;
            }
            if (untilCleanUp)
                untilCleanUp();
            tool.waitForFinished(120000);
            return QString::number(tool.exitCode()) + ' ' + tool.readAllStandardError();
        };
        const auto fingerprint = [&] {
            auto reader = chooseStatServer(server);
            reader->setStatParameter(2, fuel);
            return fuelFingerprint(*reader);
        };
        // A load goes to the primary alone: a list of servers is refused before it connects.
        QString result = load({"--postgres", server + ',' + server}, {});
        QVERIFY2(result.startsWith("1 ") && result.contains("только на основной сервер"),
                 qPrintable(result));
        QCOMPARE(found(ours), QStringList());
        // What killed loads left: this version's name and an earlier version's.
        QVERIFY(m_station.exec(m_station.fuelFile(),
                               {PostgresSchema::createDatabase(fuel + "_torvi_new"),
                                PostgresSchema::createDatabase(goods + "_tmp_4242")}));
        // The catalogue lists a station once its pair is in place, and only then.
        const QString name = stem + " №7";
        const auto registered = [&](const QString& station) {
            for (const TChainStation& s : ChainCatalogue::readStations(server))
                if (s.name == station)
                    return QStringList{s.region, s.fuelDb, s.goodsDb};
            return QStringList();
        };
        result = load({"--station", name, "--region", "Юг"}, {});
        QVERIFY2(result.startsWith("0 "), qPrintable(result));
        QCOMPARE(found(ours + " ORDER BY 1"), (QStringList{fuel, goods}));
        QCOMPARE(registered(name), (QStringList{"Юг", fuel, goods}));
        const QStringList first = fingerprint();

        // A reader of the old goods database that cannot be ended: the goods rename fails after
        // the fuel one.
        auto reader = chooseStatServer(server);
        reader->setStatParameter(1, goods);
        const auto pid = pid_t(reader->provide("dspGoodsStat", "SELECT pg_backend_pid() AS p", {})
                                   ->columns[0]
                                   .ints[0]);
        QCOMPARE(::kill(pid, SIGSTOP), 0);
        result = load({"--force", "--seed", "2", "--station", name + " сбой"},
                      [&] { ::kill(pid, SIGCONT); });
        QVERIFY2(result.startsWith("1 ") && result.contains("не заменены") &&
                     result.contains("остались как были"),
                 qPrintable(result));
        QCOMPARE(found(ours + " ORDER BY 1"), (QStringList{fuel, goods}));
        QCOMPARE(fingerprint(), first);
        QCOMPARE(registered(name + " сбой"), QStringList());

        // Registered again: the entry follows the new load.
        result = load({"--force", "--seed", "2", "--station", name}, {});
        QVERIFY2(result.startsWith("0 ") && fingerprint() != first, qPrintable(result));
        QCOMPARE(registered(name), (QStringList{"", fuel, goods}));
        m_station.dropFromChain({name});
        QCOMPARE(found(ours + " ORDER BY 1"), (QStringList{fuel, goods}));
        m_station.exec(m_station.fuelFile(), {"DROP DATABASE " + fuel, "DROP DATABASE " + goods});
    }

private:
    // The shift list as the data module keeps it: stored fields, newest shift first.
    TClientDataSet& shiftSet() {
        m_set->setProviderName(QStringLiteral("dspSmSilo"));
        m_set->setFieldDefs({{"SmNum", TFieldType::Integer, 0, "Номер смены", 0},
                             {"BegTime", TFieldType::DateTime, 0, "Время начала", 0},
                             {"EndTime", TFieldType::DateTime, 0, "Время окончания", 0},
                             {"Operator", TFieldType::String, 30, "Оператор", 0}});
        m_set->setIndexDefs({{"DEFAULT_ORDER", "SmNum", TIndexDef::Unique | TIndexDef::Descending},
                             {"CHANGEINDEX", QString(), TIndexDef::Descending}});
        return *m_set;
    }

    static QByteArray fileHash(const QString& path) {
        return QCryptographicHash::hash(readBytes(path), QCryptographicHash::Sha256);
    }

    StationFixture m_station;
    StationFixture m_embedded{StationServerKind::Embedded}; // for the PostgreSQL variant
    std::unique_ptr<TDCOMConnection> m_connection;
    std::unique_ptr<TClientDataSet> m_set;
};

QTEST_GUILESS_MAIN(TestStationData)
#include "tst_stationdata.moc"
