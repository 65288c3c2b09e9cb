// What a run costs, from the window's start request to the chart being shown, over a busy
// station's year: ~365 000 fillings and ~300 000 sale lines. Each case is set against SQLite
// summing the same rows into the same buckets with GROUP BY, measured in the same run, and
// reports the user interface thread's CPU time during the run. On the big chart of a run (six
// series of 43 201 points) it times what the operator does next: a page switch, ×2, ÷2 and a zoom
// undo, each until the new page is drawn into an offscreen image.
//
// Every case runs twice: on an idle machine and with one core held busy by a thread the benchmark
// starts itself, since a back-office PC is rarely idle. The figures that count are the ratios
// within one run.
// Run by hand: QT_QPA_PLATFORM=offscreen ./bench_extraction [fillings] [--idle-only] [--repeat N]
#include "extraction/FoodExtractor.h"
#include "extraction/GSMExtractor.h"
#include "platform/chart/ChartModel.h"
#include "platform/chart/ChartView.h"
#include "platform/data/ClientDataSet.h"
#include "platform/data/DCOMConnection.h"
#include "platform/data/StationDateTime.h"
#include "platform/data/StationIndexes.h"
#include "platform/data/servers/StatServerChoice.h"
#include "platform/data/sqlite/StationSchema.h"
#include "platform/ui/MessageBoxes.h"
#include "windows/ChartPager.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QSlider>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariant>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>

namespace {

const QStringList kGrades{QStringLiteral("АИ-80"), QStringLiteral("АИ-92"), QStringLiteral("АИ-95"),
                          QStringLiteral("АИ-98"), QStringLiteral("ДТ"),    QStringLiteral("Газ")};
constexpr int kCategories = 6;
constexpr int kGoodsPerCategory = 20;

// A deterministic generator: the same station every run.
struct Random {
    quint64 state = 0x9E3779B97F4A7C15ull;
    double next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return double(state >> 11) / double(1ull << 53);
    }
};

[[noreturn]] void fail(const QString& message) {
    std::fprintf(stderr, "%s\n", qPrintable(message));
    std::exit(1);
}

void exec(QSqlQuery& query, const QString& sql) {
    if (!query.exec(sql))
        fail(query.lastError().text() + QStringLiteral(": ") + sql);
}

template <class Fill>
void buildDatabase(const QString& file, const QStringList& schema, const QStringList& indexes,
                   Fill&& fill) {
    const QString name = QStringLiteral("bench-") + file;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (!db.open())
            fail(db.lastError().text());
        QSqlQuery query(db);
        exec(query, QStringLiteral("PRAGMA journal_mode = OFF"));
        exec(query, QStringLiteral("PRAGMA synchronous = OFF"));
        StationSchema::execute(db, schema);
        db.transaction();
        fill(db);
        db.commit();
        StationSchema::execute(db, indexes);
    }
    QSqlDatabase::removeDatabase(name);
}

void buildFuel(const QString& file, TDateTime from, int fillings) {
    buildDatabase(
        file, StationSchema::fuelStatements(), StationIndexes::fuel(), [&](QSqlDatabase& db) {
            QSqlQuery insert(db);
            insert.prepare(QStringLiteral(
                "INSERT INTO LogTran (ID_LogTran, Data, GsmName, Liter, Price, Summa) "
                "VALUES (?, ?, ?, ?, ?, ?)"));
            Random random;
            // Two years at the same pace: the year measured and the one before, for the
            // comparison with a year ago.
            const double spacing = 365.0 / fillings;
            const int count = int(std::lround(731 / spacing));
            for (int i = 0; i < count; ++i) {
                const int grade = int(random.next() * kGrades.size());
                const double liter = std::round((5 + random.next() * 55) * 100) / 100;
                const double price = 20 + grade * 1.5;
                insert.addBindValue(i + 1);
                insert.addBindValue(StationDateTime::toText(from + (i + random.next()) * spacing));
                insert.addBindValue(kGrades[grade]);
                insert.addBindValue(liter);
                insert.addBindValue(price);
                insert.addBindValue(std::round(liter * price * 100) / 100);
                if (!insert.exec())
                    fail(insert.lastError().text());
            }
        });
}

