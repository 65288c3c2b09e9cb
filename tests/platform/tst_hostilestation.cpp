// Station databases as a broken disk or a hostile hand leaves them: every run ends, with a
// Russian message that names the cause.
#include "common/StationFixture.h"

#include "common/Errors.h"
#include "platform/data/ClientDataSet.h"
#include "platform/data/DCOMConnection.h"
#include "platform/data/servers/StatServerChoice.h"
#include "platform/data/sqlite/EmbeddedStatServer.h"

#include <QFile>
#include <QtTest>

namespace {

// Runs `statements` on the file; with `copyTo`, copies the file and its journal into that folder
// before closing, which rolls an open transaction back: the copy's journal is then hot, and the
// server, which only reads, cannot roll it back.
void execute(const QString& file, const QStringList& statements, const QString& copyTo = {}) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), file);
        db.setDatabaseName(file);
        QVERIFY(db.open());
        QSqlQuery query(db);
        for (const QString& statement : statements)
            QVERIFY2(query.exec(statement), qPrintable(query.lastError().text()));
        if (!copyTo.isEmpty())
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

} // namespace

class TestHostileStation : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        TEmbeddedStatServer::setStatementLimits(TEmbeddedStatServer::kStatementTimeLimitMs,
                                                TEmbeddedStatServer::kTemporaryBytesLimit);
    }

    void brokenStations_data() {
        QTest::addColumn<QStringList>("setup");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("expected");
        const QString endless =
            QStringLiteral("CREATE VIEW LogTran AS WITH RECURSIVE r(x) AS (SELECT 1 UNION ALL "
                           "SELECT x + 1 FROM r) SELECT x AS Data FROM r WHERE x < 0");
        const QString growing =
            QStringLiteral("CREATE VIEW LogTran AS WITH RECURSIVE r(x) AS (SELECT 1 UNION "
                           "SELECT x + 1 FROM r) SELECT x AS Data FROM r WHERE x < 0");
        const QString select = QStringLiteral("SELECT * FROM LogTran");
        QTest::newRow("endless view") << QStringList{"DROP TABLE LogTran", endless} << select << ""
                                      << "запрос выполнялся дольше 0,3 с и прерван";
        QTest::newRow("view filling the disk")
            << QStringList{"DROP TABLE LogTran", growing} << select << ""
            << "временные данные запроса превысили 1 МБ; запрос прерван";
        QTest::newRow("tokenizer function")
            << QStringList{} << "SELECT fts3_tokenizer('simple') AS Data"
            << ""
            << "не выполняет функцию «fts3_tokenizer»";
        QTest::newRow("build options")
            << QStringList{} << "SELECT sqlite_compileoption_get(0) AS Data"
            << ""
            << "не выполняет функцию «sqlite_compileoption_get»";
        QTest::newRow("function in a view")
            << QStringList{"DROP TABLE LogTran",
                           "CREATE VIEW LogTran AS SELECT zeroblob(1000000000) AS Data"}
            << select << ""
            << "не выполняет функцию «zeroblob»";
        QTest::newRow("missing column") << QStringList{} << "SELECT Data2 FROM LogTran"
                                        << ""
                                        << "отклонил запрос к базе «%1»: нет столбца «Data2»";
        QTest::newRow("damaged file") << QStringList{"damage"} << select << ""
                                      << "файл базы данных повреждён";
        QTest::newRow("hot journal") << QStringList{"hot journal"} << select << ""
                                     << "рядом с базой остался журнал незавершённой записи";
        QTest::newRow("folder name of 1 MB") // shown by its ends
            << QStringList{"/nowhere/" + QString(1 << 20, 'x')} << select << ""
            << "/nowhere/" + QString(231, 'x') + "…" + QString(60, 'x') +
                   " (всего 1048585 символов)";
        QTest::newRow("huge number in an integer field")
            << QStringList{"UPDATE LogTran SET Liter = 1e300 WHERE ID_LogTran = 2"}
            << "SELECT Liter FROM LogTran WHERE ID_LogTran = 2"
            << "Liter"
            << "Значение «1e+300» поля «Liter» (набор данных test) не помещается в 64-разрядное "
               "целое число";
    }
    void brokenStations() {
        QFETCH(QStringList, setup);
        QFETCH(QString, sql);
        QFETCH(QString, field);
        QFETCH(QString, expected);
        StationFixture station;
        QVERIFY2(station.isValid(), qPrintable(station.error()));
        QString fuel = station.fuelFolder();
        if (setup == QStringList{"damage"})
            damage(station.fuelFile());
        else if (setup == QStringList{"hot journal"})
            // Without syncing, the journal's header is complete at once, not at the commit.
            execute(station.fuelFile(),
                    {"PRAGMA synchronous = OFF", "BEGIN", "UPDATE LogTran SET Liter = 0"},
                    fuel = station.root() + "/hot");
        else if (!setup.isEmpty() && setup.first().startsWith('/'))
            fuel = setup.first(); // a folder from the host
        else if (!setup.isEmpty())
            execute(station.fuelFile(), setup);
        // Only the endless view waits for the time limit; the others must end by their own cause
        // however slow the machine.
        TEmbeddedStatServer::setStatementLimits(
            QByteArray(QTest::currentDataTag()) == "endless view" ? 300 : 60000, 1 << 20);
        TDCOMConnection connection{chooseStatServer};
        station.attach(connection, station.goodsFolder(), fuel);
        TClientDataSet set(QStringLiteral("test"));
        set.setRemoteServer(&connection);
        set.setProviderName(QStringLiteral("dspLogtran"));
        set.setCommandText(sql);
        const QString message = errorOf([&] {
            set.open();
            if (!field.isEmpty())
                set.fieldByName(field).asLargeInt();
        });
        if (expected.contains(QLatin1String("%1")))
            expected = expected.arg(station.fuelFile());
        QVERIFY2(message.contains(expected), qPrintable(message));
    }
};

QTEST_GUILESS_MAIN(TestHostileStation)
#include "tst_hostilestation.moc"
