#include "platform/chart/ChartModel.h"
#include "platform/chart/ChartPalette.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

void fill(ChartModel& model, int points) {
    if (points < 0) // no series at all
        return;
    ChartSeries* series = model.addSeries();
    for (int i = 0; i < points; ++i)
        series->addPoint(i, i);
}

// WCAG contrast ratio against white.
double contrastOnWhite(const QColor& c) {
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    const double l =
        0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    return 1.05 / (l + 0.05);
}

} // namespace

class TestChartModel : public QObject {
    Q_OBJECT

private slots:
    void paging_data() {
        QTest::addColumn<int>("points");
        QTest::addColumn<int>("perPage");
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("pageCount");
        QTest::addColumn<int>("page");
        // `requested` is what the windows ask for; "end" is points div perPage + 1.
        QTest::newRow("100 at 30, end") << 100 << 30 << 100 / 30 + 1 << 4 << 4;
        QTest::newRow("90 at 30, end is limited") << 90 << 30 << 90 / 30 + 1 << 3 << 3;
        QTest::newRow("page 0 is page 1") << 100 << 30 << 0 << 4 << 1;
        QTest::newRow("empty series") << 0 << 30 << 2 << 1 << 1;
        QTest::newRow("no series") << -1 << 30 << 2 << 1 << 1;
        QTest::newRow("one point") << 1 << 2 << 1 << 1 << 1;
        QTest::newRow("per page below 1 counts as 1") << 3 << 0 << 3 << 3 << 3;
    }
    void paging() {
        QFETCH(int, points);
        QFETCH(int, perPage);
        QFETCH(int, requested);
        ChartModel model;
        fill(model, points);
        model.setPointsPerPage(perPage);
        model.setCurrentPage(requested);
        QTEST(model.pageCount(), "pageCount");
        QTEST(model.currentPage(), "page");
        QCOMPARE(model.pageFirstPoint(), (model.currentPage() - 1) * model.pointsPerPage());
    }

    // A zoom belongs to its page and page size; a page the new size no longer has becomes the last.
    void pageAndZoomChanges_data() {
        QTest::addColumn<int>("page");    // before the zoom
        QTest::addColumn<int>("perPage"); // after the zoom
        QTest::addColumn<int>("newPage"); // asked for last; -1: none
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("stillZoomed");
        QTest::newRow("page still exists") << 2 << 15 << -1 << 2 << false;
        QTest::newRow("page gone: last page") << 4 << 60 << -1 << 2 << false;
        QTest::newRow("everything on one page") << 3 << 1500 << -1 << 1 << false;
        QTest::newRow("other page") << 1 << 30 << 2 << 2 << false;
        QTest::newRow("same page and size") << 1 << 30 << 1 << 1 << true;
        QTest::newRow("page 0 is still page 1") << 1 << 30 << 0 << 1 << true;
    }
    void pageAndZoomChanges() {
        QFETCH(int, page);
        QFETCH(int, perPage);
        QFETCH(int, newPage);
        ChartModel model;
        fill(model, 100);
        model.setCurrentPage(page);
        model.zoomIn(QRectF(QPointF(12, 3), QPointF(4, 10)));
        QVERIFY(model.isZoomed());
        QCOMPARE(model.zoomRect(), QRectF(4, 3, 8, 7));
        model.setPointsPerPage(perPage);
        if (newPage >= 0)
            model.setCurrentPage(newPage);
        QTEST(model.currentPage(), "expected");
        QTEST(model.isZoomed(), "stillZoomed");
        model.undoZoom();
        QVERIFY(!model.isZoomed());
        model.zoomIn(QRectF(1, 1, 0, 5)); // a rectangle without area is no zoom
        QVERIFY(!model.isZoomed());
    }

    void clearingFirstSeriesLimitsPage() {
        // A run clears the chart and titles it before it resets the page; the title must not name a
        // page the refilled chart may not have.
        ChartModel model;
        fill(model, 100);
        model.setCurrentPage(4);
        QSignalSpy paging(&model, &ChartModel::pagingChanged);
        model.series(0)->clear();
        QCOMPARE(model.currentPage(), 1);
        QCOMPARE(model.pageCount(), 1);
        QCOMPARE(paging.count(), 1);
    }