void buildGoods(const QString& file, TDateTime from, int documents) {
    buildDatabase(
        file, StationSchema::goodsStatements(), StationIndexes::goods(), [&](QSqlDatabase& db) {
            QSqlQuery query(db);
            for (int c = 1; c <= kCategories; ++c)
                exec(query, QStringLiteral("INSERT INTO Category (ID_Category, Name) VALUES "
                                           "(%1, 'Категория %1')")
                                .arg(c));
            for (int g = 1; g <= kCategories * kGoodsPerCategory; ++g) {
                exec(query, QStringLiteral("INSERT INTO Goods (ID_Goods, ID_Category, Name) "
                                           "VALUES (%1, %2, 'Товар %1')")
                                .arg(g)
                                .arg((g - 1) / kGoodsPerCategory + 1));
                exec(query,
                     QStringLiteral("INSERT INTO Batches (ID_P, ID_Goods) VALUES (%1, %1)").arg(g));
            }
            QSqlQuery document(db), line(db);
            document.prepare(
                QStringLiteral("INSERT INTO Documents (ID_doc, Data, \"TYPE\") VALUES (?, ?, 2)"));
            line.prepare(QStringLiteral("INSERT INTO GoodsMotion (ID_doc, ID_p, RPrice, \"COUNT\") "
                                        "VALUES (?, ?, ?, ?)"));
            Random random;
            const double spacing = 365.0 / documents;
            for (int d = 0; d < documents; ++d) {
                document.addBindValue(d + 1);
                document.addBindValue(
                    StationDateTime::toText(from + (d + random.next()) * spacing));
                if (!document.exec())
                    fail(document.lastError().text());
                const int lines = 1 + int(random.next() * 4);
                for (int l = 0; l < lines; ++l) {
                    line.addBindValue(d + 1);
                    line.addBindValue(1 + int(random.next() * kCategories * kGoodsPerCategory));
                    line.addBindValue(std::round((20 + random.next() * 480) * 100) / 100);
                    line.addBindValue(1 + int(random.next() * 3));
                    if (!line.exec())
                        fail(line.lastError().text());
                }
            }
        });
}

long peakMemoryMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Keeps one core busy, as another program on the workstation would.
class BusyCore {
public:
    BusyCore() {
        m_thread = std::thread([this] {
            quint64 spins = 0;
            while (!m_stop.load(std::memory_order_relaxed))
                spins = spins * 6364136223846793005ull + 1;
            m_sink = spins;
        });
    }
    ~BusyCore() {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    volatile quint64 m_sink = 0;
};

// The chart part of a statistics window: the chart, its page bar and points-per-page box wired to
// the pager as the windows wire them.
struct Window {
    Window() {
        chart.setPointsPerPage(30);
        spin.setRange(2, 1500);
        spin.setValue(30);
        pageBar.setRange(1, 100);
        QObject::connect(&spin, &QSpinBox::valueChanged,
                         [this](int value) { pager.PointsPerPageChanged(value); });
        QObject::connect(&pageBar, &QSlider::valueChanged,
                         [this](int value) { pager.PageBarChanged(value); });
    }
    ChartModel chart;
    ChartView view{&chart};
    QWidget owner;
    QSlider pageBar;
    QSpinBox spin;
    TChartPager pager{&chart, &pageBar, &spin};
};

struct RunFigures {
    double ms = 0;
    double uiCpuMs = 0;
    int points = 0;
};

// From the start request until FinishChart has shown the chart, with the user interface thread
// asleep in its event loop between the synchronised calls, as in the application.
RunFigures timeRun(TGraphExtractor& extractor, Window& window) {
    QEventLoop loop;
    QElapsedTimer timer;
    RunFigures figures;
    double cpuFrom = 0;
    const auto connection =
        QObject::connect(&window.chart, &ChartModel::visibleChanged, [&](bool visible) {
            if (!visible)
                return;
            figures.ms = timer.nsecsElapsed() / 1e6;
            figures.uiCpuMs = threadCpuMs() - cpuFrom;
            loop.quit();
        });
    QTimer::singleShot(600000, &loop,
                       [] { fail(QStringLiteral("Прогон не закончился за 10 минут")); });
    cpuFrom = threadCpuMs();
    timer.start();
    extractor.Resume();
    loop.exec();
    QObject::disconnect(connection);
    // The clean-up after FinishChart: the worker must be waiting before the next case.
    while (!extractor.Suspended())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    for (int i = 0; i < window.chart.seriesCount(); ++i)
        figures.points += window.chart.series(i)->count();
    return figures;
}

// SQLite's own GROUP BY over the same rows into the same buckets, all result rows read.
double timeSql(const QString& file, const QString& sql, int& groups) {
    const QString name = QStringLiteral("bench-sql");
    double ms = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open())
            fail(db.lastError().text());
        QSqlQuery query(db);
        query.setForwardOnly(true);
        QElapsedTimer timer;
        timer.start();
        exec(query, sql);
        groups = 0;
        double check = 0;
        while (query.next()) {
            ++groups;
            check += query.value(query.record().count() - 1).toDouble();
        }
        ms = timer.nsecsElapsed() / 1e6;
        if (check < 0)
            fail(QStringLiteral("Отрицательная сумма"));
    }
    QSqlDatabase::removeDatabase(name);
    return ms;
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

