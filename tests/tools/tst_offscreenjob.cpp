// The host's job without an operator: its period, its pictures and the whole run over a
// generated station.

#include "HostOptions.h"
#include "OperatorScript.h"
#include "ScreenshotFile.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The generated history: 2024-01-20 to the leap day 2024-02-29, so that the job's month runs
// over a month end and a leap day.
const QString kHistoryStart = QStringLiteral("2024-01-20");
const QString kHistoryDays = QStringLiteral("41");
const QString kJobEnd = QStringLiteral("2024-03-01");

QImage sample(int width, int height, const QColor& colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

int colourCount(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}

struct Run {
    bool finished = false;
    int exitCode = -1;
    QStringList out;
    QString err;
};

Run runHost(const QString& root, const QStringList& arguments) {
    QProcess host;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DARA_ROOT"), root);
    environment.insert(QStringLiteral("TORVI_CONFIG_HOME"), root + QStringLiteral("/config"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Russian regional settings, as at the station: the value window's date reads 15.02.2024.
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    host.setProcessEnvironment(environment);
    host.start(QStringLiteral(HOST_PROGRAM), arguments);
    Run run;
    run.finished = host.waitForFinished(50000);
    if (!run.finished) {
        host.kill();
        host.waitForFinished(5000);
    }
    run.exitCode = host.exitStatus() == QProcess::NormalExit ? host.exitCode() : -1;
    run.out = QString::fromLocal8Bit(host.readAllStandardOutput())
                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.err = QString::fromLocal8Bit(host.readAllStandardError());
    return run;
}

} // namespace

class TestOffscreenJob : public QObject {
    Q_OBJECT

private slots:
    void period_data();
    void period();
    void jobOptions_data();
    void jobOptions();
    void screenshot_data();
    void screenshot();
    void screenshotRefused();
    void jobOverGeneratedStation();
    void jobEndsOnMessageBox();
};

void TestOffscreenJob::period_data() {
    QTest::addColumn<QDate>("end");
    QTest::addColumn<QDate>("from");
    QTest::newRow("within a month") << QDate(2025, 6, 30) << QDate(2025, 5, 31);
    QTest::newRow("over a year end") << QDate(2025, 1, 10) << QDate(2024, 12, 11);
    QTest::newRow("over a leap day") << QDate(2024, 3, 15) << QDate(2024, 2, 14);
    QTest::newRow("over a plain February") << QDate(2025, 3, 15) << QDate(2025, 2, 13);
    // Europe moved its clocks on 2024-03-31 and 2024-10-27: whole days still, midnight to midnight.
    QTest::newRow("over a clock change") << QDate(2024, 4, 10) << QDate(2024, 3, 11);
}

void TestOffscreenJob::period() {
    QFETCH(QDate, end);
    QFETCH(QDate, from);
    const JobPeriod period = jobPeriod(end, 30);
    QCOMPARE(period.from, QDateTime(from, QTime(0, 0), Qt::UTC));
    QCOMPARE(period.to, QDateTime(end, QTime(0, 0), Qt::UTC));
    QCOMPARE(period.from.secsTo(period.to), qint64(30) * 24 * 3600);
}

void TestOffscreenJob::jobOptions_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("job");
    QTest::addColumn<QDate>("end");
    QTest::newRow("no job") << QStringList{} << false << QDate::currentDate();
    QTest::newRow("job up to today")
        << QStringList{"--offscreen-job"} << true << QDate::currentDate();
    QTest::newRow("job up to a given day")
        << QStringList{"--offscreen-job", "--job-end", "2024-03-01"} << true << QDate(2024, 3, 1);
    QTest::newRow("given day first")
        << QStringList{"--job-end=2009-01-31", "--offscreen-job"} << true << QDate(2009, 1, 31);
}

void TestOffscreenJob::jobOptions() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, job);
    QFETCH(QDate, end);
    const HostOptionsParse parsed =
        parseHostOptions(QStringList{"torvi-host"} + arguments, QStringLiteral("/x.so"));
    QVERIFY2(parsed.options, qPrintable(parsed.error));
    QCOMPARE(parsed.options->offscreenJob, job);
    if (job)
        QCOMPARE(parsed.options->jobEnd, end);
    QVERIFY(parsed.options->toolkitArguments.isEmpty());
}

