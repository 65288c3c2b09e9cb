#include "platform/chart/ChartModel.h"
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
#include <QValueAxis>
#include <QtTest>

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

QString withoutInvisibleSuffix(QString label) {
    return label.remove(QChar(0x200B));
}

} // namespace

class TestChartView : public QObject {
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
        QFile v(victim);
        QVERIFY(v.open(QIODevice::WriteOnly));
        v.write("keep");
        v.close();
        QVERIFY(QFile::link(victim, path));

        f.view.saveToBmp(path);
        QImageReader reader(path);
        QCOMPARE(reader.format(), QByteArray("bmp"));
        const QImage image = reader.read();
        QCOMPARE(image.size(), QSize(727, 625));
        QVERIFY(!QFileInfo(path).isSymLink());
        QVERIFY(v.open(QIODevice::ReadOnly));
        QCOMPARE(v.readAll(), QByteArray("keep"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2); // no temporary left behind

        QVERIFY_THROWS_EXCEPTION(EOSError,
                                 f.view.saveToBmp(dir.filePath("missing/chartimage.bmp")));
    }

    // Refreshes wait for the event loop and for a shown chart, and skip points behind the page.
    void refreshesCoalesce() {
        Fixture f(0, 30, 2);
        f.show();
        QSignalSpy refreshed(&f.view, &ChartView::refreshed);
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
};

QTEST_MAIN(TestChartView)
#include "tst_chartview.moc"