// Milliseconds from the operator's action until the page it brings is drawn offscreen.
template <class Action>
double timeDrawn(Window& window, Action&& action) {
    QElapsedTimer timer;
    timer.start();
    action();
    const QImage image = window.view.renderImage();
    const double ms = timer.nsecsElapsed() / 1e6;
    if (image.isNull())
        fail(QStringLiteral("Диаграмма не нарисована"));
    return ms;
}

struct PagingFigures {
    double page = 0;
    double twice = 0;
    double half = 0;
    double unzoom = 0;
};

PagingFigures timePaging(Window& window) {
    constexpr int kRepeats = 7;
    window.view.renderImage(); // the first page, as FinishChart left it
    QList<double> page, twice, half, unzoom;
    for (int i = 0; i < kRepeats; ++i) {
        page << timeDrawn(window, [&] { window.pager.Navigate(QStringLiteral("sbtForward")); });
        twice << timeDrawn(window, [&] { window.pager.Resize(QStringLiteral("sbtMult2")); });
        half << timeDrawn(window, [&] { window.pager.Resize(QStringLiteral("sbtDiv2")); });
        const ChartSeries& first = *window.chart.series(0);
        const int from = window.chart.pageFirstPoint();
        window.chart.zoomIn(QRectF(QPointF(first.point(from + 3).x, 0),
                                   QPointF(first.point(from + 12).x, first.maxY() / 2)));
        window.view.renderImage();
        unzoom << timeDrawn(window, [&] { window.chart.undoZoom(); });
    }
    return {median(page), median(twice), median(half), median(unzoom)};
}

struct CaseFigures {
    QString name;
    RunFigures run;
    double sqlMs = 0;
    int groups = 0;
    long peakMiB = 0;
    std::optional<PagingFigures> paging;
};

void report(const CaseFigures& c) {
    std::printf("%-40s %8.1f ms %7d points | UI CPU %6.1f ms (%4.1f%%) | SQL %6.1f ms %6d groups "
                "| x%5.2f | peak %ld MiB\n",
                qPrintable(c.name), c.run.ms, c.run.points, c.run.uiCpuMs,
                100 * c.run.uiCpuMs / c.run.ms, c.sqlMs, c.groups, c.run.ms / c.sqlMs, c.peakMiB);
    if (c.paging)
        std::printf("%-40s page %.1f ms, x2 %.1f ms, /2 %.1f ms, zoom undo %.1f ms (median)\n",
                    "  paging the big chart", c.paging->page, c.paging->twice, c.paging->half,
                    c.paging->unzoom);
    std::fflush(stdout);
}

struct Station {
    QString fuelFile;
    QString goodsFile;
    TClientDataSet* cdsLogtran;
    TClientDataSet* cdsTovarStat;
};

