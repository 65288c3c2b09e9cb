#include "common/Errors.h"
#include "common/TestFiles.h"

#include "platform/chart/ChartModel.h"
#include "platform/chart/ChartPalette.h"
#include "platform/chart/ChartView.h"
#include "platform/core/Exceptions.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QFontMetricsF>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QImageReader>
#include <QLineSeries>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <sys/resource.h>

namespace {

QString labelOf(int i) {
    return QStringLiteral("%1.08.09 %2:00")
        .arg(1 + i / 24, 2, 10, QChar('0'))
        .arg(i % 24, 2, 10, QChar('0'));
}

struct Fixture {
    ChartModel model;
    ChartView view{&model};

    Fixture(int points, int perPage, int seriesCount = 1, QSize size = QSize(900, 500)) {
        for (int s = 0; s < seriesCount; ++s) {
            ChartSeries* series = model.addSeries();
            series->setMarkerVisible(true);
            series->setLineWidth(3);
            for (int i = 0; i < points; ++i)
                series->addPoint(40000 + i / 24.0, 10 * s + (i % 7) * 3, labelOf(i));
        }
        model.setPointsPerPage(perPage);
        view.resize(size);
    }
    void show() {
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCoreApplication::processEvents();
    }
    QLineSeries* line(int s) const { return qobject_cast<QLineSeries*>(view.chart()->series()[s]); }
    QCategoryAxis* axisX() const {
        return qobject_cast<QCategoryAxis*>(view.chart()->axes(Qt::Horizontal).first());
    }
    QPoint viewportPos(int s, int pointIndex) const {
        const ChartPoint& p = model.series(s)->point(pointIndex);
        const QPointF inChart = view.chart()->mapToPosition(QPointF(p.x, p.y), line(s));
        return view.chartView()->mapFromScene(view.chart()->mapToScene(inChart));
    }
    QPoint plotPos(double fx, double fy) const {
        const QRectF plot = view.chart()->plotArea();
        const QPointF inChart(plot.left() + fx * plot.width(), plot.top() + fy * plot.height());
        return view.chartView()->mapFromScene(view.chart()->mapToScene(inChart));
    }
};

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

QString withoutInvisibleSuffix(QString label) {
    return label.remove(QChar(0x200B));
}

} // namespace

// The chart: its model of series, pages and zoom, its colours, and the view that draws the
// current page and reports clicks on points.
class TestChart : public QObject {
    Q_OBJECT

private slots:
    void labelStride_data() {
        QTest::addColumn<int>("points");
        QTest::addColumn<double>("axisLength");
        QTest::addColumn<double>("labelExtent");
        QTest::addColumn<int>("stride");
        QTest::newRow("room for all") << 10 << 1200.0 << 100.0 << 1;
        QTest::newRow("one short of fitting") << 10 << 1000.0 << 100.0 << 2;
        QTest::newRow("every 5th") << 30 << 600.0 << 80.0 << 5;
        QTest::newRow("no room: only the first") << 5 << 150.0 << 100.0 << 5;
        QTest::newRow("not laid out") << 30 << 0.0 << 80.0 << 1;
    }
    void labelStride() {
        QFETCH(int, points);
        QFETCH(double, axisLength);
        QFETCH(double, labelExtent);
        QTEST(chartLabelStride(points, axisLength, labelExtent), "stride");
    }

