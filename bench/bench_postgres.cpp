// The extraction cases against both statistics servers in one run, over the same generated
// history: twenty stations on the PostgreSQL server, each its own database pair with two years of
// a busy station, and the first of them also as SQLite files for the embedded server. A run reads
// one station's year. Each case is given as a ratio to the embedded server and to a bare SQL
// aggregation of the same rows on the PostgreSQL server, measured in the same run. Then the
// chain: all twenty stations' year in one chain run against their aggregations one after
// another, and the chain window opened over 500 registered stations.
//
// The stations are loaded once (torvi-stationdb, some minutes) and reused by later runs.
// Run by hand:
//   eval "$(scripts/pg-test-cluster.sh start /tmp/torvi-pg 55432)"
//   QT_QPA_PLATFORM=offscreen ./bench_postgres [HOST:PORT] [SQLITE-ROOT] [--chain-only]
#include "extraction/ChainExtractor.h"
#include "extraction/FoodExtractor.h"
#include "extraction/GSMExtractor.h"
#include "platform/chart/ChartModel.h"
#include "platform/chart/ChartView.h"
#include "platform/data/ClientDataSet.h"
#include "platform/data/DCOMConnection.h"
#include "platform/data/postgres/ChainCatalogue.h"
#include "platform/data/postgres/PostgresSchema.h"
#include "platform/data/servers/StatServerChoice.h"
#include "platform/ui/MessageBoxes.h"
#include "plugin/DmStatistic.h"
#include "windows/ChainStat.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kStations = 20;
const char* const kGrades[] = {"АИ-80", "АИ-92", "АИ-95", "АИ-98", "ДТ", "Газ"};

[[noreturn]] void fail(const QString& message) {
    std::fprintf(stderr, "%s\n", qPrintable(message));
    std::exit(1);
}

QString stationDb(int station, const char* kind) {
    return QStringLiteral("torvi_bench_%1_%2").arg(station, 2, 10, QLatin1Char('0')).arg(kind);
}

// Runs a statement on the PostgreSQL server's database and reads every row; returns the time.
double timeSql(const QString& server, const QString& database, const QString& sql, int& rows) {
    const QString name = QStringLiteral("bench-") + database;
    double ms = 0;
    {
        QString host;
        int port = -1;
        PostgresSchema::splitServerName(server, host, port);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(host);
        db.setPort(port);
        db.setDatabaseName(database);
        if (!db.open())
            fail(db.lastError().text());
        QSqlQuery query(db);
        query.setForwardOnly(true);
        QElapsedTimer timer;
        timer.start();
        if (!query.exec(sql))
            fail(query.lastError().text() + QStringLiteral(": ") + sql);
        rows = 0;
        while (query.next())
            ++rows;
        ms = timer.nsecsElapsed() / 1e6;
    }
    QSqlDatabase::removeDatabase(name);
    return ms;
}

bool databaseExists(const QString& server, const QString& database) {
    int rows = 0;
    timeSql(server, QStringLiteral("postgres"),
            QStringLiteral("SELECT 1 FROM pg_database WHERE datname = '%1'").arg(database), rows);
    return rows > 0;
}

void generate(const QStringList& arguments) {
    std::printf("loading: torvi-stationdb %s\n", qPrintable(arguments.join(QLatin1Char(' '))));
    std::fflush(stdout);
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(STATIONDB_PROGRAM), arguments);
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        fail(QStringLiteral("torvi-stationdb failed: ") +
             QString::fromLocal8Bit(process.readAll()));
}

QStringList history(int seed) {
    return {QStringLiteral("--start"), QStringLiteral("2009-01-01"), QStringLiteral("--days"),
            QStringLiteral("730"),     QStringLiteral("--fillings"), QStringLiteral("1000"),
            QStringLiteral("--seed"),  QString::number(seed)};
}

struct Window {
    ChartModel chart;
    ChartView view{&chart};
    QWidget owner;
    QSlider pageBar;
};

// From the start request until the chart is shown, the user interface thread asleep in its event
// loop between the synchronised calls, as in the application. The better of two runs: the first
// also warms the server's cache.
double timeRun(TGraphExtractor& extractor, Window& window, int& points) {
    double best = 1e300;
    for (int attempt = 0; attempt < 2; ++attempt) {
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
        window.chart.setVisible(false);
        timer.start();
        extractor.Resume();
        loop.exec();
        QObject::disconnect(connection);
        while (!extractor.Suspended())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        best = std::min(best, shownMs);
    }
    points = 0;
    for (int i = 0; i < window.chart.seriesCount(); ++i)
        points += window.chart.series(i)->count();
    return best;
}