void TestOffscreenJob::screenshot_data() {
    QTest::addColumn<QString>("folder"); // under the temporary folder
    QTest::addColumn<QString>("before"); // what is at the file's name beforehand
    QTest::newRow("folder made") << "DARA/EXPORT"
                                 << "";
    QTest::newRow("existing folder") << "EXPORT"
                                     << "";
    QTest::newRow("older picture replaced") << "EXPORT"
                                            << "file";
    QTest::newRow("planted link replaced, its target untouched") << "EXPORT"
                                                                 << "link";
}

void TestOffscreenJob::screenshot() {
    QFETCH(QString, folder);
    QFETCH(QString, before);
    QTemporaryDir temporary;
    QVERIFY2(temporary.isValid(), qPrintable(temporary.errorString()));
    const QString dir = temporary.filePath(folder);
    const QString path = dir + QStringLiteral("/fuel-statistics.png");
    const QString victim = temporary.filePath(QStringLiteral("victim.txt"));
    if (!before.isEmpty()) {
        QVERIFY(QDir().mkpath(dir));
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("не трогать");
        file.close();
        if (before == QLatin1String("file"))
            QVERIFY(QFile::copy(victim, path));
        else
            QVERIFY(QFile::link(victim, path));
    }

    QString error;
    const QString written = saveScreenshot(sample(40, 30, Qt::blue), dir,
                                           QStringLiteral("fuel-statistics.png"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(written, path);
    const QFileInfo info(path);
    QVERIFY2(info.isFile() && !info.isSymLink(), "снимок не записан обычным файлом");
    QVERIFY2(info.permissions().testFlag(QFileDevice::ReadOther), "снимок не доступен для чтения");
    const QImage image(path);
    QCOMPARE(image.size(), QSize(40, 30));
    QCOMPARE(image.pixelColor(5, 5), QColor(Qt::blue));
    QCOMPARE(entries(dir), QStringList{QStringLiteral("fuel-statistics.png")});
    if (!before.isEmpty()) {
        QFile file(victim);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), QStringLiteral("не трогать"));
    }
}

void TestOffscreenJob::screenshotRefused() {
    QTemporaryDir temporary;
    QVERIFY2(temporary.isValid(), qPrintable(temporary.errorString()));
    const QString dir = temporary.filePath(QStringLiteral("EXPORT"));
    QFile blocker(dir);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString error;
    QVERIFY(saveScreenshot(sample(4, 4, Qt::red), dir, QStringLiteral("a.png"), &error).isEmpty());
    QCOMPARE(error, QStringLiteral("«%1» не является папкой").arg(dir));
    QVERIFY(saveScreenshot(QImage(), temporary.path(), QStringLiteral("a.png"), &error).isEmpty());
    QCOMPARE(error, QStringLiteral("Снимок «a.png» пуст"));
    QCOMPARE(entries(temporary.path()), QStringList{QStringLiteral("EXPORT")});
}

