// A primary and its streaming standby named as a list: how long a run (a new connection to the
// fuel database and one day-by-day sum over a month of fillings) takes with both up, and with
// each side down or frozen, in either order of the list, as ratios to the first run with both up
// in the same process. Failing over
// is bounded by the connect timeout per server; the goal is under 5 s.
//
// The pair is made with the project's cluster script in temporary folders, on two loopback
// ports from BASE-PORT on, and stopped at the end. Run by hand:
//   ./bench_failover [BASE-PORT]      (default 55440; the login is the script's, torvi/torvi)
#include "platform/data/StatServer.h"
#include "platform/data/servers/StatServerChoice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const QString kScript = QStringLiteral(CLUSTER_SCRIPT);

[[noreturn]] void fail(const QString& message) {
    std::fprintf(stderr, "%s\n", qPrintable(message));
    std::exit(1);
}

void cluster(const QStringList& arguments) {
    QProcess script;
    script.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    script.start(QStringLiteral("bash"), QStringList{kScript} + arguments);
    if (!script.waitForFinished(180000) || script.exitCode() != 0)
        fail(QStringLiteral("pg-test-cluster.sh %1 failed").arg(arguments.join(' ')));
}

QString value(TStatServer& server, const QString& sql) {
    const auto packet = server.provide(QStringLiteral("dspLogtran"), sql, {});
    if (packet->rowCount < 1)
        fail(QStringLiteral("no rows: ") + sql);
    const TDataColumn& c = packet->columns[0];
    return c.storage == TDataColumn::Storage::Text ? c.dictionary[c.textIds[0]]
                                                   : QString::number(c.ints[0]);
}

std::unique_ptr<TStatServer> serverOf(const QString& computer, const QString& database) {
    auto server = chooseStatServer(computer);
    server->setStatParameter(2, database);
    return server;
}

// The median of five runs, each on a new connection as a window's first run has; and whether
// the runs were served by a standby.
double timeRuns(const QString& computer, bool& onStandby) {
    std::vector<double> ms;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        try {
            auto server = serverOf(computer, QStringLiteral("failover_fuel"));
            onStandby =
                value(*server, QStringLiteral("SELECT pg_is_in_recovery()::int AS r, d, sum(Liter) "
                                              "FROM (SELECT date_trunc('day', Data) AS d, Liter "
                                              "FROM LogTran) t GROUP BY d ORDER BY d")) == "1";
        } catch (const std::exception& e) {
            fail(QStringLiteral("run failed: ") + QString::fromUtf8(e.what()));
        }
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[2];
}

pid_t postmaster(const QString& dir) {
    QFile file(dir + QStringLiteral("/data/postmaster.pid"));
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("no postmaster.pid in ") + dir);
    return pid_t(file.readLine().trimmed().toInt());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int base = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 55440;
    if (base < 1024 || base > 65534)
        fail(QStringLiteral("usage: bench_failover [BASE-PORT 1024..65534]"));
    qputenv("PGUSER", "torvi");
    qputenv("PGPASSWORD", "torvi");
    QTemporaryDir primaryDir, standbyDir;
    const QString primaryPort = QString::number(base), standbyPort = QString::number(base + 1);
    const QString primary = QStringLiteral("127.0.0.1:") + primaryPort;
    const QString standby = QStringLiteral("127.0.0.1:") + standbyPort;
    struct Stop {
        QString a, b;
        ~Stop() {
            QProcess::execute(QStringLiteral("bash"), {kScript, QStringLiteral("stop"), a});
            QProcess::execute(QStringLiteral("bash"), {kScript, QStringLiteral("stop"), b});
        }
    } stop{primaryDir.path(), standbyDir.path()};
    cluster({QStringLiteral("start"), primaryDir.path(), primaryPort});
    cluster({QStringLiteral("standby"), primaryDir.path(), standbyDir.path(), standbyPort});
    QProcess load;
    load.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    load.start(QStringLiteral(STATIONDB_PROGRAM),
               {QStringLiteral("--postgres"), primary, QStringLiteral("--fuel-db"),
                QStringLiteral("failover_fuel"), QStringLiteral("--goods-db"),
                QStringLiteral("failover_goods"), QStringLiteral("--days"), QStringLiteral("31")});
    if (!load.waitForFinished(600000) || load.exitCode() != 0)
        fail(QStringLiteral("torvi-stationdb failed"));
    const QString lsn = value(*serverOf(primary, QStringLiteral("postgres")),
                              QStringLiteral("SELECT pg_current_wal_lsn()::text"));
    auto replay = serverOf(standby, QStringLiteral("postgres"));
    for (QElapsedTimer waited; !waited.isValid() || waited.elapsed() < 120000;) {
        if (!waited.isValid())
            waited.start();
        if (value(*replay, QStringLiteral("SELECT (pg_last_wal_replay_lsn() >= '%1'::pg_lsn)::int")
                               .arg(lsn)) == "1")
            break;
        QThread::msleep(100);
    }
    replay.reset();

    // Either order of the list: libpq tries the servers in order, and with the primary first each
    // new connection logs in there before it finds the standby.
    struct Case {
        QString name;
        double ms;
        bool onStandby;
    };
    std::vector<Case> cases;
    for (const bool primaryFirst : {true, false}) {
        const QString list = primaryFirst ? primary + QLatin1Char(',') + standby
                                          : standby + QLatin1Char(',') + primary;
        const QString order =
            primaryFirst ? QStringLiteral("primary first") : QStringLiteral("standby first");
        bool onStandby = false;
        const auto measure = [&](const char* name) {
            const double ms = timeRuns(list, onStandby);
            cases.push_back({order + QStringLiteral(", ") + QLatin1String(name), ms, onStandby});
        };
        measure("both up");
        cluster({QStringLiteral("stop"), primaryDir.path()});
        measure("primary stopped");
        cluster({QStringLiteral("start"), primaryDir.path(), primaryPort});
        cluster({QStringLiteral("stop"), standbyDir.path()});
        measure("standby stopped");
        cluster({QStringLiteral("start"), standbyDir.path(), standbyPort});
        // A frozen server takes the connection but never answers: the connect timeout ends the
        // wait for it.
        for (const bool primaryFrozen : {true, false}) {
            const pid_t frozen = postmaster(primaryFrozen ? primaryDir.path() : standbyDir.path());
            ::kill(frozen, SIGSTOP);
            measure(primaryFrozen ? "primary frozen" : "standby frozen");
            ::kill(frozen, SIGCONT);
        }
    }

    std::printf("%-32s %10s %8s  %s\n", "case", "run, ms", "ratio", "served by");
    for (const Case& c : cases)
        std::printf("%-32s %10.1f %8.2f  %s\n", qPrintable(c.name), c.ms, c.ms / cases.front().ms,
                    c.onStandby ? "standby" : "primary");
    const double worst =
        std::max_element(cases.begin(), cases.end(), [](const Case& a, const Case& b) {
            return a.ms < b.ms;
        })->ms;
    std::printf("slowest fail-over run: %.2f s (goal: under 5 s) %s\n", worst / 1000,
                worst < 5000 ? "ok" : "MISSED");
    return 0;
}
