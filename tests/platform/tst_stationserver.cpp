#include "common/StationFixture.h"

#include "common/Errors.h"
#include "platform/data/ClientDataSet.h"
#include "platform/data/DCOMConnection.h"

#include <QCryptographicHash>
#include <QThread>
#include <QtTest>

#include <memory>

// The statistics server over the station's files, through a connection and a data set as the
// windows use them. What the fuel and goods statements answer is checked by the extractors' runs.
class TestStationServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_station.isValid(), qPrintable(m_station.error())); }

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

    void commandThatWrites_data() {
        QTest::addColumn<QString>("sql");
        const QString other = m_station.root() + QStringLiteral("/planted.sqlite");
        // clang-format off
        QTest::newRow("insert")
            << "INSERT INTO LogTran (Data, GsmName, Liter, Summa) VALUES "
               "('2009-08-24 01:00:00.000', 'АИ-92', 1, 1)";
        QTest::newRow("update") << "UPDATE LogTran SET Liter = 0";
        QTest::newRow("drop") << "DROP TABLE LogTran";
        QTest::newRow("attach") << "ATTACH DATABASE '" + other + "' AS planted";
        QTest::newRow("pragma") << "PRAGMA query_only = OFF";
        QTest::newRow("second statement") << "SELECT 1; DELETE FROM LogTran";
        QTest::newRow("delete in a with") << "WITH x AS (SELECT 1) DELETE FROM LogTran";
        QTest::newRow("temporary table") << "CREATE TEMP TABLE t AS SELECT * FROM LogTran";
        QTest::newRow("load a library") << "SELECT load_extension('" + other + "')";
        // clang-format on
    }
    void commandThatWrites() {
        QFETCH(QString, sql);
        const QByteArray before = fileHash(m_station.fuelFile());
        TDCOMConnection connection{chooseStatServer};
        m_station.attach(connection);
        TClientDataSet set(QStringLiteral("cdsLogtran"));
        set.setRemoteServer(&connection);
        set.setProviderName(QStringLiteral("dspLogtran"));
        set.setCommandText(sql);
        const QString message = errorOf<EDatabaseError>([&] { set.open(); });
        QVERIFY2(message.contains(QStringLiteral("отклонён")), qPrintable(message));
        QVERIFY(!set.active());
        set.setCommandText(QStringLiteral("SELECT * FROM LogTran"));
        set.open();
        QCOMPARE(set.recordCount(), 10);
        connection.close();
        QCOMPARE(fileHash(m_station.fuelFile()), before);
        QVERIFY(!QFile::exists(m_station.root() + QStringLiteral("/planted.sqlite")));
    }

    void errors_data() {
        QTest::addColumn<QString>("computer");
        QTest::addColumn<QString>("goodsFolder");
        QTest::addColumn<QString>("fuelFolder");
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("expected");
        const QString goods = m_station.goodsFolder();
        const QString fuel = m_station.fuelFolder();
        const QString root = m_station.root();
        QDir(root).mkpath(QStringLiteral("empty"));
        QDir(root).mkpath(QStringLiteral("broken"));
        QFile junk(root + QStringLiteral("/broken/fuel.sqlite"));
        QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write(QByteArray(4096, 'x')) == 4096);
        junk.close();
        const QString select = QStringLiteral("SELECT * FROM LogTran");
        // clang-format off
        QTest::newRow("remote computer") << "station-2" << goods << fuel << "dspLogtran" << select
            << "" << "компьютере «station-2»";
        QTest::newRow("fuel folder missing") << "" << goods << root + "/nowhere" << "dspLogtran"
            << select << "" << "Папка базы данных топлива не найдена: " + root + "/nowhere";
        QTest::newRow("fuel file missing") << "" << goods << root + "/empty" << "dspLogtran"
            << select << "" << "Файл базы данных топлива не найден: " + root + "/empty/fuel.sqlite";
        QTest::newRow("not a database") << "" << goods << root + "/broken" << "dspGSM" << "" << ""
            << "«" + root + "/broken/fuel.sqlite» не является базой данных";
        QTest::newRow("goods folder not given") << "" << "" << fuel << "dspGoods" << "" << ""
            << "не передана папка базы данных товаров";
        QTest::newRow("missing table") << "" << goods << fuel << "dspLogtran"
            << "SELECT * FROM Fillings" << "" << "нет таблицы «Fillings»";
        QTest::newRow("rejected sql") << "" << goods << fuel << "dspLogtran"
            << "SELEC * FROM LogTran" << ""
            << "отклонил запрос к базе «" + fuel + "/fuel.sqlite»: near";
        QTest::newRow("no command text") << "" << goods << fuel << "dspGoodsStat" << "  " << ""
            << "не задан текст запроса";
        QTest::newRow("unknown provider") << "" << goods << fuel << "dspNothing" << select << ""
            << "нет поставщика данных «dspNothing»";
        QTest::newRow("field not in the result") << "" << goods << fuel << "dspLogtran" << select
            << "Litres" << "Поле «Litres» не найдено в наборе данных test";
        // clang-format on
    }
    void errors() {
        QFETCH(QString, computer);
        QFETCH(QString, goodsFolder);
        QFETCH(QString, fuelFolder);
        QFETCH(QString, provider);
        QFETCH(QString, sql);
        QFETCH(QString, field);
        QFETCH(QString, expected);
        TDCOMConnection connection{chooseStatServer};
        m_station.attach(connection, goodsFolder, fuelFolder);
        connection.setComputerName(computer);
        TClientDataSet set(QStringLiteral("test"));
        set.setRemoteServer(&connection);
        set.setProviderName(provider);
        set.setCommandText(sql);
        const QString message = errorOf<EDatabaseError>([&] {
            set.open();
            set.fieldByName(field);
        });
        QVERIFY2(message.contains(expected), qPrintable(message));
        // A remote name never falls back to the local files.
        QVERIFY(computer.isEmpty() || !connection.connected());
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

private:
    static QByteArray fileHash(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QByteArray();
        return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
    }

    StationFixture m_station;
};

QTEST_GUILESS_MAIN(TestStationServer)
#include "tst_stationserver.moc"
