#include "common/ExtractorHarness.h"

#include "extraction/GSMExtractor.h"
#include "platform/chart/ChartPalette.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProgressBar>

namespace {

// A function, not a constant: the date functions must not run before their own statics.
TDateTime day24() {
    return encodeDateTime(2009, 8, 24);
}
const QString all4[] = {QStringLiteral("АИ-92"), QStringLiteral("АИ-95"), QStringLiteral("ДТ"),
                        QStringLiteral("АИ-95 'Премиум'")};

TQueryItems grades(const QStringList& names) {
    TQueryItems items;
    for (const QString& name : names)
        items << TQueryItem{name, 0};
    return items;
}

std::unique_ptr<TGSMExtractor> fuelExtractor(ExtractorHarness& h, TDateTime from, TDateTime to,
                                             const TGSMColor& colors = {}) {
    auto e = std::make_unique<TGSMExtractor>(0, from, to, 0, &h.dataSet, &h.chart, &h.owner, colors,
                                             &h.pageBar);
    e->SetStepMultiplier(1);
    e->SetStepUnit(2);
    e->SetTitle(QStringLiteral("Время - Литры"));
    e->SetFuelMode(true);
    e->SetMinLabel(&h.minLabel);
    e->SetMaxLabel(&h.maxLabel);
    e->SetCountLabel(&h.countLabel);
    return e;
}

bool near(const QList<double>& got, const QList<double>& expected) {
    if (got.size() != expected.size())
        return false;
    for (qsizetype i = 0; i < got.size(); ++i)
        if (std::fabs(got[i] - expected[i]) > 1e-9)
            return false;
    return true;
}

QString text(const QList<double>& values) {
    QStringList parts;
    for (double v : values)
        parts << QString::number(v, 'g', 12);
    return parts.join(QStringLiteral(", "));
}

} // namespace

class TestGSMExtractor : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void buildSQL_data();
    void buildSQL();
    void summedRun_data();
    void summedRun();
    void perGradeColoursAndTitles();
    void ninthGradeAddsSeries();
    void threeGradesOnEightSeries();
    void emptyPeriod();
    void failedRunThenSuccess_data();
    void failedRunThenSuccess();
    void destroyWhileWaitingOrRunning();
    void trackBarMaximum_data();
    void trackBarMaximum();
    void extremes_data();
    void extremes();
};

void TestGSMExtractor::initTestCase() {
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}

void TestGSMExtractor::buildSQL_data() {
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<QString>("sql");
    const QString head = "SELECT * FROM LogTran WHERE Data >= '2009-08-24 00:00:00.000' AND "
                         "Data < '2009-08-25 00:00:00.000'";
    QTest::newRow("both bounds")
        << 10.0 << 50.0
        << "SELECT * FROM LogTran WHERE Data >= '2009-08-24 00:00:00.000' AND Data < "
           "'2009-08-25 00:00:00.000' AND Liter >= 10 AND Liter < 50 ORDER BY Data, GSMName";
    QTest::newRow("no bounds") << 0.0 << 0.0 << head + " ORDER BY Data, GSMName";
    QTest::newRow("lower only, fractional")
        << 12.5 << 0.0 << head + " AND Liter >= 12.5 ORDER BY Data, GSMName";
    QTest::newRow("upper only") << 0.0 << 1000.0
                                << head + " AND Liter < 1000 ORDER BY Data, GSMName";
    QTest::newRow("negative bound is none") << -5.0 << 0.0 << head + " ORDER BY Data, GSMName";
}

void TestGSMExtractor::buildSQL() {
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(QString, sql);
    TGSMExtractor e(0, 0, 0, 0, nullptr, nullptr, nullptr, {}, nullptr);
    e.SetLiterLow(low);
    e.SetLiterHigh(high);
    QCOMPARE(e.BuildSQL(day24(), day24() + 1), sql);
}

