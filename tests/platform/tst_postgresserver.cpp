// The PostgreSQL statistics server against a real server: the rows it gives are the embedded
// server's, no command text changes anything, and each failure reads as the operator needs it.
#include "common/StationFixture.h"

#include "common/Errors.h"
#include "platform/data/servers/StatServerChoice.h"

#include <QProcess>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {

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
    OwnCluster() {
        const QString shared = qEnvironmentVariable("TORVI_TEST_PGHOST");
        m_port = shared.section(QLatin1Char(':'), -1).toInt() + 1;
        m_ctl = qEnvironmentVariable("TORVI_TEST_PGCTL");
    }
    ~OwnCluster() { run(QStringLiteral("stop")); }
    bool available() const { return !m_ctl.isEmpty() && m_port > 1 && m_dir.isValid(); }
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    bool run(const QString& action) {
        if (!available())
            return false;
        return QProcess::execute(QStringLiteral("bash"),
                                 {m_ctl, action, m_dir.path(), QString::number(m_port)}) == 0;
    }

private:
    QTemporaryDir m_dir;
    QString m_ctl;
    int m_port = 0;
};

} // namespace

class TestPostgresServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        StationFixture::postgresServer(); // skips when there is none outside CI
        m_postgres = std::make_unique<StationFixture>(StationServerKind::Postgres);
        QVERIFY2(m_postgres->isValid(), qPrintable(m_postgres->error()));
        m_embedded = std::make_unique<StationFixture>(StationServerKind::Embedded);
        QVERIFY2(m_embedded->isValid(), qPrintable(m_embedded->error()));
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
        QFETCH(QString, provider);
        QFETCH(QString, sql);
        const QStringList expected = dump(*serverFor(*m_embedded)->provide(provider, sql, {}));
        QVERIFY(!expected.isEmpty());
        QCOMPARE(dump(*serverFor(*m_postgres)->provide(provider, sql, {})), expected);
    }

    void commandThatWrites_data() {
        QTest::addColumn<QString>("sql");
        QTest::newRow("insert") << "INSERT INTO LogTran (Data, GsmName, Liter, Summa) VALUES "
                                   "('2009-08-24 01:00:00.000', 'АИ-92', 1, 1)";
        QTest::newRow("update") << "UPDATE LogTran SET Liter = 0";
        QTest::newRow("drop") << "DROP TABLE GSM";
        QTest::newRow("second statement") << "SELECT 1; DELETE FROM LogTran";
        QTest::newRow("commit first") << "SELECT 1; COMMIT; DELETE FROM LogTran";
        QTest::newRow("delete in WITH")
            << "WITH d AS (DELETE FROM LogTran RETURNING ID_LogTran) SELECT * FROM d";
        QTest::newRow("row locks") << "SELECT * FROM LogTran FOR UPDATE";
        QTest::newRow("table from a query") << "SELECT * INTO Planted FROM LogTran";
    }
    void commandThatWrites() {
        QFETCH(QString, sql);
        auto server = serverFor(*m_postgres);
        const QStringList before = fuelFingerprint(*server);
        QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                                 server->provide(QStringLiteral("dspLogtran"), sql, {}));
        // The same connection reads on afterwards, and finds the data as it was.
        QCOMPARE(fuelFingerprint(*server), before);
        QCOMPARE(fuelFingerprint(*serverFor(*m_postgres)), before);
    }

    void failures_data() {
        QTest::addColumn<QString>("computer");
        QTest::addColumn<QString>("goods");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("expected");
        const QString server = m_postgres->computerName();
        const QString goods = m_postgres->goodsParameter();
        const QString query = QStringLiteral("SELECT * FROM Documents");
        QTest::newRow("unreachable") << "127.0.0.1:1" << goods << QByteArray("torvi") << query
                                     << QStringList{"не отвечает", "«127.0.0.1:1»"};
        QTest::newRow("login refused")
            << server << goods << QByteArray("wrong") << query
            << QStringList{"отказал в доступе", server, goods, "PGPASSWORD"};
        QTest::newRow("database missing")
            << server << "C:\\DARA\\torvi_no_such_station\\" << QByteArray("torvi") << query
            << QStringList{"нет базы данных товаров «torvi_no_such_station»", server};
        QTest::newRow("statement rejected")
            << server << goods << QByteArray("torvi") << "SELECT * FROM NoSuchTable"
            << QStringList{"отклонил запрос", server, goods, "nosuchtable"};
        QTest::newRow("port out of range") << "127.0.0.1:70000" << goods << QByteArray("torvi")
                                           << query << QStringList{"«127.0.0.1:70000»", "ИМЯ:ПОРТ"};
    }
    void failures() {
        QFETCH(QString, computer);
        QFETCH(QString, goods);
        QFETCH(QByteArray, password);
        QFETCH(QString, sql);
        QFETCH(QStringList, expected);
        const QByteArray saved = qgetenv("PGPASSWORD");
        qputenv("PGPASSWORD", password);
        const QString message = errorOf<EDatabaseError>([&] {
            auto server = chooseStatServer(computer);
            server->setStatParameter(1, goods);
            server->provide(QStringLiteral("dspGoodsStat"), sql, {});
        });
        qputenv("PGPASSWORD", saved);
        for (const QString& part : expected)
            QVERIFY2(message.contains(part), qPrintable(message));
    }

    void serverGoesAwayAndComesBack() {
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
        const QString slow = QStringLiteral(
            "SELECT l.* FROM LogTran l, (SELECT pg_sleep(4)) s ORDER BY l.ID_LogTran");
        const QString quick = QStringLiteral("SELECT * FROM LogTran");
        QCOMPARE(server->provide(QStringLiteral("dspLogtran"), quick, {})->rowCount, 10);

        // The server stops while a statement runs.
        std::unique_ptr<QThread> stopper(QThread::create([&cluster] {
            QThread::msleep(1000);
            cluster.run(QStringLiteral("stop"));
        }));
        stopper->start();
        QString message = errorOf<EDatabaseError>(
            [&] { server->provide(QStringLiteral("dspLogtran"), slow, {}); });
        stopper->wait();
        QVERIFY2(message.contains(QStringLiteral("прервалась")) &&
                     message.contains(cluster.server()) &&
                     message.contains(station.fuelParameter()),
                 qPrintable(message));

        // While it is down, each request says so, naming the server and the database; once it is
        // back, the same server object reads.
        message = errorOf<EDatabaseError>(
            [&] { server->provide(QStringLiteral("dspLogtran"), quick, {}); });
        QVERIFY2(message.contains(cluster.server()) && message.contains(station.fuelParameter()),
                 qPrintable(message));
        QVERIFY(cluster.run(QStringLiteral("start")));
        QCOMPARE(server->provide(QStringLiteral("dspLogtran"), quick, {})->rowCount, 10);
    }

private:
    std::unique_ptr<StationFixture> m_postgres;
    std::unique_ptr<StationFixture> m_embedded;
};

QTEST_MAIN(TestPostgresServer)
#include "tst_postgresserver.moc"
