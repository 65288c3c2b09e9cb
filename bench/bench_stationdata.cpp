// Opens the fuel sales of a year of a busy station in cdsLogtran, as the fuel extractor does, and
// compares the time with the same statement run by the sqlite3 command-line tool in the same run.
//
//   torvi-stationdb --root /tmp/station --fillings 1400
//   bench_stationdata [--root /tmp/station] [--runs 3]

#include "platform/core/DaraPaths.h"
#include "platform/core/Exceptions.h"
#include "platform/data/ClientDataSet.h"
#include "platform/data/DCOMConnection.h"
#include "platform/data/StationDateTime.h"
#include "platform/data/servers/StatServerChoice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

namespace {

long peakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void print(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString root = daraRoot();
    int runs = 3;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--root"))
            root = args[i + 1];
        else if (args[i] == QLatin1String("--runs"))
            runs = std::max(1, args[i + 1].toInt());
    }
    const QString fuelFolder = root + QStringLiteral("/DB");
    const QString fuelFile = fuelFolder + QStringLiteral("/fuel.sqlite");
    if (!QFileInfo::exists(fuelFile)) {
        print(QStringLiteral("Нет базы «%1». Создайте её: torvi-stationdb --root %2 --fillings "
                             "1400\n")
                  .arg(fuelFile, root));
        return 1;
    }

    try {
        TDCOMConnection connection{chooseStatServer};
        connection.setAfterConnect(
            [&](TDCOMConnection& sender) { sender.setStatParameter(2, fuelFolder); });
        TClientDataSet range(QStringLiteral("range"));
        range.setRemoteServer(&connection);
        range.setProviderName(QStringLiteral("dspLogtran"));
        range.setCommandText(
            QStringLiteral("SELECT min(Data) AS First, max(Data) AS Last FROM LogTran"));
        range.open();
        const double from = std::floor(range.fieldByName(QStringLiteral("First")).asDateTime());
        const double to = std::floor(range.fieldByName(QStringLiteral("Last")).asDateTime()) + 1;
        range.close();
        const QString sql = QStringLiteral("SELECT * FROM LogTran WHERE Data >= '%1' AND Data < "
                                           "'%2' ORDER BY Data, GSMName")
                                .arg(StationDateTime::toText(from), StationDateTime::toText(to));
        print(QStringLiteral("Запрос: %1\n").arg(sql));
        const long rssBefore = peakRssKiB();

        TClientDataSet cdsLogtran(QStringLiteral("cdsLogtran"));
        cdsLogtran.setRemoteServer(&connection);
        cdsLogtran.setProviderName(QStringLiteral("dspLogtran"));
        cdsLogtran.setCommandText(sql);
        qint64 bestOpen = -1;
        int rows = 0;
        for (int run = 0; run < runs; ++run) {
            cdsLogtran.close();
            connection.close();
            QElapsedTimer timer;
            timer.start();
            cdsLogtran.open();
            const qint64 ns = timer.nsecsElapsed();
            bestOpen = bestOpen < 0 ? ns : std::min(bestOpen, ns);
            rows = cdsLogtran.recordCount();
        }

        // One pass per grade over the filtered rows, as the per-grade chart walks them.
        QElapsedTimer walkTimer;
        walkTimer.start();
        TField& data = cdsLogtran.fieldByName(QStringLiteral("Data"));
        TField& liter = cdsLogtran.fieldByName(QStringLiteral("Liter"));
        TField& summa = cdsLogtran.fieldByName(QStringLiteral("Summa"));
        double checksum = 0;
        for (const char* grade : {"АИ-80", "АИ-92", "АИ-95", "АИ-98", "ДТ", "Газ"}) {
            cdsLogtran.setFilter(QStringLiteral("GsmName in ('%1')").arg(QString::fromUtf8(grade)));
            cdsLogtran.setFiltered(true);
            for (cdsLogtran.first(); !cdsLogtran.eof(); cdsLogtran.next())
                checksum += data.asDateTime() * 1e-9 + liter.asFloat() + summa.asFloat();
        }
        cdsLogtran.setFiltered(false);
        const qint64 walk = walkTimer.nsecsElapsed();
        const long rssAfter = peakRssKiB();

        qint64 bestCli = -1;
        for (int run = 0; run < runs; ++run) {
            QProcess cli;
            cli.setStandardOutputFile(QProcess::nullDevice());
            QElapsedTimer timer;
            timer.start();
            cli.start(QStringLiteral("sqlite3"), {QStringLiteral("-readonly"), fuelFile, sql});
            if (!cli.waitForFinished(600000) || cli.exitCode() != 0) {
                print(QStringLiteral("sqlite3 не выполнил запрос: %1\n")
                          .arg(QString::fromLocal8Bit(cli.readAllStandardError())));
                return 1;
            }
            const qint64 ns = timer.nsecsElapsed();
            bestCli = bestCli < 0 ? ns : std::min(bestCli, ns);
        }

        print(QStringLiteral("Строк: %1 (лучшее из %2 повторов)\n").arg(rows).arg(runs));
        print(QStringLiteral("cdsLogtran.open:        %1 мс\n").arg(bestOpen / 1e6, 0, 'f', 1));
        print(QStringLiteral("sqlite3 > /dev/null:    %1 мс\n").arg(bestCli / 1e6, 0, 'f', 1));
        print(QStringLiteral("Отношение open/sqlite3: %1\n")
                  .arg(double(bestOpen) / double(bestCli), 0, 'f', 2));
        print(QStringLiteral("Шесть проходов по маркам с фильтром: %1 мс (контроль %2)\n")
                  .arg(walk / 1e6, 0, 'f', 1)
                  .arg(checksum, 0, 'f', 0));
        print(QStringLiteral("Данные набора: %1 МиБ; пик памяти процесса: %2 МиБ (до открытия %3 "
                             "МиБ)\n")
                  .arg(cdsLogtran.dataBytes() / 1048576.0, 0, 'f', 1)
                  .arg(rssAfter / 1024.0, 0, 'f', 1)
                  .arg(rssBefore / 1024.0, 0, 'f', 1));
    } catch (const Exception& e) {
        print(QStringLiteral("Ошибка: %1\n").arg(e.message()));
        return 1;
    }
    return 0;
}