QList<CaseFigures> runCases(const Station& station) {
    QList<CaseFigures> out;
    const TDateTime year = encodeDateTime(2009, 1, 1);
    Window window;
    window.view.resize(900, 600);
    window.view.show();
    TQueryItems grades;
    for (const QString& grade : kGrades)
        grades << TQueryItem{grade, 0};
    TQueryItems categories;
    for (int c = 1; c <= kCategories; ++c)
        categories << TQueryItem{QStringLiteral("Категория %1").arg(c), c};

    const QString yearFrom = QStringLiteral("'2009-01-01 00:00:00.000'");
    const QString yearTo = QStringLiteral("'2010-01-01 00:00:00.000'");
    const QString hourBucket =
        QStringLiteral("CAST((julianday(Data) - julianday(%1)) * 24 AS INTEGER)").arg(yearFrom);
    const QString minuteBucket =
        QStringLiteral("CAST((julianday(Data) - julianday(%1)) * 1440 AS INTEGER)").arg(yearFrom);

    struct FuelCase {
        const char* name;
        TDateTime to;
        int unit;
        bool split;
        QString sql;
        bool paging;
        TCompareMode compare;
    };
    const FuelCase fuelCases[] = {
        {"fuel, year, 1 h, summed", encodeDateTime(2010, 1, 1), 1, false,
         QStringLiteral("SELECT %1 AS b, SUM(Liter) FROM LogTran WHERE Data >= %2 AND Data < %3 "
                        "GROUP BY b")
             .arg(hourBucket, yearFrom, yearTo),
         false, TCompareMode::None},
        {"fuel, year, 1 h, per grade", encodeDateTime(2010, 1, 1), 1, true,
         QStringLiteral("SELECT GsmName, %1 AS b, SUM(Liter) FROM LogTran WHERE Data >= %2 AND "
                        "Data < %3 GROUP BY GsmName, b")
             .arg(hourBucket, yearFrom, yearTo),
         false, TCompareMode::None},
        {"fuel, month, 1 min, summed", encodeDateTime(2009, 2, 1), 0, false,
         QStringLiteral("SELECT %1 AS b, SUM(Liter) FROM LogTran WHERE Data >= %2 AND Data < "
                        "'2009-02-01 00:00:00.000' GROUP BY b")
             .arg(minuteBucket, yearFrom),
         false, TCompareMode::None},
        {"fuel, 30 days, 1 min, per grade", encodeDateTime(2009, 1, 31), 0, true,
         QStringLiteral("SELECT GsmName, %1 AS b, SUM(Liter) FROM LogTran WHERE Data >= %2 AND "
                        "Data < '2009-01-31 00:00:00.000' GROUP BY GsmName, b")
             .arg(minuteBucket, yearFrom),
         true, TCompareMode::None},
    };
    // The per-grade year again beside the same dates a year earlier: a second statement and pass
    // in the same run. Its reference is the same GROUP BY, so its ratio against the case without
    // comparison is what the comparison costs.
    const FuelCase compared{"fuel, year, 1 h, per grade, a year ago",
                            encodeDateTime(2010, 1, 1),
                            1,
                            true,
                            fuelCases[1].sql,
                            false,
                            TCompareMode::Year};
    // Paging a month of minutes with its companions: twice the lines on every page.
    const FuelCase comparedMinutes{"fuel, 30 days, 1 min, per grade, previous",
                                   fuelCases[3].to,
                                   0,
                                   true,
                                   fuelCases[3].sql,
                                   true,
                                   TCompareMode::Previous};
    for (const FuelCase& c :
         {fuelCases[0], fuelCases[1], fuelCases[2], fuelCases[3], compared, comparedMinutes}) {
        TGSMExtractor extractor(0, year, c.to, 0, station.cdsLogtran, &window.chart, &window.owner,
                                {}, &window.pageBar);
        extractor.SetStepMultiplier(1);
        extractor.SetStepUnit(c.unit);
        extractor.SetItems(grades);
        extractor.SetMultiGraph(c.split);
        extractor.SetFuelMode(true);
        extractor.SetTitle(QStringLiteral("Время - Литры"));
        extractor.SetCompareMode(c.compare);
        CaseFigures figures;
        figures.name = QString::fromUtf8(c.name);
        figures.run = timeRun(extractor, window);
        figures.peakMiB = peakMemoryMiB();
        figures.sqlMs = timeSql(station.fuelFile, c.sql, figures.groups);
        if (c.paging)
            figures.paging = timePaging(window);
        report(figures);
        out << figures;
    }

    const QString goodsSql = QStringLiteral(
        "SELECT %1CAST((julianday(d.Data) - julianday(%2)) * 24 AS INTEGER) AS b, "
        "SUM(gm.RPrice * gm.\"COUNT\") FROM Documents d JOIN GoodsMotion gm ON (d.ID_doc = "
        "gm.ID_doc) JOIN Batches bt ON (gm.ID_p = bt.ID_P) JOIN Goods g ON (bt.ID_Goods = "
        "g.ID_Goods) WHERE d.\"TYPE\" = 2 AND d.Data >= %2 AND d.Data < %3 AND g.ID_Category IN "
        "(1, 2, 3, 4, 5, 6) GROUP BY %1b");
    for (const bool split : {false, true}) {
        TFoodExtractor extractor(0, year, encodeDateTime(2010, 1, 1), 0, station.cdsTovarStat,
                                 &window.chart, &window.owner, &window.pageBar);
        extractor.SetStepMultiplier(1);
        extractor.SetStepUnit(1);
        extractor.SetItems(categories);
        extractor.SetMultiGraph(split);
        extractor.SetTitle(QStringLiteral("Время - Суммы"));
        CaseFigures figures;
        figures.name = split ? QStringLiteral("goods, year, 1 h, per category")
                             : QStringLiteral("goods, year, 1 h, summed");
        figures.run = timeRun(extractor, window);
        figures.peakMiB = peakMemoryMiB();
        const QString sql =
            goodsSql.arg(split ? QStringLiteral("g.ID_Category, ") : QString(), yearFrom, yearTo);
        figures.sqlMs = timeSql(station.goodsFile, sql, figures.groups);
        report(figures);
        out << figures;
    }
    return out;
}