    void showsCurrentPage_data() {
        QTest::addColumn<int>("points");
        QTest::addColumn<int>("perPage");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("width");
        QTest::newRow("100 at 30, last page of 10") << 100 << 30 << 4 << 900;
        QTest::newRow("10 at 5, all labelled") << 10 << 5 << 2 << 900;
        QTest::newRow("1500 per page, narrow") << 3000 << 1500 << 1 << 470;
        QTest::newRow("30 per page, narrow") << 100 << 30 << 1 << 300;
    }
    void showsCurrentPage() {
        QFETCH(int, points);
        QFETCH(int, perPage);
        QFETCH(int, page);
        QFETCH(int, width);
        Fixture f(points, perPage, 2, QSize(width, 500));
        f.show();
        f.model.setCurrentPage(page);
        QCoreApplication::processEvents();

        const int first = (page - 1) * perPage;
        const int shown = std::min(perPage, points - first);
        for (int s = 0; s < 2; ++s) {
            const QList<QPointF> drawn = f.line(s)->points();
            QCOMPARE(drawn.size(), shown);
            QCOMPARE(drawn.first().x(), f.model.series(s)->point(first).x);
            QCOMPARE(drawn.last().y(), f.model.series(s)->point(first + shown - 1).y);
        }
        // Labels come from the page's points, in order, the first point labelled, none overlapping.
        const QStringList labels = f.axisX()->categoriesLabels();
        QVERIFY(!labels.isEmpty());
        QCOMPARE(withoutInvisibleSuffix(labels.first()), labelOf(first));
        const QFontMetricsF metrics(f.axisX()->labelsFont());
        const QRectF plot = f.view.chart()->plotArea();
        const double pixelsPerX = plot.width() / (f.axisX()->max() - f.axisX()->min());
        for (qsizetype i = 0; i < labels.size(); ++i) {
            const double x = f.axisX()->endValue(labels[i]);
            const int index = int(std::lround((x - 40000) * 24));
            QVERIFY(index >= first && index < first + shown);
            QCOMPARE(withoutInvisibleSuffix(labels[i]), labelOf(index));
            if (i > 0) {
                const double gap = (x - f.axisX()->endValue(labels[i - 1])) * pixelsPerX;
                QVERIFY2(gap >= metrics.horizontalAdvance(labelOf(index)), qPrintable(labels[i]));
            }
        }
        if (perPage <= 5)
            QCOMPARE(labels.size(), shown);
        // Qt Charts elides a label it has no room for; thinning must leave every label whole.
        for (QGraphicsItem* item : f.view.chart()->scene()->items()) {
            if (auto* text = dynamic_cast<QGraphicsTextItem*>(item))
                QVERIFY2(!text->toPlainText().endsWith(QStringLiteral("...")),
                         qPrintable(text->toPlainText()));
        }
    }

