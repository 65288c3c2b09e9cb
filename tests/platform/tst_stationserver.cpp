#include "common/StationFixture.h"

#include "platform/core/Exceptions.h"
#include "platform/data/ClientDataSet.h"
#include "platform/data/DCOMConnection.h"
#include "platform/data/StationDateTime.h"
#include "platform/data/servers/StatServerChoice.h"

#include <QCryptographicHash>
#include <QFile>
#include <QThread>
#include <QtTest>

#include <memory>

class TestStationServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void fuelStatement_data();
    void fuelStatement();
    void goodsStatement_data();
    void goodsStatement();
    void fixedProviders_data();
    void fixedProviders();
    void commandThatWrites_data();
    void commandThatWrites();
    void errors_data();
    void errors();
    void workerThread();
    void otherThreadIsRefused();

private:
    std::unique_ptr<StationFixture> m_station;
};

namespace {

// A connection that tells the server where the fixture's databases are, as the data module does.
void pointAt(TDCOMConnection& connection, const QString& goods, const QString& fuel) {
    connection.setAfterConnect([goods, fuel](TDCOMConnection& sender) {
        sender.setStatParameter(1, goods);
        sender.setStatParameter(2, fuel);
    });
}

QByteArray fileHash(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

} // namespace

void TestStationServer::initTestCase() {
    m_station = std::make_unique<StationFixture>();
    QVERIFY2(m_station->isValid(), qPrintable(m_station->error()));
}

void TestStationServer::fuelStatement_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QList<int>>("ids");
    QTest::newRow("day with litre bounds")
        << "SELECT * FROM LogTran WHERE Data >= '2009-08-24 00:00:00.000' AND Data < "
           "'2009-08-25 00:00:00.000' AND Liter >= 10 AND Liter < 50 ORDER BY Data, GSMName"
        << QList<int>{2, 6, 7, 10, 3, 4};
    QTest::newRow("day without litre bounds")
        << "SELECT * FROM LogTran WHERE Data >= '2009-08-24 00:00:00.000' AND Data < "
           "'2009-08-25 00:00:00.000' ORDER BY Data, GSMName"
        << QList<int>{2, 6, 7, 8, 9, 10, 3, 4};
    QTest::newRow("last millisecond only")
        << "SELECT * FROM LogTran WHERE Data >= '2009-08-24 23:59:59.999' AND Data < "
           "'2009-08-25 00:00:00.000' ORDER BY Data, GSMName"
        << QList<int>{4};
    QTest::newRow("empty period")
        << "SELECT * FROM LogTran WHERE Data >= '2009-08-24 00:00:00.001' AND Data < "
           "'2009-08-24 08:00:00.000' ORDER BY Data, GSMName"
        << QList<int>{};
}

void TestStationServer::fuelStatement() {
    QFETCH(QString, sql);
    QFETCH(QList<int>, ids);
    TDCOMConnection connection{chooseStatServer};
    pointAt(connection, m_station->goodsFolder(), m_station->fuelFolder());
    TClientDataSet set(QStringLiteral("cdsLogtran"));
    set.setRemoteServer(&connection);
    set.setProviderName(QStringLiteral("dspLogtran"));
    set.setCommandText(sql);
    set.open();
    QVERIFY(connection.connected());
    QCOMPARE(set.recordCount(), ids.size());
    TField& id = set.fieldByName(QStringLiteral("id_logtran"));
    TField& data = set.fieldByName(QStringLiteral("DATA"));
    QList<int> got;
    double previous = 0;
    for (set.first(); !set.eof(); set.next()) {
        got << id.asInteger();
        QVERIFY2(data.asDateTime() >= previous, "rows arrive in time order");
        previous = data.asDateTime();
    }
    QCOMPARE(got, ids);
}

