#include "ReportOptions.h"
#include "common/ExtractorHarness.h"
#include "common/TestFiles.h"

#include "extraction/FoodExtractor.h"
#include "extraction/GSMExtractor.h"
#include "extraction/StatReport.h"
#include "platform/core/CodePage1251.h"
#include "platform/core/FormatSettings.h"

#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

struct Run {
    int code = -1;
    QString err;
};

// The tool as a scheduler starts it: no display, no terminal.
Run report(const QStringList& args, rlim_t fileLimit = RLIM_INFINITY) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    p.setChildProcessModifier([fileLimit] {
        // A full disk: every write past the limit fails, as on a disk without room.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{fileLimit, fileLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    p.start(QStringLiteral(REPORT_PROGRAM), args);
    if (!p.waitForFinished(300000))
        return {};
    return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardError())};
}

// RFC 4180 fields, quotes doubled inside quoted fields.
QList<QStringList> readCsv(const QString& text, QChar separator) {
    QList<QStringList> rows{{}};
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted && c == QLatin1Char('"') && i + 1 < text.size() &&
            text.at(i + 1) == QLatin1Char('"')) {
            field += c;
            ++i;
        } else if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (!quoted && (c == separator || c == QLatin1Char('\n'))) {
            rows.last() << field;
            field.clear();
            if (c == QLatin1Char('\n'))
                rows << QStringList();
        } else if (quoted || c != QLatin1Char('\r')) {
            field += c;
        }
    }
    rows.removeLast();
    return rows;
}

