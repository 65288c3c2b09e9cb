#include "common/StationFixture.h"

#include "common/Errors.h"
#include "platform/data/ClientDataSet.h"
#include "platform/data/DCOMConnection.h"
#include "platform/data/DataSetModel.h"

#include <QtTest>

#include <memory>

class TestClientDataSet : public QObject {
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
        QTest::newRow("typed 5") << "5" << true << true << 5;
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
        QStringList headers;
        for (int c = 0; c < model.columnCount(); ++c)
            headers << model.headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers,
                 (QStringList{"Номер смены", "Время начала", "Время окончания", "Оператор"}));
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

    StationFixture m_station;
    std::unique_ptr<TDCOMConnection> m_connection;
    std::unique_ptr<TClientDataSet> m_set;
};

QTEST_GUILESS_MAIN(TestClientDataSet)
#include "tst_clientdataset.moc"