void TestStationServer::goodsStatement_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("rows");
    const QString period = QStringLiteral("'2009-08-24 00:00:00.000'  AND d.Data < "
                                          "'2009-08-25 00:00:00.000'");
    QTest::newRow("categories 1, 2")
        << "SELECT d.Data, gm.RPrice, gm.\"COUNT\", g.ID_Category FROM Documents d LEFT JOIN "
           "GoodsMotion gm ON (d.ID_doc = gm.ID_doc) LEFT JOIN Batches b ON (gm.ID_p = b.ID_p) "
           "LEFT JOIN Goods g ON (b.ID_Goods = g.ID_Goods) WHERE d.\"TYPE\" = 2   AND d.Data >= " +
               period + "  AND g.ID_Category in (1, 2) ORDER BY d.Data, g.ID_Category"
        << QStringList{"2009-08-24 00:00:00.000|50|2|1", "2009-08-24 00:00:00.000|80|1|2",
                       "2009-08-24 12:00:00.000|120|1|1", "2009-08-24 23:59:59.999|120|3|1"};
    QTest::newRow("goods 12")
        << "SELECT d.Data, gm.RPrice, gm.\"COUNT\", b.ID_Goods FROM Documents d LEFT JOIN "
           "GoodsMotion gm ON (d.ID_doc = gm.ID_doc) LEFT JOIN Batches b ON (gm.ID_p = b.ID_P) "
           "WHERE d.\"TYPE\" = 2  AND d.Data >= " +
               period + "  AND b.ID_Goods in (12)  ORDER BY d.Data, b.ID_Goods"
        << QStringList{"2009-08-24 00:00:00.000|80|1|12"};
    QTest::newRow("goods 10, 11, 999")
        << "SELECT d.Data, gm.RPrice, gm.\"COUNT\", b.ID_Goods FROM Documents d LEFT JOIN "
           "GoodsMotion gm ON (d.ID_doc = gm.ID_doc) LEFT JOIN Batches b ON (gm.ID_p = b.ID_P) "
           "WHERE d.\"TYPE\" = 2  AND d.Data >= " +
               period + "  AND b.ID_Goods in (10, 11, 999)  ORDER BY d.Data, b.ID_Goods"
        << QStringList{"2009-08-24 00:00:00.000|50|2|10", "2009-08-24 12:00:00.000|120|1|11",
                       "2009-08-24 12:00:00.000|10|1|999", "2009-08-24 23:59:59.999|120|3|11"};
}

void TestStationServer::goodsStatement() {
    QFETCH(QString, sql);
    QFETCH(QStringList, rows);
    TDCOMConnection connection{chooseStatServer};
    pointAt(connection, m_station->goodsFolder(), m_station->fuelFolder());
    TClientDataSet set(QStringLiteral("cdsTovarStat"));
    set.setRemoteServer(&connection);
    set.setProviderName(QStringLiteral("dspGoodsStat"));
    set.setCommandText(sql);
    set.open();
    TField& data = set.fieldByName(QStringLiteral("Data"));
    TField& price = set.fieldByName(QStringLiteral("RPrice"));
    TField& count = set.fieldByName(QStringLiteral("Count"));
    TField& id = set.field(3);
    QStringList got;
    for (set.first(); !set.eof(); set.next())
        got << QStringLiteral("%1|%2|%3|%4")
                   .arg(StationDateTime::toText(data.asDateTime()))
                   .arg(price.asFloat())
                   .arg(count.asFloat())
                   .arg(id.asInteger());
    QCOMPARE(got, rows);
}

void TestStationServer::fixedProviders_data() {
    QTest::addColumn<QString>("provider");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QStringList>("values");
    QTest::newRow("grades in the station's order")
        << "dspGSM"
        << "GsmName" << QStringList{"АИ-92", "АИ-95", "ДТ", "АИ-95 'Премиум'"};
    QTest::newRow("shifts") << "dspSmSilo"
                            << "SmNum" << QStringList{"5", "11", "110", "116", "117", "119", "120"};
    QTest::newRow("categories, the empty name too")
        << "dspCategory"
        << "Name" << QStringList{"Напитки", "Снеки", "", "НАПИТКИ"};
    QTest::newRow("goods") << "dspGoods"
                           << "Name" << QStringList{"Вода", "Сок O'Key", "Чипсы", ""};
}