// Every figure of every case, the median over the passes.
QList<CaseFigures> medianOf(const QList<QList<CaseFigures>>& runs) {
    QList<CaseFigures> out;
    if (runs.isEmpty())
        return out;
    for (qsizetype i = 0; i < runs.first().size(); ++i) {
        CaseFigures c = runs.first()[i];
        const auto pick = [&](auto field) {
            QList<double> values;
            for (const QList<CaseFigures>& run : runs)
                values << field(run[i]);
            return median(values);
        };
        c.run.ms = pick([](const CaseFigures& f) { return f.run.ms; });
        c.run.uiCpuMs = pick([](const CaseFigures& f) { return f.run.uiCpuMs; });
        c.sqlMs = pick([](const CaseFigures& f) { return f.sqlMs; });
        // The peak only grows from pass to pass: the first pass's is the one of this case.
        for (const QList<CaseFigures>& run : runs)
            c.peakMiB = std::min(c.peakMiB, run[i].peakMiB);
        if (c.paging) {
            c.paging->page = pick([](const CaseFigures& f) { return f.paging->page; });
            c.paging->twice = pick([](const CaseFigures& f) { return f.paging->twice; });
            c.paging->half = pick([](const CaseFigures& f) { return f.paging->half; });
            c.paging->unzoom = pick([](const CaseFigures& f) { return f.paging->unzoom; });
        }
        out << c;
    }
    return out;
}

const CaseFigures& find(const QList<CaseFigures>& cases, const char* name) {
    for (const CaseFigures& c : cases)
        if (c.name == QLatin1String(name))
            return c;
    fail(QStringLiteral("Нет случая ") + QLatin1String(name));
}

bool check(const char* what, double value, double limit, const char* unit) {
    const bool ok = value <= limit;
    std::printf("  %-72s %8.2f%s (goal <= %g%s) %s\n", what, value, unit, limit, unit,
                ok ? "ok" : "MISSED");
    return ok;
}