void TestGSMExtractor::summedRun_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("schema");
    QTest::addColumn<double>("multiplier");
    QTest::addColumn<int>("unit");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<QString>("maxText");
    const QStringList all(std::begin(all4), std::end(all4));
    // The fixture's row at the period's end and the one a millisecond before its start stay
    // out; "аи-92" is another grade than "АИ-92".
    QTest::newRow("litres") << all << 0 << 1.0 << 2 << 0.0 << 0.0 << QList<double>{194.98, 0}
                            << "194,98  ";
    QTest::newRow("money") << all << 1 << 1.0 << 2 << 0.0 << 0.0 << QList<double>{2109.9, 0}
                           << "2109,90  ";
    QTest::newRow("fillings") << all << 2 << 1.0 << 2 << 0.0 << 0.0 << QList<double>{7, 0}
                              << "7,00  ";
    QTest::newRow("unknown schema adds nothing")
        << all << 7 << 1.0 << 2 << 0.0 << 0.0 << QList<double>{0, 0} << "0,00  ";
    QTest::newRow("litre bounds: lower inclusive, upper exclusive")
        << all << 2 << 1.0 << 2 << 10.0 << 50.0 << QList<double>{5, 0} << "5,00  ";
    QTest::newRow("one grade, six-hour steps, 23:59:59.999 in the last quarter")
        << QStringList{"ДТ"} << 0 << 6.0 << 1 << 0.0 << 0.0 << QList<double>{0, 10, 0, 49.99, 0}
        << "49,99  ";
    QTest::newRow("apostrophe in a grade") << QStringList{"АИ-95 'Премиум'"} << 1 << 1.0 << 2 << 0.0
                                           << 0.0 << QList<double>{520, 0} << "520,00  ";
}

void TestGSMExtractor::summedRun() {
    QFETCH(QStringList, names);
    QFETCH(int, schema);
    QFETCH(double, multiplier);
    QFETCH(int, unit);
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(QList<double>, values);
    QFETCH(QString, maxText);
    ExtractorHarness h(QStringLiteral("dspLogtran"));
    QVERIFY2(h.station.isValid(), qPrintable(h.station.error()));
    auto e = fuelExtractor(h, day24(), day24() + 1);
    e->SetItems(grades(names));
    e->SetSchema(schema);
    e->SetLiterLow(low);
    e->SetLiterHigh(high);
    e->SetStepMultiplier(multiplier);
    e->SetStepUnit(unit);
    ExtractorHarness::run(*e);
    QCOMPARE(h.boxes.size(), 0);
    QVERIFY2(near(h.values(0), values), qPrintable(text(h.values(0))));
    QCOMPARE(h.maxLabel.text(), maxText);
    QCOMPARE(h.minLabel.text(), QStringLiteral("0,00  "));
    QCOMPARE(h.countLabel.text(), QString::number(values.size()));
    QCOMPARE(h.chart.series(0)->point(0).label, QStringLiteral("24.08.09 00:00"));
    QCOMPARE(h.chart.titleLines(),
             QStringList({"Время - Литры c 24.08.2009 по 25.08.2009", "Страница 1 из 1"}));
    QVERIFY(h.chart.isVisible());
    QVERIFY(h.owner.isEnabled());
    QVERIFY(!e->Progress()->isVisible());
    QVERIFY(!h.dataSet.active());
    QVERIFY(!h.dataSet.filtered());
    QVERIFY(!h.connection.connected());
}