QString unzip(const QString& archive, const QString& member) {
    QProcess p;
    p.start(QStringLiteral("unzip"), {QStringLiteral("-p"), archive, member});
    p.waitForFinished();
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TestTorviReport : public QObject {
    Q_OBJECT

    QStringList stationArgs(const StationFixture& s) {
        return {"--fuel-db",        s.fuelParameter(), "--goods-db",
                s.goodsParameter(), "--stat-server",   s.computerName()};
    }

private slots:
    void options_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("period"); // "from to" or the error's start
        const QDateTime newYear(QDate(2026, 1, 1), QTime(0, 30));
        const QDateTime march(QDate(2024, 3, 1), QTime(9, 0));
        const QStringList base{"fuel", "--all", "--out", "r-{from}-{to}.pdf"};
        const auto row = [&](const char* name, QStringList extra, QDateTime now, QString period) {
            QTest::newRow(name) << base + extra << now << period;
        };
        row("yesterday across the year", {}, newYear, "2025-12-31 2026-01-01");
        row("last month in January", {"--period", "last-month"}, newYear, "2025-12-01 2026-01-01");
        row("last month mid-March", {"--period", "last-month"}, march.addDays(14),
            "2024-02-01 2024-03-01");
        row("this year on its first day", {"--period", "this-year"}, newYear,
            "2026-01-01 2026-01-02");
        row("last year", {"--period", "last-year"}, march, "2023-01-01 2024-01-01");
        row("last 7 days over a leap day", {"--period", "last-7-days"}, march,
            "2024-02-23 2024-03-01");
        row("this month on its first day", {"--period", "this-month"}, march,
            "2024-03-01 2024-03-02");
        row("dates and times", {"--from", "2009-08-24 06:00", "--to", "25.08.2009"}, march,
            "2009-08-24T06:00 2009-08-25");
        row("bad date", {"--from", "2009-02-30", "--to", "2009-03-01"}, march,
            "Неверная дата --from: «2009-02-30»");
        row("empty period", {"--from", "2009-08-24", "--to", "2009-08-24"}, march,
            "Задан неверный период выборки");
        row("unknown period", {"--period", "last-week"}, march, "Неизвестный период");
        row("unknown option", {"--grades", "x"}, march, "Неизвестный параметр: --grades");
        row("unknown unit", {"--step", "2", "fortnight"}, march, "Неизвестная единица шага");
        row("unknown format", {"--out", "r.doc"}, march, "Неизвестный формат файла «r.doc»");
        row("categories for fuel", {"--category", "1"}, march, "Для ГСМ выбираются");
        row("unknown comparison", {"--compare", "week"}, march, "Неизвестное сравнение");
    }
    void options() {
        QFETCH(QStringList, args);
        QFETCH(QDateTime, now);
        QFETCH(QString, period);
        const ReportOptionsParse parsed = parseReportOptions(args, now);
        if (!parsed.options) {
            QVERIFY2(parsed.error.startsWith(period), qPrintable(parsed.error));
            return;
        }
        const auto iso = [](const QDateTime& t) {
            return t.time() == QTime(0, 0) ? t.toString(Qt::ISODate).left(10)
                                           : t.toString(Qt::ISODate).left(16);
        };
        QCOMPARE(iso(parsed.options->from) + ' ' + iso(parsed.options->to), period);
        QCOMPARE(parsed.options->outputs.first(),
                 QStringLiteral("r-%1-%2.pdf")
                     .arg(parsed.options->from.date().toString(Qt::ISODate),
                          parsed.options->to.date().toString(Qt::ISODate)));
    }

    void refusals_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown grade")
            << QStringList{"fuel", "--grade", "АИ-100"} << "Неизвестный вид топлива: «АИ-100»";
        QTest::newRow("unknown category")
            << QStringList{"goods", "--category", "77"} << "Неизвестная категория: «77»";
        QTest::newRow("missing database")
            << QStringList{"fuel", "--all", "--fuel-db", "/nonexistent/DB"} << "/nonexistent/DB";
        QTest::newRow("server refuses")
            << QStringList{"fuel", "--all", "--stat-server", "127.0.0.1:1"} << "127.0.0.1";
    }
    void refusals() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        StationFixture station(StationServerKind::Embedded);
        QTemporaryDir out;
        const QString pdf = out.filePath("r.pdf");
        const Run r =
            report(stationArgs(station) + args +
                   QStringList{"--from", "2009-08-24", "--to", "2009-08-25", "--out", pdf});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.startsWith("torvi-report: ") && r.err.count('\n') == 1, qPrintable(r.err));
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(QDir(out.path()).isEmpty());
    }

    // The CSV's numbers are the chart's: the same station, period, step and items through the
    // extractor a window uses.
    void csvMatchesChart_data() {
        QTest::addColumn<bool>("fuel");
        QTest::addColumn<bool>("machine");
        QTest::addColumn<QStringList>("header");
        // The last grade's name holds either dialect's separator and a quote, and starts as a
        // formula would.
        const QStringList grades{"Дата", "АИ-92", "АИ-95", "ДТ", "АИ-95 'Премиум'"};
        QTest::newRow("fuel, spreadsheet")
            << true << false << grades + QStringList{"'=Газ \"Пропан\"; смесь, 1"};
        QTest::newRow("fuel, machine")
            << true << true << grades + QStringList{"=Газ \"Пропан\"; смесь, 1"};
        QTest::newRow("goods categories, machine")
            << false << true << QStringList{"Дата", "Напитки", "Снеки"};
    }
    void csvMatchesChart() {
        QFETCH(bool, fuel);
        QFETCH(bool, machine);
        QFETCH(QStringList, header);
        ExtractorHarness h(fuel ? QStringLiteral("dspLogtran") : QStringLiteral("dspGoodsStat"));
        QVERIFY2(h.station.isValid(), qPrintable(h.station.error()));
        std::unique_ptr<TGraphExtractor> e;
        const TDateTime day24 = encodeDateTime(2009, 8, 24);
        TQueryItems items;
        if (fuel) {
            QVERIFY(h.station.exec(
                h.station.fuelFile(),
                {"INSERT INTO GSM (ID_GSM, GsmName, SortOrder) VALUES "
                 "(5, '=Газ \"Пропан\"; смесь, 1', 5)",
                 "INSERT INTO LogTran (ID_LogTran, Data, GsmName, Liter, Summa) VALUES "
                 "(11, '2009-08-24 05:00:00.000', '=Газ \"Пропан\"; смесь, 1', 12.5, 125.55)"}));
            for (const char* grade :
                 {"АИ-92", "АИ-95", "ДТ", "АИ-95 'Премиум'", "=Газ \"Пропан\"; смесь, 1"})
                items << TQueryItem{QString::fromUtf8(grade), 0};
            e = std::make_unique<TGSMExtractor>(0, day24, day24 + 1, 0, &h.dataSet, &h.chart,
                                                &h.owner, TGSMColor(), nullptr);
        } else {
            items = {{"Напитки", 1}, {"Снеки", 2}};
            e = std::make_unique<TFoodExtractor>(0, day24, day24 + 1, 0, &h.dataSet, &h.chart,
                                                 &h.owner, nullptr);
        }
        e->SetStepMultiplier(3);
        e->SetStepUnit(1);
        e->SetSchema(1);
        e->SetMultiGraph(true);
        e->SetItems(items);
        ExtractorHarness::run(*e);
        QVERIFY(h.boxes.isEmpty());

        QTemporaryDir out;
        const QString csv = out.filePath("data.csv");
        const Run r = report(stationArgs(h.station) +
                             QStringList{fuel ? "fuel" : "goods", "--schema", "1", "--step",
                                         "3 час", "--split", "--from", "2009-08-24", "--to",
                                         "2009-08-25", "--out", csv} +
                             (fuel ? QStringList{"--all"}
                                   : QStringList{"--category", "Напитки", "--category", "2"}) +
                             (machine ? QStringList{"--csv-c"} : QStringList{}));
        QVERIFY2(r.code == 0, qPrintable(r.err));

        const QByteArray bytes = readBytes(csv);
        QCOMPARE(bytes.startsWith("\xEF\xBB\xBF"), !machine);
        const QList<QStringList> rows =
            readCsv(QString::fromUtf8(bytes).remove(QChar(0xFEFF)), machine ? ',' : ';');
        QCOMPARE(rows.value(0), header);
        QCOMPARE(rows.size() - 1, h.chart.series(0)->count());
        for (int s = 0; s < items.size(); ++s) {
            const QList<double> cents = h.cents(s);
            for (int i = 0; i < cents.size(); ++i) {
                QString value = rows.at(i + 1).value(s + 1);
                QCOMPARE(value.contains(machine ? ',' : '.'), false);
                QCOMPARE(value.replace(',', '.').toDouble(), cents.at(i));
            }
        }
        const QDateTime third = toQDateTime(h.chart.series(0)->point(2).x);
        QCOMPARE(rows.at(3).first(),
                 third.toString(machine ? "yyyy-MM-ddTHH:mm:ss" : "dd.MM.yyyy HH:mm"));
    }

    // One run, every format; the workbook and the printed report read back.
    void everyFormat() {
        StationFixture station(StationServerKind::Embedded);
        QTemporaryDir out;
        const QString base = out.filePath("fuel");
        const Run r = report(
            stationArgs(station) +
            QStringList{"fuel",        "--schema",    "Время - Суммы", "--all",       "--split",
                        "--from",      "2009-08-24",  "--to",          "2009-08-25",  "--step",
                        "1",           "hour",        "--size",        "640x480",     "--out",
                        base + ".pdf", "--out",       base + ".html",  "--out",       base + ".png",
                        "--out",       base + ".txt", "--out",         base + ".xlsx"});
        QVERIFY2(r.code == 0, qPrintable(r.err));

        const QString sheet = unzip(base + ".xlsx", "xl/worksheets/sheet1.xml");
        QVERIFY(sheet.contains("<pane ySplit=\"1\""));
        // 2009-08-24 12:00 as a date serial, and АИ-95's 180 in the same row.
        QVERIFY2(sheet.contains(QRegularExpression("<c r=\"A14\" s=\"\\d+\"><v>40049\\.5</v></c>"
                                                   "<c r=\"B14\" s=\"\\d+\"><v>0</v></c>"
                                                   "<c r=\"C14\" s=\"\\d+\"><v>180</v></c>")),
                 qPrintable(sheet.left(3000)));
        const QString styles = unzip(base + ".xlsx", "xl/styles.xml");
        QVERIFY(styles.contains("formatCode=\"0.00\"") &&
                styles.contains("formatCode=\"dd.mm.yyyy hh:mm\""));
        const QString chart = unzip(base + ".xlsx", "xl/charts/chart1.xml");
        QVERIFY(chart.contains("<c:lineChart>") && chart.contains("<a:t>Время - Суммы c "));
        QCOMPARE(chart.count("<c:ser>"), 4);
        const QString totals = unzip(base + ".xlsx", "xl/worksheets/sheet2.xml");
        // АИ-92's fillings at 0:00, 10:00 and 11:00; the largest bucket is АИ-95 'Премиум' at 8:00.
        QVERIFY2(totals.contains(QRegularExpression("<t>АИ-92</t></is></c><c r=\"B\\d+\" "
                                                    "s=\"\\d+\"><v>799\\.9</v>")) &&
                     totals.contains("<v>520</v></c><c r=\"C1\" t=\"inlineStr\"><is><t>АИ-95 "
                                     "'Премиум'</t>"),
                 qPrintable(totals));

        QProcess pdftotext;
        pdftotext.start("pdftotext", {"-layout", base + ".pdf", "-"});
        QVERIFY(pdftotext.waitForFinished());
        const QString printed = QString::fromUtf8(pdftotext.readAllStandardOutput());
        QVERIFY2(printed.contains("Отчет по ГСМ") && printed.contains("ИТОГО:"),
                 qPrintable(printed));
        const QString decimal = TFormatSettings::workstation().decimalSeparator;
        for (const char* total : {"АИ-95 : 180%100", "ДТ : 610%100"})
            QVERIFY2(printed.contains(QString::fromUtf8(total).arg(decimal)), qPrintable(printed));

        const QString page = CodePage1251::decode(readBytes(base + ".html"));
        QVERIFY2(page.contains("<img src=\"fuel.bmp\" width=550 height="), qPrintable(page));
        QVERIFY(QImageReader(base + ".bmp").size().isValid());
        QCOMPARE(QImageReader(base + ".png").size(), QSize(640, 480));
        const QString table = QString::fromUtf8(readBytes(base + ".txt"));
        QVERIFY2(
            table.contains(QRegularExpression("\\| ДТ +\\| +59[.,]99 \\| +610[.,]00 \\| +2 \\|")),
            qPrintable(table));
    }

    // The earlier period in the data, the report and the table: the day before, in 12-hour steps.
    void compare() {
        StationFixture station(StationServerKind::Embedded);
        QTemporaryDir out;
        const QString base = out.filePath("c");
        const Run r = report(
            stationArgs(station) +
            QStringList{"fuel",   "--grade",      "АИ-92",    "--grade",    "ДТ",     "--split",
                        "--from", "2009-08-25",   "--to",     "2009-08-26", "--step", "12",
                        "час",    "--compare",    "previous", "--csv-c",    "--out",  base + ".csv",
                        "--out",  base + ".html", "--out",    base + ".txt"});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QString csv = QString::fromUtf8(readBytes(base + ".csv"));
        QVERIFY2(csv.startsWith("Дата,АИ-92,ДТ,АИ-92 (прошлый период),ДТ (прошлый период)\n"
                                "2009-08-25T00:00:00,30.00,0.00,79.99,10.00\n"),
                 qPrintable(csv));
        const QString page = CodePage1251::decode(readBytes(base + ".html"));
        QVERIFY2(page.contains("<nobr>ДТ : 59") && page.contains("к прошлому периоду: -78"),
                 qPrintable(page));
        const QString table = QString::fromUtf8(readBytes(base + ".txt"));
        QVERIFY2(table.contains("ПРОДАЖИ ГСМ ПО ВИДАМ ТОПЛИВА: ПРОШЛЫЙ ПЕРИОД") &&
                     table.contains("24.08.2009 00:00 - 25.08.2009 00:00") &&
                     table.contains(QRegularExpression("\\| ДТ +\\| +59[.,]99 \\|")),
                 qPrintable(table));
    }

    // A file is never written through a link planted at its name, and a full disk leaves no
    // file and no half a file.
    void safeWrites_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qulonglong>("limit");
        QTest::newRow("planted link, csv") << "d.csv" << qulonglong(RLIM_INFINITY);
        QTest::newRow("planted link, xlsx") << "d.xlsx" << qulonglong(RLIM_INFINITY);
        QTest::newRow("full disk, csv") << "d.csv" << qulonglong(100);
        QTest::newRow("full disk, xlsx") << "d.xlsx" << qulonglong(100);
    }
    void safeWrites() {
        QFETCH(QString, name);
        QFETCH(qulonglong, limit);
        StationFixture station(StationServerKind::Embedded);
        QTemporaryDir out;
        const QString target = out.filePath(name);
        const QString victim = out.filePath("victim");
        QVERIFY(writeBytes(victim, "keep"));
        QVERIFY(QFile::link(victim, target));
        const Run r =
            report(stationArgs(station) + QStringList{"fuel", "--all", "--from", "2009-08-24",
                                                      "--to", "2009-08-25", "--step", "1", "минута",
                                                      "--out", target},
                   rlim_t(limit));
        QCOMPARE(readBytes(victim), QByteArray("keep"));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
        if (limit == RLIM_INFINITY) {
            QVERIFY2(r.code == 0, qPrintable(r.err));
            QVERIFY(!QFileInfo(target).isSymLink() && QFileInfo(target).size() > 0);
        } else {
            QCOMPARE(r.code, 1);
            QVERIFY2(r.err.contains("Не удалось записать файл " + target), qPrintable(r.err));
            QVERIFY(QFileInfo(target).isSymLink());
        }
    }

    // SIGINT and SIGTERM stop a long run: the Russian line, the shell's code for the signal and
    // no output file.
    void interrupted_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }
    void interrupted() {
        QFETCH(int, signal);
        StationFixture station(StationServerKind::Embedded);
        QTemporaryDir out;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        p.setProcessEnvironment(env);
        // Decades at one-minute steps: more work than the test waits for, unless stopped.
        p.start(QStringLiteral(REPORT_PROGRAM),
                stationArgs(station) + QStringList{"fuel", "--all", "--from", "1980-01-01", "--to",
                                                   "2030-01-01", "--step", "1", "минута", "--out",
                                                   out.filePath("d.csv")});
        QVERIFY(p.waitForStarted());
        // Only once the program has its handlers and its worker (made for the run itself, so
        // that the run is under way): before that the signal would just end it.
        const auto running = [&] {
            const QString tasks = QStringLiteral("/proc/%1/task").arg(p.processId());
            for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                if (readBytes(tasks + "/" + task + "/comm").trimmed() == "QThread")
                    return true;
            return false;
        };
        const auto catches = [&] {
            const QByteArray status =
                readBytes(QStringLiteral("/proc/%1/status").arg(p.processId()));
            const qsizetype at = status.indexOf("SigCgt:");
            return at >= 0 && (status.mid(at + 7, status.indexOf('\n', at) - at - 7)
                                   .trimmed()
                                   .toULongLong(nullptr, 16) >>
                               (signal - 1)) &
                                  1;
        };
        QTRY_VERIFY_WITH_TIMEOUT(catches() && running(), 60000);
        QCOMPARE(::kill(pid_t(p.processId()), signal), 0);
        QVERIFY(p.waitForFinished(120000));
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 128 + signal);
        QVERIFY2(err.contains(QStringLiteral("Построение прервано")), qPrintable(err));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList());
    }

    void systemdUnits() {
        const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
        if (analyze.isEmpty())
            QSKIP("systemd-analyze is not installed");
        QTemporaryDir dir;
        for (const char* unit : {"torvi-report.service", "torvi-report.timer"}) {
            QByteArray text = readBytes(QStringLiteral(SOURCE_DIR "/contrib/systemd/") + unit);
            QVERIFY(!text.isEmpty());
            // Verified against the program built here instead of the user's installed link.
            text.replace("%h/.local/bin/torvi-report", REPORT_PROGRAM);
            QVERIFY(writeBytes(dir.filePath(unit), text));
        }
        QProcess p;
        p.start(analyze, {"verify", "--man=no", dir.filePath("torvi-report.service"),
                          dir.filePath("torvi-report.timer")});
        QVERIFY(p.waitForFinished());
        const QString said = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(p.exitCode() == 0 && !said.contains("torvi-report"), qPrintable(said));
    }
};

QTEST_MAIN(TestTorviReport)
#include "tst_torvireport.moc"