    void zoomAndUndo() {
        Fixture f(100, 30);
        f.show();
        const double fullMin = f.axisX()->min();
        const double fullMax = f.axisX()->max();
        QWidget* viewport = f.view.chartView()->viewport();

        const QPoint from = f.plotPos(0.25, 0.2);
        const QPoint to = f.plotPos(0.6, 0.8);
        QTest::mousePress(viewport, Qt::LeftButton, {}, from);
        QTest::mouseMove(viewport, to);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
        QCoreApplication::processEvents();
        QVERIFY(f.model.isZoomed());
        QVERIFY(f.axisX()->min() > fullMin && f.axisX()->max() < fullMax);
        QCOMPARE(f.axisX()->min(), f.model.zoomRect().left());

        f.model.undoZoom();
        QCoreApplication::processEvents();
        QCOMPARE(f.axisX()->min(), fullMin);
        QCOMPARE(f.axisX()->max(), fullMax);

        // A drag to the left undoes a zoom as well.
        f.model.zoomIn(QRectF(40000.2, 0, 0.3, 10));
        QCoreApplication::processEvents();
        QTest::mousePress(viewport, Qt::LeftButton, {}, to);
        QTest::mouseMove(viewport, from);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, from);
        QCoreApplication::processEvents();
        QVERIFY(!f.model.isZoomed());
        QCOMPARE(f.axisX()->max(), fullMax);
    }

    void clickReportsGlobalIndex() {
        Fixture f(100, 30, 2);
        f.model.setCurrentPage(2);
        f.show();
        QSignalSpy clicked(&f.view, &ChartView::pointClicked);
        QWidget* viewport = f.view.chartView()->viewport();

        QTest::mouseClick(viewport, Qt::LeftButton, {}, f.viewportPos(1, 35) + QPoint(2, -1));
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.at(0).at(0).toInt(), 1);
        QCOMPARE(clicked.at(0).at(1).toInt(), 35);

        QTest::mouseClick(viewport, Qt::LeftButton, {}, f.viewportPos(0, 59));
        QCOMPARE(clicked.count(), 2);
        QCOMPARE(clicked.at(1).at(0).toInt(), 0);
        QCOMPARE(clicked.at(1).at(1).toInt(), 59);

        // Between two points, away from both lines' markers: nothing.
        const QPoint a = f.viewportPos(0, 40);
        const QPoint b = f.viewportPos(0, 41);
        QTest::mouseClick(viewport, Qt::LeftButton, {},
                          QPoint((a.x() + b.x()) / 2, f.plotPos(0, 0.02).y()));
        QCOMPARE(clicked.count(), 2);
    }

    void saveBmp() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        Fixture f(100, 30, 1, QSize(727, 625));
        f.model.setTitleLines({QStringLiteral("Время - Литры"), QStringLiteral("Страница 1 из 4")});
        f.show();
        const QString path = dir.filePath(QStringLiteral("chartimage.bmp"));
        // A link planted at the picture's name must be replaced, not written through.
        const QString victim = dir.filePath(QStringLiteral("victim"));
        QVERIFY(writeBytes(victim, "keep") && QFile::link(victim, path));

        f.view.saveToBmp(path);
        QImageReader reader(path);
        QCOMPARE(reader.format(), QByteArray("bmp"));
        const QImage image = reader.read();
        QCOMPARE(image.size(), QSize(727, 625));
        QVERIFY(!QFileInfo(path).isSymLink());
        QCOMPARE(readBytes(victim), QByteArray("keep"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2); // no temporary left behind

        // What cannot be written is said in Russian, and a full disk (here a file size limit)
        // leaves the earlier picture whole and no part of the new one.
        const QString failed = QStringLiteral("Не удалось записать файл %1: ");
        const QString missing = dir.filePath("missing/chartimage.bmp");
        QCOMPARE(errorOf<EOSError>([&] { f.view.saveToBmp(missing); }),
                 failed.arg(missing) + "Файл или папка не найдены");
        const QByteArray earlier = readBytes(path);
        rlimit limit{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
        const rlimit small{100000, limit.rlim_max};
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        const QString full = errorOf<EOSError>([&] { f.view.saveToBmp(path); });
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, previous);
        QCOMPARE(full, failed.arg(path) + "Файл слишком велик");
        QCOMPARE(readBytes(path), earlier);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    // Refreshes wait for the event loop and for a shown chart, and skip points behind the page.
    void refreshesCoalesce() {
        Fixture f(0, 30, 2);
        f.show();
        QSignalSpy refreshed(&f.view, &ChartView::refreshed);
        f.model.series(0)->addPoint(-1, 0); // queued while shown, as a run's clearing is
        f.model.setVisible(false);
        QVERIFY(!f.view.isVisible());
        for (int i = 0; i < 5000; ++i) {
            f.model.series(0)->addPoint(i, i % 100, labelOf(i));
            f.model.series(1)->addPoint(i, i % 50, labelOf(i));
            if (i % 1000 == 0)
                QCoreApplication::processEvents();
        }
        f.model.setTitleLines({QStringLiteral("a"), QStringLiteral("b")});
        QCoreApplication::processEvents();
        QCOMPARE(refreshed.count(), 0);
        f.model.setVisible(true);
        QCoreApplication::processEvents();
        QCOMPARE(refreshed.count(), 1);
        QCOMPARE(f.line(0)->points().size(), 30);
        QCOMPARE(f.line(1)->points().size(), 30);
        f.model.series(0)->addPoint(5000, 1, labelOf(5000));
        QCoreApplication::processEvents();
        QCOMPARE(refreshed.count(), 1);
    }

    void marksInStatisticsFormat() {
        // The operator compares marks with the statistics labels: same digits, same separators.
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        Fixture f(0, 3, 2);
        const double values[] = {19465.86, 1234567.891, 0.5, 123456789.0};
        for (int i = 0; i < 4; ++i) {
            f.model.series(0)->addPoint(i, values[i]);
            f.model.series(1)->addPoint(i, -values[i]);
        }
        f.show();
        QCOMPARE(f.view.markTexts(), QStringList());
        f.model.series(1)->setMarksVisible(true);
        f.view.refreshNow();
        QCOMPARE(f.view.markTexts(), QStringList({"-19465,86", "-1234567,90", "-0,50"}));
        f.model.series(0)->setMarksVisible(true);
        f.model.setCurrentPage(2);
        f.view.refreshNow();
        QCOMPARE(f.view.markTexts(), QStringList({"1,2345679E8", "-1,2345679E8"}));
        QLocale::setDefault(QLocale::c());
    }

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

QTEST_MAIN(TestChart)
#include "tst_chart.moc"