void TestStationServer::fixedProviders() {
    QFETCH(QString, provider);
    QFETCH(QString, column);
    QFETCH(QStringList, values);
    TDCOMConnection connection{chooseStatServer};
    pointAt(connection, m_station->goodsFolder(), m_station->fuelFolder());
    TClientDataSet set(provider);
    set.setRemoteServer(&connection);
    set.setProviderName(provider);
    // A command text does not change what a fixed provider answers.
    set.setCommandText(QStringLiteral("DELETE FROM LogTran"));
    set.open();
    QStringList got;
    TField& field = set.fieldByName(column);
    for (set.first(); !set.eof(); set.next())
        got << field.asString();
    QCOMPARE(got, values);
}

void TestStationServer::commandThatWrites_data() {
    QTest::addColumn<QString>("sql");
    const QString other = m_station->root() + QStringLiteral("/planted.sqlite");
    QTest::newRow("insert") << "INSERT INTO LogTran (Data, GsmName, Liter, Summa) VALUES "
                               "('2009-08-24 01:00:00.000', 'АИ-92', 1, 1)";
    QTest::newRow("update") << "UPDATE LogTran SET Liter = 0";
    QTest::newRow("delete") << "DELETE FROM LogTran";
    QTest::newRow("drop") << "DROP TABLE LogTran";
    QTest::newRow("attach") << "ATTACH DATABASE '" + other + "' AS planted";
    QTest::newRow("pragma") << "PRAGMA query_only = OFF";
    QTest::newRow("second statement") << "SELECT 1; DELETE FROM LogTran";
    QTest::newRow("delete in a with") << "WITH x AS (SELECT 1) DELETE FROM LogTran";
    QTest::newRow("temporary table") << "CREATE TEMP TABLE t AS SELECT * FROM LogTran";
    QTest::newRow("load a library") << "SELECT load_extension('" + other + "')";
}

void TestStationServer::commandThatWrites() {
    QFETCH(QString, sql);
    const QByteArray before = fileHash(m_station->fuelFile());
    TDCOMConnection connection{chooseStatServer};
    pointAt(connection, m_station->goodsFolder(), m_station->fuelFolder());
    TClientDataSet set(QStringLiteral("cdsLogtran"));
    set.setRemoteServer(&connection);
    set.setProviderName(QStringLiteral("dspLogtran"));
    set.setCommandText(sql);
    QString message;
    try {
        set.open();
    } catch (const EDatabaseError& e) {
        message = e.message();
    }
    QVERIFY2(message.contains(QStringLiteral("отклонён")), qPrintable(message));
    QVERIFY(!set.active());

    set.setCommandText(QStringLiteral("SELECT * FROM LogTran"));
    set.open();
    QCOMPARE(set.recordCount(), 10);
    connection.close();
    QCOMPARE(fileHash(m_station->fuelFile()), before);
    QVERIFY(!QFile::exists(m_station->root() + QStringLiteral("/planted.sqlite")));
}

void TestStationServer::errors_data() {
    QTest::addColumn<QString>("computer");
    QTest::addColumn<QString>("goodsFolder");
    QTest::addColumn<QString>("fuelFolder");
    QTest::addColumn<QString>("provider");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("expected");
    const QString goods = m_station->goodsFolder();
    const QString fuel = m_station->fuelFolder();
    const QString missing = m_station->root() + QStringLiteral("/nowhere");
    const QString empty = m_station->root() + QStringLiteral("/empty");
    const QString broken = m_station->root() + QStringLiteral("/broken");
    QDir(m_station->root()).mkpath(QStringLiteral("empty"));
    QDir(m_station->root()).mkpath(QStringLiteral("broken"));
    QFile junk(broken + QStringLiteral("/fuel.sqlite"));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    const QString select = QStringLiteral("SELECT * FROM LogTran");

    QTest::newRow("remote computer") << "station-2" << goods << fuel << "dspLogtran" << select << ""
                                     << "компьютере «station-2»";
    QTest::newRow("fuel folder missing") << "" << goods << missing << "dspLogtran" << select << ""
                                         << "Папка базы данных топлива не найдена: " + missing;
    QTest::newRow("fuel file missing")
        << "" << goods << empty << "dspLogtran" << select << ""
        << "Файл базы данных топлива не найден: " + empty + "/fuel.sqlite";
    QTest::newRow("not a database") << "" << goods << broken << "dspGSM"
                                    << ""
                                    << ""
                                    << "«" + broken + "/fuel.sqlite» не является базой данных";
    QTest::newRow("goods folder not given") << ""
                                            << "" << fuel << "dspGoods"
                                            << ""
                                            << ""
                                            << "не передана папка базы данных товаров";
    QTest::newRow("missing table") << "" << goods << fuel << "dspLogtran"
                                   << "SELECT * FROM Fillings"
                                   << ""
                                   << "нет таблицы «Fillings»";
    QTest::newRow("rejected sql") << "" << goods << fuel << "dspLogtran"
                                  << "SELEC * FROM LogTran"
                                  << ""
                                  << "отклонил запрос к базе «" + fuel + "/fuel.sqlite»: near";
    QTest::newRow("no command text") << "" << goods << fuel << "dspGoodsStat"
                                     << "  "
                                     << ""
                                     << "не задан текст запроса";
    QTest::newRow("unknown provider") << "" << goods << fuel << "dspNothing" << select << ""
                                      << "нет поставщика данных «dspNothing»";
    QTest::newRow("field not in the result")
        << "" << goods << fuel << "dspLogtran" << select << "Litres"
        << "Поле «Litres» не найдено в наборе данных test";
}