void TestGSMExtractor::perGradeColoursAndTitles() {
    ExtractorHarness h(QStringLiteral("dspLogtran"));
    const TGSMColor colors{{QStringLiteral("АИ-92"), kPaletteIndexFlag | 19},
                           {QStringLiteral("АИ-95 'Премиум'"), kPaletteIndexFlag | 17},
                           {QStringLiteral("аи-92"), kPaletteIndexFlag | 5}};
    auto e = fuelExtractor(h, day24(), day24() + 1, colors);
    e->SetItems(grades({"АИ-92", "АИ-95 'Премиум'", "ДТ"}));
    e->SetMultiGraph(true);
    ExtractorHarness::run(*e);
    QCOMPARE(h.boxes.size(), 0);
    QCOMPARE(h.chart.seriesCount(), 3);
    QVERIFY(near(h.values(0), {79.99, 0}));
    QVERIFY(near(h.values(1), {40, 0}));
    QVERIFY(near(h.values(2), {59.99, 0}));
    QCOMPARE(h.chart.series(0)->color(), chartPaletteColor(19));
    QCOMPARE(h.chart.series(1)->color(), chartPaletteColor(17));
    // No colour for ДТ: the series keeps the one it was created with (third series: entry 15).
    QCOMPARE(h.chart.series(2)->color(), chartPaletteColor(15));
    QCOMPARE(h.chart.series(2)->point(0).color, chartPaletteColor(15));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(h.chart.series(i)->title(), e->Items().at(i).Name);
        QVERIFY(h.chart.series(i)->isShownInLegend());
    }
    QVERIFY(h.chart.isLegendVisible());
    QCOMPARE(h.maxLabel.text(), QStringLiteral("79,99  АИ-92"));
    QCOMPARE(h.minLabel.text(), QStringLiteral("0,00  ДТ"));
}

void TestGSMExtractor::ninthGradeAddsSeries() {
    ExtractorHarness h(QStringLiteral("dspLogtran"));
    for (int i = 0; i < 8; ++i)
        h.chart.addSeries()->setColor(Qt::blue);
    auto e = fuelExtractor(h, day24(), day24() + 1);
    QStringList names{"АИ-92"};
    for (int i = 2; i <= 9; ++i)
        names << QStringLiteral("Газ-%1").arg(i);
    e->SetItems(grades(names));
    e->SetMultiGraph(true);
    ExtractorHarness::run(*e);
    QCOMPARE(h.chart.seriesCount(), 9);
    const ChartSeries* ninth = h.chart.series(8);
    QCOMPARE(ninth->title(), QStringLiteral("Газ-9"));
    QCOMPARE(ninth->count(), 2);
    QCOMPARE(ninth->lineWidth(), 3);
    QVERIFY(ninth->isMarkerVisible());
    QCOMPARE(ninth->markerSize(), 6);
    QCOMPARE(ninth->markerShape(), ChartMarkerShape::Circle);
    QCOMPARE(ninth->color(), chartPaletteColor(18 - 9));
    QCOMPARE(h.chart.series(7)->color(), QColor(Qt::blue));
}

void TestGSMExtractor::threeGradesOnEightSeries() {
    ExtractorHarness h(QStringLiteral("dspLogtran"));
    for (int i = 0; i < 8; ++i)
        h.chart.addSeries()->addPoint(1, 5, QStringLiteral("old"));
    auto e = fuelExtractor(h, day24(), day24() + 1);
    e->SetItems(grades({"АИ-92", "АИ-95", "ДТ"}));
    e->SetMultiGraph(true);
    ExtractorHarness::run(*e);
    QCOMPARE(h.chart.seriesCount(), 8);
    for (int i = 3; i < 8; ++i) {
        QCOMPARE(h.chart.series(i)->count(), 0);
        QCOMPARE(h.chart.series(i)->title(), QString());
    }
    QCOMPARE(h.maxLabel.text(), QStringLiteral("79,99  АИ-92"));
    // The empty series take part with 0, and the last of equal minima wins.
    QCOMPARE(h.minLabel.text(), QStringLiteral("0,00  "));
}

