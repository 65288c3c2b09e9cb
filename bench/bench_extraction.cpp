// What a run costs, from the window's start request to the chart being shown, over a busy
// station's year: ~365 000 fillings and ~300 000 sale lines. Each case is set against SQLite
// summing the same rows into the same buckets with GROUP BY, measured in the same run.
// Run by hand: QT_QPA_PLATFORM=offscreen ./bench_extraction [fillings]
#include "extraction/FoodExtractor.h"
#include "extraction/GSMExtractor.h"
#include "platform/chart/ChartModel.h"
#include "platform/chart/ChartView.h"
#include "platform/data/ClientDataSet.h"
#include "platform/data/DCOMConnection.h"
#include "platform/data/StationDateTime.h"
#include "platform/data/servers/StatServerChoice.h"
#include "platform/data/sqlite/StationSchema.h"
#include "platform/ui/MessageBoxes.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariant>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

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
    buildDatabase(file, StationSchema::fuelStatements(), StationSchema::fuelIndexStatements(),
                  [&](QSqlDatabase& db) {
                      QSqlQuery insert(db);
                      insert.prepare(QStringLiteral(
                          "INSERT INTO LogTran (ID_LogTran, Data, GsmName, Liter, Price, Summa) "
                          "VALUES (?, ?, ?, ?, ?, ?)"));
                      Random random;
                      const double spacing = 365.0 / fillings;
                      for (int i = 0; i < fillings; ++i) {
                          const int grade = int(random.next() * kGrades.size());
                          const double liter = std::round((5 + random.next() * 55) * 100) / 100;
                          const double price = 20 + grade * 1.5;
                          insert.addBindValue(i + 1);
                          insert.addBindValue(
                              StationDateTime::toText(from + (i + random.next()) * spacing));
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
        file, StationSchema::goodsStatements(), StationSchema::goodsIndexStatements(),
        [&](QSqlDatabase& db) {
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

struct Window {
    ChartModel chart;
    ChartView view{&chart};
    QWidget owner;
    QSlider pageBar;
};

// From the start request until FinishChart has shown the chart, with the user interface thread
// asleep in its event loop between the synchronised calls, as in the application.
double timeRun(TGraphExtractor& extractor, Window& window, int& points) {
    QEventLoop loop;
    QElapsedTimer timer;
    double shownMs = -1;
    const auto connection =
        QObject::connect(&window.chart, &ChartModel::visibleChanged, [&](bool visible) {
            if (!visible)
                return;
            shownMs = timer.nsecsElapsed() / 1e6;
            loop.quit();
        });
    QTimer::singleShot(600000, &loop,
                       [] { fail(QStringLiteral("Прогон не закончился за 10 минут")); });
    timer.start();
    extractor.Resume();
    loop.exec();
    QObject::disconnect(connection);
    // The clean-up after FinishChart: the worker must be waiting before the next case.
    while (!extractor.Suspended())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    points = 0;
    for (int i = 0; i < window.chart.seriesCount(); ++i)
        points += window.chart.series(i)->count();
    return shownMs;
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

void report(const char* name, double runMs, int points, double sqlMs, int groups) {
    std::printf("%-44s %9.1f ms %8d points %7.2f us/point | SQL %7.1f ms %6d groups | x%.2f | "
                "peak %ld MiB\n",
                name, runMs, points, runMs * 1000 / points, sqlMs, groups, runMs / sqlMs,
                peakMemoryMiB());
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    const int fillings = argc > 1 ? std::atoi(argv[1]) : 365000;
    MessageBoxes::setHandler([](const MessageBoxes::Shown& box) -> QMessageBox::StandardButton {
        fail(QStringLiteral("Сообщение во время прогона: ") + box.text);
    });

    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("TradeDB"));
    const QString fuelFile = dir.path() + QStringLiteral("/fuel.sqlite");
    const QString goodsFile = dir.path() + QStringLiteral("/TradeDB/goods.sqlite");
    const TDateTime year = encodeDateTime(2009, 1, 1);
    QElapsedTimer timer;
    timer.start();
    buildFuel(fuelFile, year, fillings);
    buildGoods(goodsFile, year, fillings / 3);
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

    struct FuelCase {
        const char* name;
        TDateTime to;
        int unit;
        bool split;
        QString sql;
    };
    const TDateTime month = encodeDateTime(2009, 2, 1);
    const FuelCase fuelCases[] = {
        {"fuel, year, 1-hour steps, summed", encodeDateTime(2010, 1, 1), 1, false,
         QStringLiteral("SELECT %1 AS b, SUM(Liter) FROM LogTran WHERE Data >= %2 AND Data < %3 "
                        "GROUP BY b")
             .arg(hourBucket, yearFrom, yearTo)},
        {"fuel, year, 1-hour steps, per grade", encodeDateTime(2010, 1, 1), 1, true,
         QStringLiteral("SELECT GsmName, %1 AS b, SUM(Liter) FROM LogTran WHERE Data >= %2 AND "
                        "Data < %3 GROUP BY GsmName, b")
             .arg(hourBucket, yearFrom, yearTo)},
        {"fuel, month, 1-minute steps, summed", month, 0, false,
         QStringLiteral("SELECT CAST((julianday(Data) - julianday(%1)) * 1440 AS INTEGER) AS b, "
                        "SUM(Liter) FROM LogTran WHERE Data >= %1 AND Data < "
                        "'2009-02-01 00:00:00.000' GROUP BY b")
             .arg(yearFrom)},
    };
    for (const FuelCase& c : fuelCases) {
        TGSMExtractor extractor(0, year, c.to, 0, &cdsLogtran, &window.chart, &window.owner, {},
                                &window.pageBar);
        extractor.SetStepMultiplier(1);
        extractor.SetStepUnit(c.unit);
        extractor.SetItems(grades);
        extractor.SetMultiGraph(c.split);
        extractor.SetFuelMode(true);
        extractor.SetTitle(QStringLiteral("Время - Литры"));
        int points = 0, groups = 0;
        const double runMs = timeRun(extractor, window, points);
        const double sqlMs = timeSql(fuelFile, c.sql, groups);
        report(c.name, runMs, points, sqlMs, groups);
    }

    const QString goodsSql = QStringLiteral(
        "SELECT %1CAST((julianday(d.Data) - julianday(%2)) * 24 AS INTEGER) AS b, "
        "SUM(gm.RPrice * gm.\"COUNT\") FROM Documents d JOIN GoodsMotion gm ON (d.ID_doc = "
        "gm.ID_doc) JOIN Batches bt ON (gm.ID_p = bt.ID_P) JOIN Goods g ON (bt.ID_Goods = "
        "g.ID_Goods) WHERE d.\"TYPE\" = 2 AND d.Data >= %2 AND d.Data < %3 AND g.ID_Category IN "
        "(1, 2, 3, 4, 5, 6) GROUP BY %1b");
    for (const bool split : {false, true}) {
        TFoodExtractor extractor(0, year, encodeDateTime(2010, 1, 1), 0, &cdsTovarStat,
                                 &window.chart, &window.owner, &window.pageBar);
        extractor.SetStepMultiplier(1);
        extractor.SetStepUnit(1);
        extractor.SetItems(categories);
        extractor.SetMultiGraph(split);
        extractor.SetTitle(QStringLiteral("Время - Суммы"));
        int points = 0, groups = 0;
        const double runMs = timeRun(extractor, window, points);
        const QString sql =
            goodsSql.arg(split ? QStringLiteral("g.ID_Category, ") : QString(), yearFrom, yearTo);
        const double sqlMs = timeSql(goodsFile, sql, groups);
        report(split ? "goods, year, 1-hour steps, per category"
                     : "goods, year, 1-hour steps, summed",
               runMs, points, sqlMs, groups);
    }
    return 0;
}