// The goals, each a figure or a ratio within this run.
bool summarise(const QList<CaseFigures>& idle, const QList<CaseFigures>& busy) {
    std::printf("\ngoals\n");
    bool ok = true;
    const CaseFigures& perGrade = find(idle, "fuel, year, 1 h, per grade");
    ok &= check("fuel, year, 1 h, per grade / GROUP BY, idle", perGrade.run.ms / perGrade.sqlMs, 2,
                "x");
    if (!busy.isEmpty()) {
        const CaseFigures& perGradeBusy = find(busy, "fuel, year, 1 h, per grade");
        ok &= check("fuel, year, 1 h, per grade / GROUP BY, one core busy",
                    perGradeBusy.run.ms / perGradeBusy.sqlMs, 2.5, "x");
    }
    ok &= check("fuel, year, 1 h, per grade, a year ago / without comparison, idle",
                find(idle, "fuel, year, 1 h, per grade, a year ago").run.ms / perGrade.run.ms, 2.2,
                "x");
    ok &= check("fuel, month, 1 min, summed, idle", find(idle, "fuel, month, 1 min, summed").run.ms,
                200, " ms");
    // The GROUP BY's own slow-down tells what the busy core costs any one thread on this machine.
    for (qsizetype i = 0; i < busy.size(); ++i)
        ok &= check(qPrintable(QStringLiteral("%1, busy / idle (GROUP BY: %2x)")
                                   .arg(idle[i].name)
                                   .arg(busy[i].sqlMs / idle[i].sqlMs, 0, 'f', 2)),
                    busy[i].run.ms / idle[i].run.ms, 1.5, "x");
    for (const QList<CaseFigures>* pass : {&idle, &busy})
        for (const CaseFigures& c : *pass)
            ok &= check(qPrintable(QStringLiteral("%1, %2: UI thread CPU / run")
                                       .arg(c.name, pass == &idle ? QStringLiteral("idle")
                                                                  : QStringLiteral("busy"))),
                        c.run.uiCpuMs / c.run.ms, 0.25, "");
    for (const QList<CaseFigures>* pass : {&idle, &busy})
        for (const CaseFigures& c : *pass) {
            if (!c.paging)
                continue;
            const QString when = pass == &idle ? QStringLiteral("idle") : QStringLiteral("busy");
            ok &= check(qPrintable(QStringLiteral("page switch, %1").arg(when)), c.paging->page, 30,
                        " ms");
            ok &= check(qPrintable(QStringLiteral("x2, %1").arg(when)), c.paging->twice, 30, " ms");
            ok &= check(qPrintable(QStringLiteral("/2, %1").arg(when)), c.paging->half, 30, " ms");
            ok &= check(qPrintable(QStringLiteral("zoom undo, %1").arg(when)), c.paging->unzoom, 30,
                        " ms");
        }
    std::printf("  peak memory after the year cases: %ld MiB\n",
                find(idle, "fuel, year, 1 h, per grade").peakMiB);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    int fillings = 365000;
    bool busyPass = true;
    int repeats = 1;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--idle-only")
            busyPass = false;
        else if (arg == "--repeat" && i + 1 < argc)
            repeats = std::max(1, std::atoi(argv[++i]));
        else
            fillings = std::atoi(argv[i]);
    }
    MessageBoxes::setHandler([](const MessageBoxes::Shown& box) -> QMessageBox::StandardButton {
        fail(QStringLiteral("Сообщение во время прогона: ") + box.text);
    });

    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("TradeDB"));
    Station station;
    station.fuelFile = dir.path() + QStringLiteral("/fuel.sqlite");
    station.goodsFile = dir.path() + QStringLiteral("/TradeDB/goods.sqlite");
    const TDateTime year = encodeDateTime(2009, 1, 1);
    QElapsedTimer timer;
    timer.start();
    buildFuel(station.fuelFile, encodeDateTime(2008, 1, 1), fillings);
    buildGoods(station.goodsFile, year, fillings / 3);
    std::printf("generated %d fillings and %d sale documents in %.1f s; peak %ld MiB\n", fillings,
                fillings / 3, timer.elapsed() / 1000.0, peakMemoryMiB());

    TDCOMConnection connection{chooseStatServer};
    TDCOMConnection connectionThread{chooseStatServer};
    const auto folders = [&](TDCOMConnection& sender) {
        sender.setStatParameter(1, dir.path() + QStringLiteral("/TradeDB"));
        sender.setStatParameter(2, dir.path());
    };
    connection.setAfterConnect(folders);
    connectionThread.setAfterConnect(folders);
    TClientDataSet cdsLogtran(QStringLiteral("cdsLogtran"));
    cdsLogtran.setProviderName(QStringLiteral("dspLogtran"));
    cdsLogtran.setRemoteServer(&connection);
    TClientDataSet cdsTovarStat(QStringLiteral("cdsTovarStat"));
    cdsTovarStat.setProviderName(QStringLiteral("dspGoodsStat"));
    cdsTovarStat.setRemoteServer(&connectionThread);
    station.cdsLogtran = &cdsLogtran;
    station.cdsTovarStat = &cdsTovarStat;

    // Idle and busy passes take turns, so that both see the same moods of a shared machine; with
    // several repeats every figure is the median of its repeats.
    QList<QList<CaseFigures>> idleRuns, busyRuns;
    for (int r = 0; r < repeats; ++r) {
        std::printf("\nidle machine, pass %d of %d\n", r + 1, repeats);
        idleRuns << runCases(station);
        if (busyPass) {
            std::printf("\none core held busy by the benchmark's own thread, pass %d of %d\n",
                        r + 1, repeats);
            BusyCore busyCore;
            busyRuns << runCases(station);
        }
    }
    const QList<CaseFigures> idle = medianOf(idleRuns);
    const QList<CaseFigures> busy = medianOf(busyRuns);
    if (repeats > 1) {
        std::printf("\nmedians of %d passes, idle\n", repeats);
        for (const CaseFigures& c : idle)
            report(c);
        if (busyPass) {
            std::printf("\nmedians of %d passes, one core busy\n", repeats);
            for (const CaseFigures& c : busy)
                report(c);
        }
    }
    return summarise(idle, busy) ? 0 : 2;
}