void TestGSMExtractor::emptyPeriod() {
    ExtractorHarness h(QStringLiteral("dspLogtran"));
    auto e = fuelExtractor(h, encodeDateTime(2009, 8, 1), encodeDateTime(2009, 8, 2));
    e->SetItems(grades({"АИ-92"}));
    ExtractorHarness::run(*e);
    QCOMPARE(h.boxes.size(), 0);
    QCOMPARE(h.values(0), (QList<double>{0, 0}));
    QCOMPARE(h.chart.titleLines().value(0),
             QStringLiteral("Время - Литры c 01.08.2009 по 02.08.2009"));
    QCOMPARE(h.chart.leftAxisTitle(), QStringLiteral("Литры"));
    QCOMPARE(h.maxLabel.text(), QStringLiteral("0,00  "));
    QCOMPARE(h.minLabel.text(), QStringLiteral("0,00  "));
    QCOMPARE(e->Progress()->ProgressBar1()->value(), e->Progress()->ProgressBar1()->maximum());
    QVERIFY(h.owner.isEnabled());
}

void TestGSMExtractor::failedRunThenSuccess_data() {
    QTest::addColumn<bool>("missingDatabase");
    QTest::addColumn<QString>("message");
    QTest::newRow("database missing") << true << "не найден";
    QTest::newRow("step never set") << false << "больше нуля";
}