void TestStationServer::errors() {
    QFETCH(QString, computer);
    QFETCH(QString, goodsFolder);
    QFETCH(QString, fuelFolder);
    QFETCH(QString, provider);
    QFETCH(QString, sql);
    QFETCH(QString, field);
    QFETCH(QString, expected);
    TDCOMConnection connection{chooseStatServer};
    connection.setComputerName(computer);
    pointAt(connection, goodsFolder, fuelFolder);
    TClientDataSet set(QStringLiteral("test"));
    set.setRemoteServer(&connection);
    set.setProviderName(provider);
    set.setCommandText(sql);
    QString message;
    try {
        set.open();
        set.fieldByName(field);
    } catch (const EDatabaseError& e) {
        message = e.message();
    }
    QVERIFY2(message.contains(expected), qPrintable(message));
    if (!computer.isEmpty())
        QVERIFY2(!connection.connected(), "a remote name never falls back to the local files");
}

void TestStationServer::workerThread() {
    int count = -1;
    QString failure;
    QStringList connectionsWhileOpen;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        try {
            TDCOMConnection connection{chooseStatServer};
            pointAt(connection, m_station->goodsFolder(), m_station->fuelFolder());
            TClientDataSet set(QStringLiteral("cdsLogtran"));
            set.setRemoteServer(&connection);
            set.setProviderName(QStringLiteral("dspLogtran"));
            set.setCommandText(QStringLiteral("SELECT * FROM LogTran ORDER BY Data"));
            set.open();
            count = set.recordCount();
            connectionsWhileOpen = QSqlDatabase::connectionNames();
            connection.close();
        } catch (const Exception& e) {
            failure = e.message();
        }
    }));
    thread->start();
    QVERIFY(thread->wait(60000));
    QCOMPARE(failure, QString());
    QCOMPARE(count, 10);
    QCOMPARE(connectionsWhileOpen.size(), 1);
    QVERIFY2(QSqlDatabase::connectionNames().isEmpty(), "closing removes the Qt connection");
}

void TestStationServer::otherThreadIsRefused() {
    TDCOMConnection connection{chooseStatServer};
    pointAt(connection, m_station->goodsFolder(), m_station->fuelFolder());
    connection.open();
    TClientDataSet set(QStringLiteral("cdsGSM"));
    set.setRemoteServer(&connection);
    set.setProviderName(QStringLiteral("dspGSM"));
    QString message;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        try {
            set.open();
        } catch (const EDatabaseError& e) {
            message = e.message();
        }
    }));
    thread->start();
    QVERIFY(thread->wait(60000));
    QVERIFY2(message.contains(QStringLiteral("другим потоком")), qPrintable(message));
    set.open();
    QCOMPARE(set.recordCount(), 4);
}

QTEST_GUILESS_MAIN(TestStationServer)
#include "tst_stationserver.moc"
