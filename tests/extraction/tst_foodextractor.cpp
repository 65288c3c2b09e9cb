#include "common/ExtractorHarness.h"

#include "extraction/FoodExtractor.h"

namespace {

TDateTime day24() {
    return encodeDateTime(2009, 8, 24);
}

const QString goodsHead = QStringLiteral(
    "SELECT d.Data, gm.RPrice, gm.\"COUNT\", b.ID_Goods FROM Documents d LEFT JOIN GoodsMotion gm "
    "ON (d.ID_doc = gm.ID_doc) LEFT JOIN Batches b ON (gm.ID_p = b.ID_P) WHERE d.\"TYPE\" = 2  AND "
    "d.Data >= '2009-08-24 00:00:00.000'  AND d.Data < '2009-08-25 00:00:00.000'");
const QString categoryHead = QStringLiteral(
    "SELECT d.Data, gm.RPrice, gm.\"COUNT\", g.ID_Category FROM Documents d LEFT JOIN GoodsMotion "
    "gm ON (d.ID_doc = gm.ID_doc) LEFT JOIN Batches b ON (gm.ID_p = b.ID_p) LEFT JOIN Goods g ON "
    "(b.ID_Goods = g.ID_Goods) WHERE d.\"TYPE\" = 2   AND d.Data >= '2009-08-24 00:00:00.000'  AND "
    "d.Data < '2009-08-25 00:00:00.000'");

TQueryItems items(const QList<int>& ids) {
    TQueryItems out;
    for (int id : ids)
        out << TQueryItem{QStringLiteral("Позиция %1").arg(id), id};
    return out;
}

} // namespace

class TestFoodExtractor : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }

    void buildSQL_data() {
        QTest::addColumn<bool>("byCategory");
        QTest::addColumn<QList<int>>("ids");
        QTest::addColumn<QString>("sql");
        QTest::newRow("categories 3 and 7")
            << true << QList<int>{3, 7}
            << categoryHead + "  AND g.ID_Category in (3, 7) ORDER BY d.Data, g.ID_Category";
        QTest::newRow("goods 12") << false << QList<int>{12}
                                  << goodsHead +
                                         "  AND b.ID_Goods in (12)  ORDER BY d.Data, b.ID_Goods";
        QTest::newRow("no items: the server refuses the empty list")
            << false << QList<int>{}
            << goodsHead + "  AND b.ID_Goods in ()  ORDER BY d.Data, b.ID_Goods";
    }
    void buildSQL() {
        QFETCH(bool, byCategory);
        QFETCH(QList<int>, ids);
        TFoodExtractor e(2, 0, 0, 1, nullptr, nullptr, nullptr, nullptr);
        QVERIFY(e.ByCategory());
        e.SetByCategory(byCategory);
        e.SetItems(items(ids));
        QTEST(e.BuildSQL(day24(), day24() + 1), "sql");
    }

    void run_data() {
        QTest::addColumn<bool>("byCategory");
        QTest::addColumn<bool>("multiGraph");
        QTest::addColumn<int>("schema");
        QTest::addColumn<QList<int>>("ids");
        QTest::addColumn<QList<QList<double>>>("series");
        QTest::addColumn<QString>("axisTitle");
        using Series = QList<QList<double>>;
        // Sale lines in the period: category 1: 50×2, 120×1, 120×3 (the last at 23:59:59.999);
        // category 2: 80×1 and a line without a price, quantity 5. A document without lines and
        // lines of batches without a goods record carry no identifier and stay out.
        QTest::newRow("categories, sums")
            << true << false << 0 << QList<int>{1, 2} << Series{{660, 0}} << "Продажа";
        QTest::newRow("categories, quantity")
            << true << false << 1 << QList<int>{1, 2} << Series{{12, 0}} << "Количество";
        QTest::newRow("categories, sale lines")
            << true << false << 2 << QList<int>{1, 2} << Series{{5, 0}} << "Количество продаж";
        QTest::newRow("categories split, the third one empty")
            << true << true << 0 << QList<int>{1, 2, 3} << Series{{580, 0}, {80, 0}, {0, 0}}
            << "Продажа";
        QTest::newRow("goods split") << false << true << 2 << QList<int>{10, 12}
                                     << Series{{1, 0}, {2, 0}} << "Количество продаж";
    }
    void run() {
        QFETCH(bool, byCategory);
        QFETCH(bool, multiGraph);
        QFETCH(int, schema);
        QFETCH(QList<int>, ids);
        QFETCH(QList<QList<double>>, series);
        ExtractorHarness h(QStringLiteral("dspGoodsStat"));
        QVERIFY2(h.station.isValid(), qPrintable(h.station.error()));
        QVERIFY(h.station.exec(h.station.goodsFile(),
                               {"INSERT INTO GoodsMotion (ID_GoodsMotion, ID_doc, ID_p, RPrice, "
                                "\"COUNT\") VALUES (10, 6, 102, NULL, 5)"}));
        TFoodExtractor e(2, day24(), day24() + 1, 1, &h.dataSet, &h.chart, &h.owner, &h.pageBar);
        e.SetStepMultiplier(1);
        e.SetStepUnit(2);
        e.SetByCategory(byCategory);
        e.SetMultiGraph(multiGraph);
        e.SetSchema(schema);
        e.SetItems(items(ids));
        e.SetMaxLabel(&h.maxLabel);
        ExtractorHarness::run(e);
        QCOMPARE(h.boxes.size(), 0);
        QCOMPARE(h.chart.seriesCount(), series.size());
        for (int i = 0; i < series.size(); ++i) {
            QCOMPARE(h.values(i), series[i]);
            QCOMPARE(h.chart.series(i)->title(), multiGraph ? e.Items().at(i).Name : QString());
        }
        QTEST(h.chart.leftAxisTitle(), "axisTitle");
        QVERIFY(!h.connection.connected());
        QVERIFY(!h.dataSet.active());
        QVERIFY(!h.dataSet.filtered());
        QVERIFY(h.owner.isEnabled());
    }

    void failedRunThenSuccess() {
        ExtractorHarness h(QStringLiteral("dspGoodsStat"));
        TFoodExtractor e(2, day24(), day24() + 1, 1, &h.dataSet, &h.chart, &h.owner, &h.pageBar);
        e.SetStepUnit(2);
        e.SetItems(items({1}));
        h.goodsFolder = h.station.root() + QStringLiteral("/пропавшая папка");
        ExtractorHarness::run(e);
        QCOMPARE(h.boxes.size(), 1);
        QCOMPARE(h.boxes[0].caption, QStringLiteral("Ошибка!"));
        QCOMPARE(h.boxes[0].icon, MessageBoxes::Icon::Error);
        QCOMPARE(h.boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY2(h.boxes[0].text.startsWith(
                     QStringLiteral("В ходе обработки данных произошла ошибка: Папка базы данных")),
                 qPrintable(h.boxes[0].text));
        QVERIFY(h.windowEnabledAtBox);
        QVERIFY(!h.connection.connected());
        QVERIFY(!e.Progress()->isVisible());

        h.goodsFolder = h.station.goodsFolder();
        ExtractorHarness::run(e);
        QCOMPARE(h.boxes.size(), 1);
        QCOMPARE(h.values(0), (QList<double>{580, 0}));
    }
};

QTEST_MAIN(TestFoodExtractor)
#include "tst_foodextractor.moc"