void TestGSMExtractor::failedRunThenSuccess() {
    QFETCH(bool, missingDatabase);
    QFETCH(QString, message);
    ExtractorHarness h(QStringLiteral("dspLogtran"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Торви"));
    auto e = std::make_unique<TGSMExtractor>(0, day24(), day24() + 1, 0, &h.dataSet, &h.chart,
                                             &h.owner, TGSMColor{}, &h.pageBar);
    e->SetItems(grades({"АИ-92"}));
    if (missingDatabase) {
        e->SetStepMultiplier(1);
        e->SetStepUnit(2);
        h.fuelFolder = h.station.root() + QStringLiteral("/нет такой папки");
    }
    ExtractorHarness::run(*e);
    QCOMPARE(h.boxes.size(), 1);
    QCOMPARE(h.boxes[0].caption, QStringLiteral("Торви"));
    QCOMPARE(h.boxes[0].icon, MessageBoxes::Icon::None);
    QVERIFY2(h.boxes[0].text.contains(message), qPrintable(h.boxes[0].text));
    QVERIFY(h.boxes[0].text.endsWith(QLatin1Char(' ')));
    QVERIFY(h.windowEnabledAtBox);
    QVERIFY(!e->Progress()->isVisible());
    QVERIFY(!h.chart.isVisible());
    QVERIFY(!h.connection.connected());

    h.fuelFolder = h.station.fuelFolder();
    e->SetStepMultiplier(1);
    e->SetStepUnit(2);
    ExtractorHarness::run(*e);
    QCOMPARE(h.boxes.size(), 1);
    QCOMPARE(h.values(0), (QList<double>{79.99, 0}));
    QVERIFY(h.chart.isVisible());
}

void TestGSMExtractor::destroyWhileWaitingOrRunning() {
    ExtractorHarness h(QStringLiteral("dspLogtran"));
    QElapsedTimer timer;
    timer.start();
    fuelExtractor(h, day24(), day24() + 1).reset(); // never started
    auto e = fuelExtractor(h, day24(), day24() + 1);
    e->SetItems(grades({"АИ-92"}));
    ExtractorHarness::run(*e);
    e.reset(); // waiting between runs
    QVERIFY(timer.elapsed() < 5000);

    // A month at one-minute steps is 43 201 synchronised calls; the destructor serves the
    // pending one and the worker gives up at the next bucket.
    e = fuelExtractor(h, day24(), day24() + 30);
    e->SetItems(grades({"АИ-92"}));
    e->SetStepUnit(0);
    e->Resume();
    // More points than the day's run left: this run is drawing.
    QTRY_VERIFY_WITH_TIMEOUT(h.chart.series(0)->count() > 2, 5000);
    // Mid-run: the operator can neither close the progress window nor use the statistics window.
    QVERIFY2(!e->Progress()->close(), "the progress window closed during a run");
    QVERIFY(e->Progress()->isVisible());
    QVERIFY(!h.owner.isEnabled());
    timer.restart();
    e.reset();
    QVERIFY(timer.elapsed() < 5000);
    QVERIFY(h.chart.series(0)->count() < 43201);
    QVERIFY(h.owner.isEnabled());
    QVERIFY(!h.connection.connected());
    QCOMPARE(h.boxes.size(), 0);
}

void TestGSMExtractor::trackBarMaximum_data() {
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("maximum");
    QTest::newRow("45 points") << 45 << 2;
    QTest::newRow("60 points") << 60 << 2;
    QTest::newRow("61 points") << 61 << 3;
    QTest::newRow("no points still one page") << 0 << 1;
}

void TestGSMExtractor::trackBarMaximum() {
    QFETCH(int, points);
    QFETCH(int, maximum);
    ChartModel chart;
    QSlider bar;
    bar.setRange(1, 100);
    bar.setValue(7);
    ChartSeries* series = chart.addSeries();
    for (int i = 0; i < points; ++i)
        series->addPoint(i, i);
    chart.setCurrentPage(2);
    chart.zoomIn(QRectF(0, 0, 5, 5));
    TGSMExtractor e(2, 0, 1, 1, nullptr, &chart, nullptr, {}, &bar);
    e.FinishChart();
    QCOMPARE(bar.maximum(), maximum);
    QCOMPARE(bar.minimum(), 1);
    QCOMPARE(bar.value(), 1);
    QCOMPARE(chart.currentPage(), 1);
    QVERIFY(!chart.isZoomed());
}

void TestGSMExtractor::extremes_data() {
    QTest::addColumn<bool>("multiGraph");
    QTest::addColumn<QList<QList<double>>>("series");
    QTest::addColumn<QList<bool>>("active");
    QTest::addColumn<QString>("maxText");
    QTest::addColumn<QString>("minText");
    using Series = QList<QList<double>>;
    QTest::newRow("first of equal maxima, last of equal minima")
        << true << Series{{5, 1}, {5, 1}} << QList<bool>{true, true} << "5,00  A"
        << "1,00  B";
    QTest::newRow("inactive series left out")
        << true << Series{{3, 2}, {9, 1}} << QList<bool>{true, false} << "3,00  A"
        << "2,00  A";
    // No series beats 0 for the maximum: the minimum's value and name are shown again.
    QTest::newRow("nothing above zero")
        << true << Series{{-1}, {-2}} << QList<bool>{true, true} << "-2,00  B"
        << "-2,00  B";
    QTest::newRow("nothing up to 1e9") << true << Series{{2e9}} << QList<bool>{true} << "2E9  A"
                                       << "0,00  ";
    QTest::newRow("summed: first series, no name")
        << false << Series{{1, 7}, {100}} << QList<bool>{true, true} << "7,00  "
        << "1,00  ";
}

void TestGSMExtractor::extremes() {
    QFETCH(bool, multiGraph);
    QFETCH(QList<QList<double>>, series);
    QFETCH(QList<bool>, active);
    QFETCH(QString, maxText);
    QFETCH(QString, minText);
    ChartModel chart;
    for (int i = 0; i < series.size(); ++i) {
        ChartSeries* s = chart.addSeries();
        s->setTitle(QString(QChar(u'A' + i)));
        s->setActive(active[i]);
        for (double y : series[i])
            s->addPoint(0, y);
    }
    QLabel minLabel, maxLabel;
    TGSMExtractor e(2, 0, 1, 1, nullptr, &chart, nullptr, {}, nullptr);
    e.SetMultiGraph(multiGraph);
    e.SetMinLabel(&minLabel);
    e.SetMaxLabel(&maxLabel);
    e.FinishChart();
    QCOMPARE(maxLabel.text(), maxText);
    QCOMPARE(minLabel.text(), minText);
}

QTEST_MAIN(TestGSMExtractor)
#include "tst_gsmextractor.moc"