struct Station {
    TDCOMConnection fuelConnection{chooseStatServer};
    TDCOMConnection goodsConnection{chooseStatServer};
    TClientDataSet cdsLogtran{QStringLiteral("cdsLogtran")};
    TClientDataSet cdsTovarStat{QStringLiteral("cdsTovarStat")};

    Station(const QString& computer, const QString& goods, const QString& fuel) {
        for (TDCOMConnection* c : {&fuelConnection, &goodsConnection}) {
            c->setComputerName(computer);
            c->setAfterConnect([goods, fuel](TDCOMConnection& sender) {
                sender.setStatParameter(1, goods);
                sender.setStatParameter(2, fuel);
            });
        }
        cdsLogtran.setProviderName(QStringLiteral("dspLogtran"));
        cdsLogtran.setRemoteServer(&fuelConnection);
        cdsTovarStat.setProviderName(QStringLiteral("dspGoodsStat"));
        cdsTovarStat.setRemoteServer(&goodsConnection);
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    // --chain-only skips the one-station cases, for a quick look at the chain alone.
    QStringList positional = QCoreApplication::arguments().mid(1);
    const bool chainOnly = positional.removeAll(QStringLiteral("--chain-only")) > 0;
    const QString server = positional.value(0, qEnvironmentVariable("TORVI_TEST_PGHOST"));
    const QString root =
        positional.value(1, QDir::tempPath() + QStringLiteral("/torvi-bench-station"));
    if (server.isEmpty())
        fail(QStringLiteral("usage: bench_postgres HOST:PORT [SQLITE-ROOT] [--chain-only] (or "
                            "TORVI_TEST_PGHOST)"));
    MessageBoxes::setHandler([](const MessageBoxes::Shown& box) -> QMessageBox::StandardButton {
        fail(QStringLiteral("Сообщение во время прогона: ") + box.text);
    });

    QElapsedTimer loading;
    loading.start();
    if (!QFileInfo::exists(root + QStringLiteral("/DB/TradeDB/goods.sqlite")))
        generate(QStringList{QStringLiteral("--root"), root} + history(1));
    for (int s = 1; s <= kStations; ++s) {
        if (!databaseExists(server, stationDb(s, "goods")))
            generate(QStringList{QStringLiteral("--postgres"), server, QStringLiteral("--fuel-db"),
                                 stationDb(s, "fuel"), QStringLiteral("--goods-db"),
                                 stationDb(s, "goods"), QStringLiteral("--force")} +
                     history(s));
    }
    std::printf("stations ready in %.1f s (%d on the server, station 1 also in %s)\n",
                loading.elapsed() / 1000.0, kStations, qPrintable(root));

    Station embedded(QString(), root + QStringLiteral("/DB/TradeDB"), root + QStringLiteral("/DB"));
    Station postgres(server, stationDb(1, "goods"), stationDb(1, "fuel"));
    Window window;
    window.view.resize(900, 600);
    window.view.show();
    TQueryItems grades;
    for (const char* grade : kGrades)
        grades << TQueryItem{QString::fromUtf8(grade), 0};
    TQueryItems categories;
    {
        int rows = 0;
        timeSql(server, stationDb(1, "goods"), QStringLiteral("SELECT 1 FROM Category"), rows);
        for (int c = 1; c <= rows; ++c)
            categories << TQueryItem{QStringLiteral("Категория %1").arg(c), c};
    }

    const QString from = QStringLiteral("'2009-01-01 00:00:00'");
    const QString to = QStringLiteral("'2010-01-01 00:00:00'");
    const auto bucket = [&](const char* column, int seconds) {
        return QStringLiteral("floor(extract(epoch FROM (%1 - timestamp %2)) / %3)")
            .arg(QLatin1String(column), from)
            .arg(seconds);
    };
    struct Case {
        const char* name;
        bool fuel;
        TDateTime to;
        int unit;
        bool split;
        QString sql;
    };
    const TDateTime year = encodeDateTime(2009, 1, 1), yearEnd = encodeDateTime(2010, 1, 1);
    const QString goodsSql = QStringLiteral(
        "SELECT %1%2 AS b, SUM(gm.RPrice * gm.\"COUNT\") FROM Documents d JOIN GoodsMotion gm ON "
        "(d.ID_doc = gm.ID_doc) JOIN Batches bt ON (gm.ID_p = bt.ID_P) JOIN Goods g ON "
        "(bt.ID_Goods = g.ID_Goods) WHERE d.\"TYPE\" = 2 AND d.Data >= %3 AND d.Data < %4 "
        "GROUP BY %1b");
    const Case cases[] = {
        {"fuel, year, 1-hour steps, summed", true, yearEnd, 1, false,
         QStringLiteral("SELECT %1 AS b, SUM(Liter) FROM LogTran WHERE Data >= %2 AND Data < %3 "
                        "GROUP BY b")
             .arg(bucket("Data", 3600), from, to)},
        {"fuel, year, 1-hour steps, per grade", true, yearEnd, 1, true,
         QStringLiteral("SELECT GsmName, %1 AS b, SUM(Liter) FROM LogTran WHERE Data >= %2 AND "
                        "Data < %3 GROUP BY GsmName, b")
             .arg(bucket("Data", 3600), from, to)},
        {"fuel, month, 1-minute steps, summed", true, encodeDateTime(2009, 2, 1), 0, false,
         QStringLiteral("SELECT %1 AS b, SUM(Liter) FROM LogTran WHERE Data >= %2 AND Data < "
                        "'2009-02-01 00:00:00' GROUP BY b")
             .arg(bucket("Data", 60), from)},
        {"goods, year, 1-hour steps, summed", false, yearEnd, 1, false,
         goodsSql.arg(QString(), bucket("d.Data", 3600), from, to)},
        {"goods, year, 1-hour steps, per category", false, yearEnd, 1, true,
         goodsSql.arg(QStringLiteral("g.ID_Category, "), bucket("d.Data", 3600), from, to)},
    };
    std::printf("%-42s %10s %10s %10s %8s %8s\n", "case", "embedded", "postgres", "pg SQL",
                "pg/emb", "pg/SQL");
    for (const Case& c : cases) {
        if (chainOnly)
            break;
        double ms[2];
        int points[2];
        for (int k = 0; k < 2; ++k) {
            Station& station = k == 0 ? embedded : postgres;
            std::unique_ptr<TGraphExtractor> extractor;
            if (c.fuel) {
                auto fuel = std::make_unique<TGSMExtractor>(0, year, c.to, 0, &station.cdsLogtran,
                                                            &window.chart, &window.owner,
                                                            TGSMColor{}, &window.pageBar);
                fuel->SetItems(grades);
                fuel->SetFuelMode(true);
                extractor = std::move(fuel);
            } else {
                auto goods =
                    std::make_unique<TFoodExtractor>(0, year, c.to, 0, &station.cdsTovarStat,
                                                     &window.chart, &window.owner, &window.pageBar);
                goods->SetItems(categories);
                extractor = std::move(goods);
            }
            extractor->SetStepMultiplier(1);
            extractor->SetStepUnit(c.unit);
            extractor->SetMultiGraph(c.split);
            ms[k] = timeRun(*extractor, window, points[k]);
        }
        if (points[0] != points[1])
            fail(QStringLiteral("%1: %2 points from the embedded server, %3 from PostgreSQL")
                     .arg(QLatin1String(c.name))
                     .arg(points[0])
                     .arg(points[1]));
        int groups = 0;
        double sqlMs = 1e300;
        for (int attempt = 0; attempt < 2; ++attempt)
            sqlMs = std::min(
                sqlMs, timeSql(server, stationDb(1, c.fuel ? "fuel" : "goods"), c.sql, groups));
        std::printf("%-42s %7.1f ms %7.1f ms %7.1f ms %7.2fx %7.2fx\n", c.name, ms[0], ms[1], sqlMs,
                    ms[1] / ms[0], ms[1] / sqlMs);
        std::fflush(stdout);
    }

    // The chain: every station's year at one-hour steps, one line per station, read over the
    // bounded pool, against the sum of the bare server-side GROUP BYs of the same rows. Every
    // station is a new connection, whose server process maps each shared buffer it reads; with
    // the buffers in 4 KiB pages that costs as much as the station's statement on this machine,
    // in huge pages (vm.nr_hugepages reserved before the server starts) next to nothing. Said
    // here, since the absolute figure depends on it.
    {
        QFile meminfo(QStringLiteral("/proc/meminfo"));
        qint64 total = 0, free = 0;
        if (meminfo.open(QIODevice::ReadOnly))
            for (const QByteArray& line : meminfo.readAll().split('\n')) {
                const QList<QByteArray> words = line.simplified().split(' ');
                if (words.value(0) == "HugePages_Total:")
                    total = words.value(1).toLongLong();
                else if (words.value(0) == "HugePages_Free:")
                    free = words.value(1).toLongLong();
            }
        std::printf("huge pages of this machine in use: %lld of %lld (%s)\n",
                    static_cast<long long>(total - free), static_cast<long long>(total),
                    total > free ? "the server's shared buffers, if it runs here"
                                 : "none: the server maps its buffers in 4 KiB pages");
    }
    TChainStations chain;
    for (int s = 1; s <= kStations; ++s)
        chain.append({QStringLiteral("АЗС %1").arg(s),
                      QString(),
                      stationDb(s, "fuel"),
                      stationDb(s, "goods"),
                      {}});
    {
        TChainExtractor extractor(0, year, yearEnd, 0, &window.chart, &window.owner,
                                  &window.pageBar);
        extractor.SetServer(server, chooseStatServer);
        extractor.SetStations(chain);
        extractor.SetItems(grades);
        extractor.SetFuelMode(true);
        extractor.SetStepMultiplier(1);
        extractor.SetStepUnit(1);
        extractor.SetMultiGraph(true);
        int points = 0;
        const double ms = timeRun(extractor, window, points);
        double sqlMs = 0;
        int groups = 0;
        for (int s = 1; s <= kStations; ++s) {
            double best = 1e300;
            for (int attempt = 0; attempt < 2; ++attempt)
                best = std::min(best, timeSql(server, stationDb(s, "fuel"), cases[0].sql, groups));
            sqlMs += best;
        }
        std::printf("chain of %d stations, year, 1-hour steps, one line each (%d connections): "
                    "%.1f ms, %d points; the stations' GROUP BYs one after another %.1f ms: "
                    "%.2fx (goals: 1.5x, 3000 ms)\n",
                    kStations, TChainRun::ConnectionsFromEnvironment(), ms, points, sqlMs,
                    ms / sqlMs);
        std::fflush(stdout);
    }

    // The catalogue at chain size: 500 stations registered (their data is the twenty's), read
    // and shown in the chain window.
    constexpr int kRegistered = 500;
    const QString benchRegion = QStringLiteral("Бенчмарк");
    for (int i = 0; i < kRegistered; ++i)
        ChainCatalogue::registerStation(server, {QStringLiteral("Бенчмарк АЗС %1").arg(i + 1),
                                                 benchRegion,
                                                 chain[i % kStations].fuelDb,
                                                 chain[i % kStations].goodsDb,
                                                 {}});
    {
        TdmStatistic dm;
        dm.DCOMConnection1.setComputerName(server);
        QElapsedTimer timer;
        timer.start();
        const qsizetype listed = readChainStations(server).size();
        const double readMs = timer.nsecsElapsed() / 1e6;
        timer.restart();
        TfmChainStat chainWindow(dm);
        chainWindow.show();
        QCoreApplication::processEvents();
        const double openMs = timer.nsecsElapsed() / 1e6;
        if (chainWindow.clbStations->count() != listed || chainWindow.clbItems->count() == 0)
            fail(QStringLiteral("Окно сети показало %1 АЗС из %2 и %3 видов топлива")
                     .arg(chainWindow.clbStations->count())
                     .arg(listed)
                     .arg(chainWindow.clbItems->count()));
        std::printf("catalogue of %lld stations read in %.1f ms; chain window open with them in "
                    "%.1f ms (goal: under 1000 ms together)\n",
                    static_cast<long long>(listed), readMs, openMs);
    }
    int removed = 0;
    timeSql(server, QLatin1String(ChainCatalogue::kDatabase),
            QStringLiteral("DELETE FROM stations WHERE region = '%1' RETURNING 1").arg(benchRegion),
            removed);
    return 0;
}