void TestOffscreenJob::jobOverGeneratedStation() {
    QTemporaryDir root;
    QVERIFY2(root.isValid(), qPrintable(root.errorString()));
    QProcess generator;
    generator.start(QStringLiteral(STATIONDB_PROGRAM),
                    {QStringLiteral("--root"), root.path(), QStringLiteral("--start"),
                     kHistoryStart, QStringLiteral("--days"), kHistoryDays,
                     QStringLiteral("--fillings"), QStringLiteral("80"), QStringLiteral("--seed"),
                     QStringLiteral("5")});
    QVERIFY2(generator.waitForFinished(30000) && generator.exitCode() == 0,
             qPrintable(QString::fromLocal8Bit(generator.readAllStandardError())));

    const Run run = runHost(
        root.path(), {QStringLiteral("--offscreen-job"), QStringLiteral("--job-end"), kJobEnd});
    QVERIFY2(run.finished, "torvi-host --offscreen-job не завершился за 50 с");
    QVERIFY2(run.exitCode == 0,
             qPrintable(QStringLiteral("код завершения %1:\n%2").arg(run.exitCode).arg(run.err)));
    const QString exportFolder = root.path() + QStringLiteral("/EXPORT/");
    QStringList written{exportFolder + QStringLiteral("fuel-statistics.png"),
                        exportFolder + QStringLiteral("fuel-point-value.png"),
                        exportFolder + QStringLiteral("fuel-report-viewer.png"),
                        exportFolder + QStringLiteral("fuel-report.pdf"),
                        exportFolder + QStringLiteral("fuel-report.html")};
    // The Word document comes from LibreOffice, where it is installed.
    if (!QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty())
        written << exportFolder + QStringLiteral("fuel-report.docx");
    written << exportFolder + QStringLiteral("fuel-table-preview.png")
            << exportFolder + QStringLiteral("fuel-table.pdf")
            << exportFolder + QStringLiteral("goods-statistics.png");
    QCOMPARE(run.out, written);
    // The saved page names the chart's picture where the plug-in left it, under the suite root.
    QFile page(run.out.value(4));
    QVERIFY(page.open(QIODevice::ReadOnly));
    QVERIFY(page.readAll().contains("<img src=\"" + QFile::encodeName(root.path()) +
                                    "/TEMP/chartimage.bmp\" width=550 "));
    // The shop's first three categories, one line each, over the same month.
    QVERIFY2(run.err.contains(QStringLiteral("«Время - Суммы», 31.01.2024 00:00 – 01.03.2024 "
                                             "00:00, шаг 1 сутки, разбить по видам товаров: "
                                             "Вода, Газированные напитки, Соки")),
             qPrintable(run.err));
    // The month 2024-01-31 to 2024-03-01, the first grade's point in the middle of it.
    QVERIFY2(run.err.contains(QStringLiteral("31.01.2024 00:00 – 01.03.2024 00:00")),
             qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("АИ-80; 15.02.2024 00:00:00, Четверг")),
             qPrintable(run.err));

    const QImage window(run.out.value(0));
    QVERIFY2(!window.isNull(), "снимок окна статистики не читается");
    QVERIFY2(window.width() >= 926 && window.height() >= 732,
             qPrintable(QStringLiteral("окно статистики снято размером %1 × %2")
                            .arg(window.width())
                            .arg(window.height())));
    QVERIFY2(colourCount(window) > 50, "снимок окна статистики почти одноцветный");
    const QImage value(run.out.value(1));
    QVERIFY2(!value.isNull(), "снимок окна значения не читается");
    QVERIFY2(value.width() >= 425 && value.height() >= 86,
             qPrintable(QStringLiteral("окно значения снято размером %1 × %2")
                            .arg(value.width())
                            .arg(value.height())));
    QVERIFY2(value.width() < window.width(), "вместо окна значения снято другое окно");
    const QImage goods(run.out.constLast());
    QVERIFY2(goods.width() >= 926 && goods.height() >= 682 && colourCount(goods) > 50,
             "снимок окна статистики по товарам не читается или почти одноцветный");
}

void TestOffscreenJob::jobEndsOnMessageBox() {
    // No station database: the fuel window says so in a box, and the job must end, not wait.
    QTemporaryDir root;
    QVERIFY2(root.isValid(), qPrintable(root.errorString()));
    const Run run = runHost(
        root.path(), {QStringLiteral("--offscreen-job"), QStringLiteral("--job-end"), kJobEnd});
    QVERIFY2(run.finished, "torvi-host --offscreen-job не завершился за 50 с");
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.out.isEmpty(), qPrintable(run.out.join(QLatin1Char('\n'))));
    QVERIFY2(run.err.contains(QStringLiteral("сообщение «Ошибка»")), qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("ошибка: Неожиданное сообщение «Ошибка»")),
             qPrintable(run.err));
    QVERIFY2(!QFileInfo::exists(root.path() + QStringLiteral("/EXPORT/fuel-statistics.png")),
             "снимок оставлен, хотя построение не состоялось");
}

QTEST_MAIN(TestOffscreenJob)
#include "tst_offscreenjob.moc"