    void largestSmallest_data() {
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<bool>("clearFirst");
        QTest::addColumn<double>("largest");
        QTest::addColumn<double>("smallest");
        QTest::newRow("no points") << QList<double>{} << false << 0.0 << 0.0;
        QTest::newRow("mixed") << QList<double>{-3, 2, 7, 0} << false << 7.0 << -3.0;
        QTest::newRow("all negative") << QList<double>{-5, -2} << false << -2.0 << -5.0;
        QTest::newRow("cleared then refilled") << QList<double>{8, 6} << true << 8.0 << 6.0;
    }
    void largestSmallest() {
        QFETCH(QList<double>, values);
        QFETCH(bool, clearFirst);
        ChartModel model;
        ChartSeries* series = model.addSeries();
        if (clearFirst) {
            series->addPoint(0, -100);
            series->addPoint(1, 100);
            series->clear();
        }
        for (double v : values)
            series->addPoint(0, v);
        QCOMPARE(series->count(), values.size());
        QTEST(series->maxY(), "largest");
        QTEST(series->minY(), "smallest");
    }

    void systemColors_data() {
        QTest::addColumn<quint32>("value");
        QTest::addColumn<QColor>("expected");
        const auto entry = [](int i) { return chartPaletteColor(i); };
        const auto grade = [](int i) { return kPaletteIndexFlag | quint32((19 - i) & 0xFFFF); };
        // A new series n gets entry 18 - (n mod 18).
        QTest::newRow("series 1: magenta") << 16777216u + 17u << QColor(255, 0, 255);
        QTest::newRow("series 5: red") << 16777216u + 13u << QColor(255, 0, 0);
        QTest::newRow("series 18: cyan") << 16777216u + 18u << entry(18);
        QTest::newRow("series 19 cycles")
            << 16777216u + quint32(18 - 19 % 18) << QColor(255, 0, 255);
        QTest::newRow("grade 0: white's stand-in") << grade(0) << entry(19);
        QTest::newRow("grade 19: black") << grade(19) << QColor(0, 0, 0);
        QTest::newRow("grade 20 wraps to 65535") << grade(20) << QColor(0, 0, 0);
        QTest::newRow("rgb is BBGGRR") << 0x00336699u << QColor(0x99, 0x66, 0x33);
        QTest::newRow("palette rgb") << 0x02336699u << QColor(0x99, 0x66, 0x33);
        QTest::newRow("default marker: no colour") << 0x20000000u << QColor();
    }
    void systemColors() {
        QFETCH(quint32, value);
        QTEST(colorFromSystemValue(value), "expected");
    }

    void paletteVisibleOnWhite() {
        QSet<QRgb> seen;
        for (int i = 0; i < kChartPaletteSize; ++i) {
            const QColor c = chartPaletteColor(i);
            QVERIFY2(contrastOnWhite(c) >= 2.0, qPrintable(QStringLiteral("entry %1").arg(i)));
            QVERIFY2(!seen.contains(c.rgb()), qPrintable(QStringLiteral("entry %1 twice").arg(i)));
            seen.insert(c.rgb());
        }
        QCOMPARE(chartPaletteColor(-1), chartPaletteColor(0));
        QCOMPARE(chartPaletteColor(kChartPaletteSize), chartPaletteColor(0));
    }

    void markerShapeNumbering_data() {
        QTest::addColumn<int>("seriesNumber");
        QTest::addColumn<ChartMarkerShape>("expected");
        // The n-th series of a chart gets shape (n div 18) + 1.
        QTest::newRow("first series") << 1 << ChartMarkerShape::Circle;
        QTest::newRow("18th series") << 18 << ChartMarkerShape::Rectangle;
        QTest::newRow("36th series") << 36 << ChartMarkerShape::Diamond;
        QTest::newRow("90th series") << 90 << ChartMarkerShape::Pentagon;
        QTest::newRow("108th series starts over") << 108 << ChartMarkerShape::Circle;
    }
    void markerShapeNumbering() {
        QFETCH(int, seriesNumber);
        QTEST(chartMarkerShapeFromNumber(seriesNumber / 18 + 1), "expected");
        QCOMPARE(chartMarkerShapeFromNumber(0), ChartMarkerShape::Circle);
        QCOMPARE(chartMarkerShapeFromNumber(-4), ChartMarkerShape::Circle);
    }
};

QTEST_GUILESS_MAIN(TestChartModel)
#include "tst_chartmodel.moc"
