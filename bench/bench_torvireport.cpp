// torvi-report from process start to a written PDF, XLSX and CSV, over a busy station's year at
// one-hour steps, one line per grade; set against SQLite summing the same rows into the same
// buckets with a bare GROUP BY, measured in the same run. Then a year at one-minute steps
// (525 600 buckets × 6 grades) with and without the data files: the difference of the largest
// resident sizes is what writing the CSV and XLSX costs beyond the chart.
// Run by hand: ./bench_torvireport [fillings per day] [--skip-minutes]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>

namespace {

const char kStart[] = "2009-01-01";
const char kEnd[] = "2010-01-01";

struct Child {
    double seconds = 0;
    long maxRssKb = 0;
};

// Runs a program and waits for it; its wall time and largest resident size.
Child run(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    p.start(program, args);
    p.waitForStarted();
    // Waited for here, not by QProcess, to read the child's own resource usage.
    const pid_t pid = pid_t(p.processId());
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        std::exit(1);
    }
    Child child{clock.nsecsElapsed() / 1e9, usage.ru_maxrss};
    p.waitForFinished(100);
    return child;
}

double groupBy(const QString& file) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench"));
    db.setDatabaseName(file);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!db.open()) {
        std::fprintf(stderr, "%s\n", qPrintable(db.lastError().text()));
        std::exit(1);
    }
    QElapsedTimer clock;
    clock.start();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const bool ok = query.exec(
        QStringLiteral("SELECT GsmName, CAST((julianday(Data) - julianday('%1')) * 24 AS INTEGER) "
                       "AS bucket, SUM(Liter) FROM LogTran WHERE Data >= '%1 00:00:00.000' AND "
                       "Data < '%2 00:00:00.000' GROUP BY GsmName, bucket")
            .arg(QLatin1String(kStart), QLatin1String(kEnd)));
    int rows = 0;
    while (ok && query.next())
        ++rows;
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (!ok || rows == 0) {
        std::fprintf(stderr, "GROUP BY failed: %s\n", qPrintable(query.lastError().text()));
        std::exit(1);
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString fillings = args.size() > 1 && !args.at(1).startsWith(QLatin1Char('-'))
                                 ? args.at(1)
                                 : QStringLiteral("1000");
    QTemporaryDir dir;
    const QString root = dir.path();
    std::printf("station: a year of %s fillings a day\n", qPrintable(fillings));
    run(QStringLiteral(STATIONDB_PROGRAM),
        {QStringLiteral("--root"), root, QStringLiteral("--start"), QLatin1String(kStart),
         QStringLiteral("--days"), QStringLiteral("365"), QStringLiteral("--fillings"), fillings,
         QStringLiteral("--seed"), QStringLiteral("7")});

    const QString out = root + QStringLiteral("/EXPORT/year");
    const QStringList common{QStringLiteral("fuel"),       QStringLiteral("--fuel-db"),
                             root + QStringLiteral("/DB"), QStringLiteral("--from"),
                             QLatin1String(kStart),        QStringLiteral("--to"),
                             QLatin1String(kEnd),          QStringLiteral("--all"),
                             QStringLiteral("--split"),    QStringLiteral("--quiet")};
    const QStringList files{QStringLiteral("--out"), out + QStringLiteral(".pdf"),
                            QStringLiteral("--out"), out + QStringLiteral(".xlsx"),
                            QStringLiteral("--out"), out + QStringLiteral(".csv")};
    const double sql = groupBy(root + QStringLiteral("/DB/fuel.sqlite"));
    const Child hours =
        run(QStringLiteral(REPORT_PROGRAM),
            common +
                QStringList{QStringLiteral("--step"), QStringLiteral("1"), QStringLiteral("hour")} +
                files);
    std::printf("year, one-hour steps, 6 grades: torvi-report (start to PDF+XLSX+CSV) %.3f s, "
                "bare GROUP BY %.3f s, ratio %.2f; largest resident size %ld MiB\n",
                hours.seconds, sql, hours.seconds / sql, hours.maxRssKb / 1024);

    if (args.contains(QStringLiteral("--skip-minutes")))
        return 0;
    const QStringList minutes{QStringLiteral("--step"), QStringLiteral("1"),
                              QStringLiteral("minute")};
    const Child chartOnly =
        run(QStringLiteral(REPORT_PROGRAM),
            common + minutes +
                QStringList{QStringLiteral("--out"), out + QStringLiteral("-minutes.html")});
    const Child withFiles =
        run(QStringLiteral(REPORT_PROGRAM),
            common + minutes +
                QStringList{QStringLiteral("--out"), out + QStringLiteral("-minutes.csv"),
                            QStringLiteral("--out"), out + QStringLiteral("-minutes.xlsx")});
    const QFileInfo csv(out + QStringLiteral("-minutes.csv"));
    const QFileInfo xlsx(out + QStringLiteral("-minutes.xlsx"));
    std::printf("year, one-minute steps (525 600 buckets x 6 grades): chart and page only "
                "%.1f s, %ld MiB; with CSV (%lld MiB) and XLSX (%lld MiB) %.1f s, %ld MiB; the "
                "data files cost %ld MiB beyond the chart\n",
                chartOnly.seconds, chartOnly.maxRssKb / 1024, csv.size() >> 20, xlsx.size() >> 20,
                withFiles.seconds, withFiles.maxRssKb / 1024,
                (withFiles.maxRssKb - chartOnly.maxRssKb) / 1024);
    return 0;
}
