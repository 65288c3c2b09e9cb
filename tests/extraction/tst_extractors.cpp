#include "common/Errors.h"
#include "common/ExtractorHarness.h"

#include "extraction/BucketPass.h"
#include "extraction/ChainExtractor.h"
#include "extraction/FoodExtractor.h"
#include "extraction/GSMExtractor.h"
#include "extraction/QueryLiterals.h"
#include "extraction/StatTexts.h"
#include "platform/chart/ChartPalette.h"

#include "platform/data/StationDateTime.h"
#include "platform/data/postgres/PostgresSchema.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>
#include <condition_variable>
#include <csignal>
#include <limits>
#include <vector>

namespace {

struct Row {
    TDateTime time;
    double amount;
};

struct VectorRows {
    const std::vector<Row>& rows;
    std::size_t at = 0;
    bool AtEnd() const { return at >= rows.size(); }
    TDateTime Time() const { return rows[at].time; }
    double Amount() const { return rows[at].amount; }
    void Next() { ++at; }
};

struct Point {
    TDateTime start;
    double sum;
    int consumed;
};

std::vector<Point> pass(TDateTime from, TDateTime to, double step, const std::vector<Row>& rows) {
    std::vector<Point> points;
    VectorRows source{rows};
    RunBucketPass(from, to, step, source, [&](TDateTime start, double sum, int consumed) {
        points.push_back({start, sum, consumed});
    });
    return points;
}

// A function, not a constant: the date functions must not run before their own statics.
TDateTime day24() {
    return encodeDateTime(2009, 8, 24);
}

TQueryItems grades(const QStringList& names) {
    TQueryItems items;
    for (const QString& name : names)
        items << TQueryItem{name, 0};
    return items;
}

std::unique_ptr<TGSMExtractor> fuelExtractor(ExtractorHarness& h, const QStringList& names,
                                             TDateTime to = day24() + 1,
                                             const TGSMColor& colors = {}) {
    auto e = std::make_unique<TGSMExtractor>(0, day24(), to, 0, &h.dataSet, &h.chart, &h.owner,
                                             colors, &h.pageBar);
    e->SetStepMultiplier(1);
    e->SetStepUnit(2);
    e->SetTitle(QStringLiteral("Время - Литры"));
    e->SetFuelMode(true);
    e->SetMinLabel(&h.minLabel);
    e->SetMaxLabel(&h.maxLabel);
    e->SetCountLabel(&h.countLabel);
    e->SetItems(grades(names));
    return e;
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

// A station's server whose fuel statement waits until it is cancelled, as a slow station's
// would: the case can cancel in the middle of a chain run without depending on timing.
class StuckServer : public TStatServer {
public:
    explicit StuckServer(std::unique_ptr<TStatServer> real)
        : m_real(std::move(real)) {}
    void setStatParameter(int index, const QString& value) override {
        m_real->setStatParameter(index, value);
    }
    QString statParameter(int index) const override { return m_real->statParameter(index); }
    std::shared_ptr<const TDataPacket> provide(const QString& provider, const QString& text,
                                               const QHash<QString, TFieldType>& types) override {
        if (statParameter(2).endsWith("stuck")) {
            std::unique_lock lock(m_mutex);
            ++waiting;
            m_wake.wait(lock, [this] { return m_cancelled; });
            throw EOperationCancelled();
        }
        return m_real->provide(provider, text, types);
    }
    void cancel() override {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_wake.notify_all();
    }
    void resetCancel() override {}
    static inline std::atomic<int> waiting{0};

private:
    std::unique_ptr<TStatServer> m_real;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_cancelled = false;
};

} // namespace

using Sums = QList<double>;

// The bucket pass over rows of its own; the fuel and goods extractors over the small hand-built
// station, on whichever server the fixture chose; the end of a fuel run on a chart of its own.
class TestExtractors : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }

    void buckets_data() {
        QTest::addColumn<double>("to");
        QTest::addColumn<double>("step");
        QTest::addColumn<QList<double>>("times");
        QTest::addColumn<Sums>("sums");
        const double ms = 1.0 / kMsecPerDay;
        QTest::newRow("three whole days give four points, the last empty")
            << day24() + 3 << 1.0 << QList<double>{day24() + 0.5, day24() + 2.9}
            << Sums{1, 0, 1, 0};
        QTest::newRow("start of a bucket belongs to it, its end to the next")
            << day24() + 2 << 1.0 << QList<double>{day24(), day24() + 1, day24() + 1}
            << Sums{1, 2, 0};
        QTest::newRow("23:59:59.999 stays in its day")
            << day24() + 1 << 1.0 << QList<double>{day24() + 1 - ms} << Sums{1, 0};
        QTest::newRow("period shorter than a step")
            << day24() + 0.5 << 1.0 << QList<double>{day24() + 0.25} << Sums{1};
        QTest::newRow("empty period, from equals to")
            << day24() << 1.0 << QList<double>{} << Sums{0};
        QTest::newRow("rows beyond the last bucket are left")
            << day24() + 1 << 1.0 << QList<double>{day24() + 0.5, day24() + 5} << Sums{1, 0};
        QTest::newRow("six-hour buckets over a day")
            << day24() + 1 << 0.25
            << QList<double>{day24() + 0.25 - ms, day24() + 0.25, day24() + 0.75}
            << Sums{1, 1, 0, 1, 0};
        QTest::newRow("hour steps: the starts are added up")
            << day24() + 1 << 1.0 / 24 << QList<double>{} << Sums(25, 0);
    }
    void buckets() {
        QFETCH(double, to);
        QFETCH(double, step);
        QFETCH(QList<double>, times);
        std::vector<Row> rows;
        for (double t : times)
            rows.push_back({t, 1});
        Sums got;
        TDateTime start = day24();
        for (const Point& p : pass(day24(), to, step, rows)) {
            // From DateFrom in double precision, as the windows' dates are; every row once.
            QVERIFY(p.start == start); // exactly, not within QCOMPARE's tolerance
            QCOMPARE(p.consumed, int(p.sum));
            start += step;
            got << p.sum;
        }
        QTEST(got, "sums");
    }

    // Steps that would never finish, and sums that would show as «INF» or «NAN».
    void refusedPasses_data() {
        QTest::addColumn<double>("to");
        QTest::addColumn<double>("step");
        QTest::addColumn<QList<double>>("amounts"); // one row every six hours from DateFrom
        QTest::addColumn<QString>("message");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        const QList<double> none;
        QTest::newRow("zero: the unit never set") << day24() + 1 << 0.0 << none << "больше нуля";
        QTest::newRow("not a number") << day24() + 1 << nan << none << "больше нуля";
        QTest::newRow("too small to move the start")
            << day24() + 1 << 1e-15 << none << "слишком мал";
        QTest::newRow("endless period") << inf << 1.0 << none << "слишком мал";
        QTest::newRow("a step's sum overflows")
            << day24() + 1 << 1.0 << QList<double>{1e308, 1e308}
            << "Сумма за шаг с 24.08.09 00:00 не является числом или выходит за пределы ±1E15";
        QTest::newRow("a step's sum beyond 1E15")
            << day24() + 1 << 0.25 << QList<double>{1, -2e15} << "Сумма за шаг с 24.08.09 06:00";
        QTest::newRow("a value that is not a number")
            << day24() + 1 << 1.0 << QList<double>{nan} << "Сумма за шаг с 24.08.09 00:00";
        QTest::newRow("the total beyond 1E15, every step within")
            << day24() + 1 << 0.25 << QList<double>{9e14, 1e15 - 9e14, 1}
            << "Сумма с начала периода по шаг с 24.08.09 12:00 выходит за пределы ±1E15";
    }
    void refusedPasses() {
        QFETCH(double, to);
        QFETCH(double, step);
        QFETCH(QList<double>, amounts);
        QFETCH(QString, message);
        std::vector<Row> rows;
        for (qsizetype i = 0; i < amounts.size(); ++i)
            rows.push_back({day24() + 0.25 * double(i), amounts[i]});
        const QString error = errorOf<EConvertError>([&] { pass(day24(), to, step, rows); });
        QVERIFY2(error.contains(message), qPrintable(error));
    }

    void stepLength_data() {
        QTest::addColumn<double>("multiplier");
        QTest::addColumn<int>("unit");
        QTest::addColumn<double>("laterMultiplier");
        QTest::addColumn<double>("length");
        QTest::newRow("two hours") << 2.0 << 1 << 2.0 << 2.0 / 24;
        QTest::newRow("week") << 1.0 << 3 << 1.0 << 7.0;
        QTest::newRow("month is 30 days") << 1.0 << 4 << 1.0 << 30.0;
        QTest::newRow("year is 365 days") << 2.0 << 5 << 2.0 << 730.0;
        QTest::newRow("unit -1 counts as a day") << 3.0 << -1 << 3.0 << 3.0;
        QTest::newRow("multiplier after the unit changes nothing") << 1.0 << 1 << 5.0 << 1.0 / 24;
    }
    void stepLength() {
        QFETCH(double, multiplier);
        QFETCH(int, unit);
        QFETCH(double, laterMultiplier);
        TGSMExtractor extractor(0, day24(), day24() + 1, 0, nullptr, nullptr, nullptr, {}, nullptr);
        QCOMPARE(extractor.StepLength(), 0.0);
        extractor.SetStepMultiplier(multiplier);
        extractor.SetStepUnit(unit);
        extractor.SetStepMultiplier(laterMultiplier);
        QTEST(extractor.StepLength(), "length");
    }
    void buildSQL_data() {
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::addColumn<QString>("tail");
        QTest::newRow("both bounds") << 10.0 << 50.0 << " AND Liter >= 10 AND Liter < 50";
        QTest::newRow("lower only, fractional") << 12.5 << 0.0 << " AND Liter >= 12.5";
        QTest::newRow("upper only") << 0.0 << 1000.0 << " AND Liter < 1000";
        QTest::newRow("negative bound is none") << -5.0 << 0.0 << "";
    }
    void buildSQL() {
        QFETCH(double, low);
        QFETCH(double, high);
        QFETCH(QString, tail);
        TGSMExtractor e(0, 0, 0, 0, nullptr, nullptr, nullptr, {}, nullptr);
        e.SetLiterLow(low);
        e.SetLiterHigh(high);
        QCOMPARE(e.BuildSQL(day24(), day24() + 1),
                 "SELECT * FROM LogTran WHERE Data >= '2009-08-24 00:00:00.000' AND Data < "
                 "'2009-08-25 00:00:00.000'" +
                     tail + " ORDER BY Data, GSMName");
    }

    void summedRun_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("schema");
        QTest::addColumn<double>("multiplier");
        QTest::addColumn<int>("unit");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<QString>("labels"); // the largest value and the axis title
        const QStringList all{"АИ-92", "АИ-95", "ДТ", "АИ-95 'Премиум'"};
        // The fixture's row at the period's end and the one a millisecond before its start stay
        // out; "аи-92" is another grade than "АИ-92".
        // clang-format off
        QTest::newRow("litres") << all << 0 << 1.0 << 2 << 0.0 << 0.0 << QList<double>{194.98, 0}
                                << "194,98  |Литры";
        QTest::newRow("money") << all << 1 << 1.0 << 2 << 0.0 << 0.0 << QList<double>{2109.9, 0}
                               << "2109,90  |Продажа";
        QTest::newRow("fillings") << all << 2 << 1.0 << 2 << 0.0 << 0.0 << QList<double>{7, 0}
                                  << "7,00  |Количество заправок";
        QTest::newRow("unknown schema adds nothing")
            << all << 7 << 1.0 << 2 << 0.0 << 0.0 << QList<double>{0, 0} << "0,00  |";
        QTest::newRow("litre bounds: lower inclusive, upper exclusive")
            << all << 2 << 1.0 << 2 << 10.0 << 50.0 << QList<double>{5, 0}
            << "5,00  |Количество заправок";
        QTest::newRow("one grade, six-hour steps, 23:59:59.999 in the last quarter")
            << QStringList{"ДТ"} << 0 << 6.0 << 1 << 0.0 << 0.0
            << QList<double>{0, 10, 0, 49.99, 0} << "49,99  |Литры";
        // clang-format on
    }
    void summedRun() {
        QFETCH(QStringList, names);
        QFETCH(int, schema);
        QFETCH(double, multiplier);
        QFETCH(int, unit);
        QFETCH(double, low);
        QFETCH(double, high);
        QFETCH(QList<double>, values);
        ExtractorHarness h(QStringLiteral("dspLogtran"));
        QVERIFY2(h.station.isValid(), qPrintable(h.station.error()));
        auto e = fuelExtractor(h, names);
        e->SetSchema(schema);
        e->SetLiterLow(low);
        e->SetLiterHigh(high);
        e->SetStepMultiplier(multiplier);
        e->SetStepUnit(unit);
        ExtractorHarness::run(*e);
        QCOMPARE(h.boxes.size(), 0);
        QCOMPARE(h.cents(0), values);
        QTEST(h.maxLabel.text() + '|' + h.chart.leftAxisTitle(), "labels");
        QCOMPARE(h.minLabel.text(), QStringLiteral("0,00  "));
        QCOMPARE(h.countLabel.text(), QString::number(values.size()));
        QCOMPARE(h.chart.series(0)->point(0).label, QStringLiteral("24.08.09 00:00"));
        QCOMPARE(h.chart.titleLines(),
                 QStringList({"Время - Литры c 24.08.2009 по 25.08.2009", "Страница 1 из 1"}));
        QVERIFY(h.chart.isVisible() && h.owner.isEnabled() && !e->Progress()->isVisible());
        QCOMPARE(e->Progress()->ProgressBar1()->value(), e->Progress()->ProgressBar1()->maximum());
        QVERIFY(!h.dataSet.active() && !h.dataSet.filtered() && !h.connection.connected());
    }

    // Eight series are there from the window: three grades fill the first three, with their
    // colours and titles, and leave five empty; a ninth grade adds a series.
    void seriesBeyondAndBelowEight() {
        ExtractorHarness h(QStringLiteral("dspLogtran"));
        for (int i = 0; i < 8; ++i)
            h.chart.addSeries()->addPoint(1, 5, QStringLiteral("old"));
        const TGSMColor colors{{QStringLiteral("АИ-92"), kPaletteIndexFlag | 19},
                               {QStringLiteral("АИ-95 'Премиум'"), kPaletteIndexFlag | 17},
                               {QStringLiteral("аи-92"), kPaletteIndexFlag | 5}};
        QStringList names{"АИ-92", "АИ-95 'Премиум'", "ДТ"};
        const QColor third = h.chart.series(2)->color();
        auto e = fuelExtractor(h, names, day24() + 1, colors);
        e->SetMultiGraph(true);
        ExtractorHarness::run(*e);
        QCOMPARE(h.boxes.size(), 0);
        QCOMPARE(h.chart.seriesCount(), 8);
        QCOMPARE(h.cents(0) + h.cents(1) + h.cents(2), (QList<double>{79.99, 0, 40, 0, 59.99, 0}));
        QCOMPARE(h.chart.series(0)->color(), chartPaletteColor(19));
        QCOMPARE(h.chart.series(1)->color(), chartPaletteColor(17));
        // No colour for ДТ: the series keeps the one it had.
        QCOMPARE(h.chart.series(2)->color(), third);
        QCOMPARE(h.chart.series(2)->point(0).color, third);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(h.chart.series(i)->title(), names.at(i));
            QVERIFY(h.chart.series(i)->isShownInLegend());
        }
        for (int i = 3; i < 8; ++i)
            QVERIFY(h.chart.series(i)->count() == 0 && h.chart.series(i)->title().isEmpty());
        QVERIFY(h.chart.isLegendVisible());
        QCOMPARE(h.maxLabel.text(), QStringLiteral("79,99  АИ-92"));
        // The empty series take part with 0, and the last of equal minima wins.
        QCOMPARE(h.minLabel.text(), QStringLiteral("0,00  "));

        h.chart.series(7)->setColor(Qt::blue);
        for (int i = 4; i <= 9; ++i)
            names << QStringLiteral("Газ-%1").arg(i);
        e->SetItems(grades(names));
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

    // The earlier period beside each grade: same statement and pass, its buckets at this period's
    // times, its own dates in the labels; the statistics stay the period's own. A run without
    // comparison afterwards leaves no companion behind.
    void compareRun_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<TDateTime>("from");
        QTest::addColumn<QList<double>>("current"); // АИ-92 and ДТ, three 12-hour buckets each
        QTest::addColumn<QString>("labels");        // largest value | the box's change line
        const QList<double> nothing{0, 0, 0, 0, 0, 0};
        QTest::newRow("previous day") << 1 << day24() + 1 << QList<double>{30, 0, 0, 0, 0, 0}
                                      << "30,00  АИ-92|к прошлому периоду: -78,6 %";
        QTest::newRow("a year ago")
            << 2 << encodeDateTime(2010, 8, 24) << nothing << "0,00  ДТ|к году назад: -100,0 %";
    }
    void compareRun() {
        QFETCH(int, mode);
        QFETCH(TDateTime, from);
        ExtractorHarness h(QStringLiteral("dspLogtran"));
        auto e = fuelExtractor(h, {"АИ-92", "ДТ"}, from + 1);
        QLabel change;
        e->SetDateFrom(from);
        e->SetMultiGraph(true);
        e->SetStepMultiplier(12);
        e->SetStepUnit(1);
        e->SetCompareMode(TCompareMode(mode));
        e->SetCompareLabel(&change);
        ExtractorHarness::run(*e);
        QCOMPARE(h.boxes.size(), 0);
        QCOMPARE(h.chart.seriesCount(), 4);
        QTEST(h.cents(0) + h.cents(1), "current");
        QCOMPARE(h.cents(2) + h.cents(3), (QList<double>{79.99, 0, 0, 10, 49.99, 0}));
        QTEST(h.maxLabel.text() + '|' + change.text(), "labels");
        const QString suffix = mode == 1 ? " (прошлый период)" : " (год назад)";
        for (int i = 0; i < 2; ++i) {
            const ChartSeries* companion = h.chart.series(2 + i);
            QCOMPARE(companion->partner(), i);
            QCOMPARE(companion->title(), h.chart.series(i)->title() + suffix);
            QCOMPARE(companion->color(), h.chart.series(i)->color());
            for (int p = 0; p < 3; ++p) {
                QCOMPARE(companion->point(p).x, h.chart.series(i)->point(p).x);
                QCOMPARE(companion->point(p).label,
                         PointLabelText(day24() + p / 2.0, TFormatSettings::workstation()));
                QCOMPARE(DateTimeToQueryText(true, companion->ownTime(p)),
                         DateTimeToQueryText(true, day24() + p / 2.0));
            }
        }
        // One progress over both periods' rows.
        QCOMPARE(e->Progress()->ProgressBar1()->maximum(), (mode == 1 ? 1 : 0) + 8 + 1);

        e->SetCompareMode(TCompareMode::None);
        ExtractorHarness::run(*e);
        QCOMPARE(h.chart.seriesCount(), 2);
        QVERIFY(change.isHidden());
    }

    void failedRunThenSuccess_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("database missing") << "database"
                                          << "не найден";
        QTest::newRow("a grade's litres overflow")
            << "overflow"
            << "Сумма за шаг с 24.08.09 00:00 не является числом";
    }
    void failedRunThenSuccess() {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        ExtractorHarness h(QStringLiteral("dspLogtran"));
        QGuiApplication::setApplicationDisplayName(QStringLiteral("Торви"));
        auto e = fuelExtractor(h, {"АИ-92"});
        if (fault == QLatin1String("database")) {
            h.fuelFolder = h.station.root() + QStringLiteral("/нет такой папки");
        } else {
            QVERIFY(h.station.exec(h.station.fuelFile(),
                                   {"INSERT INTO LogTran (ID_LogTran, Data, GsmName, Liter, Summa) "
                                    "VALUES (90, '2009-08-24 10:00:00.000', 'Газ', 1e308, 1), "
                                    "(91, '2009-08-24 11:00:00.000', 'Газ', 1e308, 1)"}));
            e->SetItems(grades({"Газ"}));
        }
        ExtractorHarness::run(*e);
        QCOMPARE(h.boxes.size(), 1);
        QCOMPARE(h.boxes[0].caption, QStringLiteral("Торви"));
        QCOMPARE(h.boxes[0].icon, MessageBoxes::Icon::None);
        QVERIFY2(h.boxes[0].text.contains(message), qPrintable(h.boxes[0].text));
        QVERIFY(h.boxes[0].text.endsWith(QLatin1Char(' ')));
        QVERIFY(h.windowEnabledAtBox);
        QVERIFY(!e->Progress()->isVisible() && !h.chart.isVisible() && !h.connection.connected());

        h.fuelFolder = h.station.fuelFolder();
        e->SetItems(grades({"АИ-92"}));
        ExtractorHarness::run(*e);
        QCOMPARE(h.boxes.size(), 1);
        QCOMPARE(h.cents(0), (QList<double>{79.99, 0}));
        QVERIFY(h.chart.isVisible());
    }

    void destroyWhileWaitingOrRunning() {
        ExtractorHarness h(QStringLiteral("dspLogtran"));
        QElapsedTimer timer;
        timer.start();
        fuelExtractor(h, {"АИ-92"}).reset(); // never started
        auto e = fuelExtractor(h, {"АИ-92"});
        ExtractorHarness::run(*e);
        e.reset(); // waiting between runs
        QVERIFY(timer.elapsed() < 5000);

        // A month at one-minute steps is 43 201 synchronised calls; the destructor serves the
        // pending one and the worker gives up at the next bucket.
        e = fuelExtractor(h, {"АИ-92"}, day24() + 30);
        e->SetStepUnit(0);
        e->Resume();
        // More points than the day's run left: this run is drawing.
        QTRY_VERIFY_WITH_TIMEOUT(h.chart.series(0)->count() > 2, 5000);
        // Mid-run: the operator can neither close the progress window nor use the statistics
        // window.
        QVERIFY2(!e->Progress()->close(), "the progress window closed during a run");
        QVERIFY(e->Progress()->isVisible() && !h.owner.isEnabled());
        timer.restart();
        e.reset();
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY(h.chart.series(0)->count() < 43201);
        QVERIFY(h.owner.isEnabled() && !h.connection.connected() && h.boxes.isEmpty());
    }

    // "Отмена" or Escape ends a run wherever it is: in the bucket pass, in the earlier period's
    // pass, or in a query a stopped server never answers. No box, an empty chart and labels, and
    // the next run works.
    void cancelEndsRun_data() {
        QTest::addColumn<QString>("where");
        QTest::newRow("bucket pass, button") << "bucket pass";
        QTest::newRow("bucket pass, Escape") << "escape";
        QTest::newRow("earlier period's pass") << "earlier";
        QTest::newRow("query of a stopped backend") << "stopped";
    }
    void cancelEndsRun() {
        QFETCH(QString, where);
        if (where == "stopped" &&
            StationFixture::kindFromEnvironment() != StationServerKind::Postgres)
            QSKIP("runs in the PostgreSQL variant of this test");
        ExtractorHarness h(QStringLiteral("dspLogtran"));
        auto e = fuelExtractor(h, {"АИ-92"}, day24() + 30);
        e->SetStepUnit(0);
        e->SetCompareMode(where == "earlier" ? TCompareMode::Previous : TCompareMode::None);
        // The run's query waits for the table a transaction of the test holds; its backend is
        // then stopped, so that neither the query nor a cancel request gets an answer.
        QSqlDatabase locker;
        pid_t backend = 0;
        // However the test ends, the backend goes on and the table is free.
        const auto release = [&] {
            if (backend)
                ::kill(std::exchange(backend, 0), SIGCONT);
            if (locker.isValid()) {
                locker.close();
                locker = QSqlDatabase();
                QSqlDatabase::removeDatabase(QStringLiteral("locker"));
            }
        };
        const auto released = qScopeGuard(release);
        const auto waitingBackend = [&] {
            // The activity a transaction sees is taken once, at its first look.
            QSqlQuery(QStringLiteral("SELECT pg_stat_clear_snapshot()"), locker);
            QSqlQuery query(QStringLiteral("SELECT pid FROM pg_stat_activity WHERE "
                                           "application_name = 'torvistat' AND "
                                           "wait_event_type = 'Lock'"),
                            locker);
            return query.next() ? pid_t(query.value(0).toInt()) : pid_t(0);
        };
        if (where == "stopped") {
            locker = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("locker"));
            QString host;
            int port = -1;
            QVERIFY(PostgresSchema::splitServerName(h.station.computerName(), host, port));
            locker.setHostName(host);
            locker.setPort(port);
            locker.setDatabaseName(h.station.fuelParameter());
            QVERIFY2(locker.open(), qPrintable(locker.lastError().text()));
            QVERIFY(locker.transaction());
            QVERIFY(QSqlQuery(locker).exec(
                QStringLiteral("LOCK TABLE LogTran IN ACCESS EXCLUSIVE MODE")));
        }
        const auto cancel = [&] {
            QVERIFY(e->Progress()->isVisible() && e->Progress()->CancelButton()->isEnabled());
            if (where == "escape")
                QTest::keyClick(e->Progress()->CancelButton(), Qt::Key_Escape);
            else
                e->Progress()->CancelButton()->click();
        };
        e->Resume();
        if (where == "stopped") {
            QTRY_VERIFY_WITH_TIMEOUT((backend = waitingBackend()) != 0, 20000);
            QCOMPARE(::kill(backend, SIGSTOP), 0);
            cancel();
        } else {
            // Pressed as the pass's first points arrive, with most of its buckets to go however
            // fast the machine is.
            const int series = where == "earlier" ? 1 : 0;
            bool pressed = false;
            QObject pressing;
            connect(&h.chart, &ChartModel::pointAdded, &pressing, [&](int seriesIndex) {
                if (seriesIndex == series && !std::exchange(pressed, true))
                    cancel();
            });
            QTRY_VERIFY_WITH_TIMEOUT(pressed, 20000);
        }
        // Ends at all while the backend is still stopped.
        QTRY_VERIFY_WITH_TIMEOUT(e->Suspended(), 120000);
        release();
        QVERIFY2(h.boxes.isEmpty(), qPrintable(h.boxes.value(0).text));
        QVERIFY(h.owner.isEnabled() && !e->Progress()->isVisible() && !h.connection.connected());
        // Stopped, not finished: a finished chart would have its titles.
        QVERIFY(!h.chart.isVisible() && h.chart.titleLines().isEmpty() &&
                h.chart.seriesCount() <= 1);
        QVERIFY(!h.chart.series(0) || h.chart.series(0)->count() == 0);
        QVERIFY(h.minLabel.text().isEmpty() && h.maxLabel.text().isEmpty() &&
                h.countLabel.text().isEmpty());

        e->SetDateTo(day24() + 1);
        e->SetStepUnit(2);
        e->SetCompareMode(TCompareMode::None);
        ExtractorHarness::run(*e);
        QVERIFY(h.boxes.isEmpty());
        QCOMPARE(h.cents(0), (QList<double>{79.99, 0}));
        QVERIFY(h.chart.isVisible() && !h.countLabel.text().isEmpty());
    }

    // Fillings 16 609 one-minute buckets apart: a batch holds at most 16 384 buckets, so each
    // filling reaches the user interface thread in a batch of its own. Each must land on its own
    // point, and the bar must show each while the run goes on, in order.
    void batchesInOrderWithProgress() {
        ExtractorHarness h(QStringLiteral("dspLogtran"));
        constexpr int kFillings = 6;
        QList<double> expected(58 * 1440 + 1, 0);
        QStringList rows;
        for (int i = 0; i < kFillings; ++i) {
            const int minute = 1 + i * 16609;
            expected[minute] = i + 1;
            // Half a minute in: the bucket starts are sums of doubles, not exact minutes.
            rows << QStringLiteral("(%1, '%2', 'Газ', %3, 1)")
                        .arg(QString::number(100 + i),
                             QDateTime(QDate(2009, 8, 24), QTime(0, 0))
                                 .addSecs(minute * 60 + 30)
                                 .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")),
                             QString::number(i + 1));
        }
        QVERIFY(h.station.exec(h.station.fuelFile(),
                               {"INSERT INTO LogTran (ID_LogTran, Data, GsmName, Liter, Summa) "
                                "VALUES " +
                                rows.join(QLatin1Char(','))}));
        auto e = fuelExtractor(h, {"Газ"}, day24() + 58);
        e->SetStepUnit(0);
        QList<int> shownWhileRunning;
        connect(e->Progress()->ProgressBar1(), &QProgressBar::valueChanged, [&](int value) {
            if (!h.owner.isEnabled())
                shownWhileRunning << value;
        });
        ExtractorHarness::run(*e);
        QCOMPARE(h.boxes.size(), 0);
        QList<double> got = h.values(0);
        // Whether the start landing on the period's end is reached depends on the double rounding.
        QVERIFY(got.size() == expected.size() || got.size() == expected.size() - 1);
        expected.resize(got.size());
        QCOMPARE(got, expected);
        // Made whole up front: no room to spare, none grown on the user interface thread.
        QCOMPARE(h.chart.series(0)->points().capacity(), got.size());
        // The bar counts the rows consumed: one more with each batch that carried a filling.
        QList<int> steps;
        for (int i = 1; i <= kFillings; ++i)
            steps << i;
        QCOMPARE(shownWhileRunning, steps);
    }

    // The end of a run: extremes into the labels, the page bar's range, page 1 without zoom.
    void finishChart_data() {
        QTest::addColumn<bool>("multiGraph");
        QTest::addColumn<QList<QList<double>>>("series");
        QTest::addColumn<QList<bool>>("active");
        QTest::addColumn<QString>("maxText");
        QTest::addColumn<QString>("minText");
        QTest::addColumn<int>("pages");
        using Series = QList<QList<double>>;
        QTest::newRow("first of equal maxima, last of equal minima")
            << true << Series{{5, 1}, {5, 1}} << QList<bool>{true, true} << "5,00  A"
            << "1,00  B" << 1;
        QTest::newRow("inactive series left out")
            << true << Series{{3, 2}, {9, 1}} << QList<bool>{true, false} << "3,00  A"
            << "2,00  A" << 1;
        // No series beats 0 for the maximum: the minimum's value and name are shown again.
        QTest::newRow("nothing above zero")
            << true << Series{{-1}, {-2}} << QList<bool>{true, true} << "-2,00  B"
            << "-2,00  B" << 1;
        QTest::newRow("nothing up to 1e9") << true << Series{{2e9}} << QList<bool>{true} << "2E9  A"
                                           << "0,00  " << 1;
        QTest::newRow("summed: first series, no name")
            << false << Series{{1, 7}, {100}} << QList<bool>{true, true} << "7,00  "
            << "1,00  " << 1;
        QTest::newRow("60 points are 2 pages")
            << false << Series{QList<double>(60, 1)} << QList<bool>{true} << "1,00  "
            << "1,00  " << 2;
        QTest::newRow("61 points are 3 pages")
            << false << Series{QList<double>(61, 1)} << QList<bool>{true} << "1,00  "
            << "1,00  " << 3;
    }
    void finishChart() {
        QFETCH(bool, multiGraph);
        QFETCH(QList<QList<double>>, series);
        QFETCH(QList<bool>, active);
        ChartModel chart;
        for (int i = 0; i < series.size(); ++i) {
            ChartSeries* s = chart.addSeries();
            s->setTitle(QString(QChar(u'A' + i)));
            s->setActive(active[i]);
            for (int p = 0; p < series[i].size(); ++p)
                s->addPoint(p, series[i][p]);
        }
        chart.setCurrentPage(2);
        chart.zoomIn(QRectF(0, 0, 5, 5));
        QLabel minLabel, maxLabel;
        QSlider bar;
        bar.setRange(1, 100);
        bar.setValue(7);
        TGSMExtractor e(2, 0, 1, 1, nullptr, &chart, nullptr, {}, &bar);
        e.SetMultiGraph(multiGraph);
        e.SetMinLabel(&minLabel);
        e.SetMaxLabel(&maxLabel);
        e.FinishChart();
        QTEST(maxLabel.text(), "maxText");
        QTEST(minLabel.text(), "minText");
        QTEST(bar.maximum(), "pages");
        QCOMPARE(QList<int>({bar.minimum(), bar.value(), chart.currentPage()}),
                 QList<int>({1, 1, 1}));
        QVERIFY(!chart.isZoomed());
    }

    void goodsSQL_data() {
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
    void goodsSQL() {
        QFETCH(bool, byCategory);
        QFETCH(QList<int>, ids);
        TFoodExtractor e(2, 0, 0, 1, nullptr, nullptr, nullptr, nullptr);
        QVERIFY(e.ByCategory());
        e.SetByCategory(byCategory);
        e.SetItems(items(ids));
        QTEST(e.BuildSQL(day24(), day24() + 1), "sql");
    }

    void goodsRun_data() {
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
    void goodsRun() {
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

    // Where the server cuts a chain station's rows: for each bucket of the pass, the first
    // millisecond whose date-time is not before the bucket's end, also where the ends of minute
    // and hour steps drift off whole milliseconds, and before 1970.
    void chainServerBucketEnds_data() {
        QTest::addColumn<TDateTime>("from");
        QTest::addColumn<TDateTime>("to");
        QTest::addColumn<double>("step");
        QTest::addColumn<bool>("onServer");
        QTest::newRow("two months of minutes")
            << encodeDateTime(2009, 1, 1) << encodeDateTime(2009, 3, 1) << 1.0 / 1440 << true;
        QTest::newRow("two years of hours from an odd start")
            << encodeDateTime(2009, 1, 1, 10, 17, 23, 456) << encodeDateTime(2011, 1, 1) << 1.0 / 24
            << true;
        QTest::newRow("days before 1970")
            << encodeDateTime(1950, 6, 1, 6, 30) << encodeDateTime(1951, 6, 1) << 1.0 << true;
        QTest::newRow("a year of minutes: too many")
            << encodeDateTime(2009, 1, 1) << encodeDateTime(2010, 1, 1) << 1.0 / 1440 << false;
        QTest::newRow("before day zero")
            << encodeDateTime(1899, 12, 1) << encodeDateTime(1900, 1, 1) << 1.0 << false;
    }
    void chainServerBucketEnds() {
        QFETCH(TDateTime, from);
        QFETCH(TDateTime, to);
        QFETCH(double, step);
        QFETCH(bool, onServer);
        TChainQuery query;
        query.from = from;
        query.to = to;
        query.stepLength = step;
        const QList<qint64> ends = TChainRun::ServerBucketEnds(query);
        QCOMPARE(ends.size(), onServer ? TChainRun::BucketCount(query) : 0);
        const auto dateTime = [](qint64 msec) {
            const auto day = qint64(std::floor(double(msec) / 86400000));
            return StationDateTime::fromUnixDay(day, msec - day * 86400000);
        };
        TDateTime end = from;
        for (qint64 msec : ends) {
            end += step;
            // The server reads the end from its text.
            TDateTime read = -1;
            if (!(dateTime(msec) >= end && dateTime(msec - 1) < end &&
                  StationDateTime::parse(StationDateTime::unixMsecText(msec), read) &&
                  read == dateTime(msec)))
                QFAIL(qPrintable(StationDateTime::toText(end)));
        }
    }

    // Two stations and one whose databases are missing, each over its own connection: per
    // station and summed, the chain gives what each station's own window gives, to the cent,
    // and names the missing one while the others are drawn.
    void chainRun_data() {
        QTest::addColumn<bool>("fuel");
        QTest::addColumn<bool>("split");
        QTest::newRow("fuel, per station") << true << true;
        QTest::newRow("fuel, summed") << true << false;
        QTest::newRow("goods, per station") << false << true;
        QTest::newRow("goods, summed") << false << false;
    }
    void chainRun() {
        QFETCH(bool, fuel);
        QFETCH(bool, split);
        const QString provider = fuel ? "dspLogtran" : "dspGoodsStat";
        ExtractorHarness a(provider), b(provider);
        QVERIFY2(a.station.isValid() && b.station.isValid(), qPrintable(a.station.error()));
        // The second station sells more, so that one station's figures cannot pass for another's.
        QVERIFY(b.station.exec(b.station.fuelFile(),
                               {"INSERT INTO LogTran (ID_LogTran, Data, GsmName, Liter, Summa) "
                                "VALUES (11, '2009-08-24 13:00:00.000', 'АИ-92', 5.55, 61.05)"}));
        QVERIFY(b.station.exec(b.station.goodsFile(),
                               {"INSERT INTO GoodsMotion (ID_GoodsMotion, ID_doc, ID_p, RPrice, "
                                "\"COUNT\") VALUES (10, 6, 102, 7.77, 5)"}));
        const TQueryItems chosen = fuel ? grades({"АИ-92", "АИ-95", "ДТ"}) : items({1, 2});
        const auto prepare = [&](TGraphExtractor& e) {
            e.SetStepMultiplier(6);
            e.SetStepUnit(1);
            e.SetSchema(fuel ? 1 : 0);
            e.SetItems(chosen);
            e.SetFuelMode(fuel);
        };
        QList<Sums> windows;
        for (ExtractorHarness* h : {&a, &b}) {
            std::unique_ptr<TGraphExtractor> e;
            if (fuel)
                e = std::make_unique<TGSMExtractor>(1, day24(), day24() + 1, 6, &h->dataSet,
                                                    &h->chart, &h->owner, TGSMColor{}, &h->pageBar);
            else
                e = std::make_unique<TFoodExtractor>(1, day24(), day24() + 1, 6, &h->dataSet,
                                                     &h->chart, &h->owner, &h->pageBar);
            prepare(*e);
            ExtractorHarness::run(*e);
            windows << h->cents(0);
        }
        QVERIFY(windows[0] != windows[1]);
        const auto station = [](const QString& name, const StationFixture& f) {
            return TChainStation{name, QString(), f.fuelParameter(), f.goodsParameter(), {}};
        };
        ChartModel chart;
        QWidget owner;
        QSlider pageBar;
        TChainExtractor e(1, day24(), day24() + 1, 6, &chart, &owner, &pageBar);
        prepare(e);
        e.SetMultiGraph(split);
        e.SetServer(a.station.computerName(), chooseStatServer);
        const QString absent = a.station.computerName().isEmpty()
                                   ? a.station.root() + "/absent"
                                   : QStringLiteral("torvi_test_absent");
        e.SetStations({station("АЗС №1", a.station),
                       {"АЗС Нет", {}, absent, absent, {}},
                       station("АЗС №2", b.station)});
        ExtractorHarness::run(e);
        QCOMPARE(b.boxes.size(), 1);
        QVERIFY2(b.boxes[0].text.contains("АЗС «АЗС Нет»"), qPrintable(b.boxes[0].text));
        QCOMPARE(e.Failures().size(), 1);
        if (split) {
            QCOMPARE(chart.seriesCount(), 2);
            QCOMPARE(chart.series(1)->title(), QStringLiteral("АЗС №2"));
            QCOMPARE(centValues(chart.series(0)), windows[0]);
            QCOMPARE(centValues(chart.series(1)), windows[1]);
        } else {
            Sums sum;
            for (qsizetype i = 0; i < windows[0].size(); ++i)
                sum << windows[0][i] + windows[1][i];
            QCOMPARE(centValues(chart.series(0)), sum);
        }
        QCOMPARE(e.Progress()->ProgressBar1()->value(), e.Progress()->ProgressBar1()->maximum());
        QVERIFY(owner.isEnabled());
    }

    // "Отмена" while two stations' statements run and more wait: every connection is stopped,
    // no station starts after it, and the run ends quietly with an empty chart.
    void chainCancel() {
        ExtractorHarness h(QStringLiteral("dspLogtran"));
        QVERIFY2(h.station.isValid(), qPrintable(h.station.error()));
        TChainExtractor e(2, day24(), day24() + 1, 1, &h.chart, &h.owner, &h.pageBar);
        e.SetStepUnit(2);
        e.SetItems(grades({"АИ-92"}));
        e.SetFuelMode(true);
        e.SetServer(h.station.computerName(), [](const QString& computer) {
            return std::make_unique<StuckServer>(chooseStatServer(computer));
        });
        TChainStations stations;
        for (int i = 0; i < 6; ++i)
            stations.append({QString::number(i), {}, "stuck", h.station.goodsParameter(), {}});
        qputenv("TORVI_CHAIN_CONNECTIONS", "2");
        StuckServer::waiting = 0;
        e.SetStations(stations);
        e.Resume();
        QTRY_COMPARE_WITH_TIMEOUT(StuckServer::waiting.load(), 2, 20000);
        e.Progress()->CancelButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(e.Suspended(), 20000);
        qunsetenv("TORVI_CHAIN_CONNECTIONS");
        QCOMPARE(StuckServer::waiting.load(), 2);
        QCOMPARE(h.boxes.size(), 0);
        QVERIFY(!h.chart.isVisible() && h.owner.isEnabled());
    }

    void goodsFailedRunThenSuccess() {
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

QTEST_MAIN(TestExtractors)
#include "tst_extractors.moc"
