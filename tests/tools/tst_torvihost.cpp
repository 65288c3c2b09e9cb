#include "common/TestFiles.h"

#include "HostMainWindow.h"
#include "HostOptions.h"
#include "HostValues.h"
#include "ScreenshotFile.h"
#include "StatisticsPlugin.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kDefaultPlugin = QStringLiteral("/opt/torvi/lib/libtorvistat9.so");

QStringList menuTexts(const QMenu* menu) {
    QStringList texts;
    for (const QAction* item : menu->actions())
        texts << (item->isSeparator() ? QStringLiteral("—") : item->text());
    return texts;
}

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

constexpr int kJobLimitMs = 240000;

// Without `platform` the host has no screen at all.
Run runHost(const QString& root, const QStringList& arguments,
            const QString& platform = QStringLiteral("offscreen")) {
    QProcess host;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DARA_ROOT"), root);
    environment.insert(QStringLiteral("TORVI_CONFIG_HOME"), root + QStringLiteral("/config"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    if (platform.isEmpty())
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    // Russian regional settings, as at the station: the value window's date reads 15.02.2024.
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    host.setProcessEnvironment(environment);
    host.start(QStringLiteral(HOST_PROGRAM), arguments);
    Run run;
    // Only a hang may end it: the job prints, exports through the office suite and runs under the
    // sanitizers, on CI's busy machine as well.
    run.finished = host.waitForFinished(kJobLimitMs);
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

// The back-office host: its options, the plug-in in its menu, and its job without an operator:
// the period, the pictures and the whole run over a generated station.
class TestTorviHost : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        qputenv("DARA_ROOT", "/srv/dara/");
        QVERIFY2(m_station.isValid(), qPrintable(m_station.errorString()));
        QProcess generator;
        generator.start(QStringLiteral(STATIONDB_PROGRAM),
                        {QStringLiteral("--root"), m_station.path(), QStringLiteral("--start"),
                         kHistoryStart, QStringLiteral("--days"), kHistoryDays,
                         QStringLiteral("--fillings"), QStringLiteral("80"),
                         QStringLiteral("--seed"), QStringLiteral("5")});
        QVERIFY2(generator.waitForFinished(30000) && generator.exitCode() == 0,
                 qPrintable(QString::fromLocal8Bit(generator.readAllStandardError())));
    }

    void options_data() {
        QTest::addColumn<QStringList>("arguments");
        // plugin, mode, fuel-db, server, caption, job end (none without the job), goods-db
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("toolkit");
        const QString dflt = kDefaultPlugin;
        const QString today = QDate::currentDate().toString(Qt::ISODate);
        // clang-format off
        QTest::newRow("defaults") << QStringList{}
            << QStringList{dflt, "0", "/srv/dara/DB/", "", "", "", ""} << QStringList{};
        QTest::newRow("every value")
            << QStringList{"--plugin", "/tmp/p.so", "--mode", "3", "--fuel-db", "/srv/azs/fuel/",
                           "--stat-server", "stat1:5433,stat2", "--caption", "АЗС №7",
                           "--goods-db", "station07_goods"}
            << QStringList{"/tmp/p.so", "3", "/srv/azs/fuel/", "stat1:5433,stat2", "АЗС №7", "",
                           "station07_goods"}
            << QStringList{};
        QTest::newRow("toolkit options go on") << QStringList{"-platform", "offscreen", "--mode=1"}
            << QStringList{dflt, "1", "/srv/dara/DB/", "", "", "", ""}
            << QStringList{"-platform", "offscreen"};
        QTest::newRow("job up to today") << QStringList{"--offscreen-job"}
            << QStringList{dflt, "0", "/srv/dara/DB/", "", "", today, ""}
            << QStringList{};
        QTest::newRow("job up to a given day, given first")
            << QStringList{"--job-end=2009-01-31", "--offscreen-job"}
            << QStringList{dflt, "0", "/srv/dara/DB/", "", "", "2009-01-31", ""} << QStringList{};
        // clang-format on
    }
    void options() {
        QFETCH(QStringList, arguments);
        const HostOptionsParse parsed =
            parseHostOptions(QStringList{"torvi-host"} + arguments, kDefaultPlugin);
        QVERIFY2(parsed.options, qPrintable(parsed.error));
        const HostOptions& o = *parsed.options;
        QTEST((QStringList{o.pluginPath, QString::number(o.mode), o.fuelDb, o.statServer, o.caption,
                           o.offscreenJob ? o.jobEnd.toString(Qt::ISODate) : QString(), o.goodsDb}),
              "expected");
        QTEST(o.toolkitArguments, "toolkit");
    }

    void refusedOptions_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        const QString date = "Дата --job-end «%1» не в виде ГГГГ-ММ-ДД или раньше 1900 года";
        // clang-format off
        QTest::newRow("mode not a number")
            << QStringList{"--mode", "три"}
            << "Режим (--mode) должен быть целым числом, а не «три»";
        QTest::newRow("unknown option")
            << QStringList{"--fuel", "/x"} << "Неизвестный параметр: --fuel";
        QTest::newRow("value missing")
            << QStringList{"--stat-server"} << "Не указано значение параметра --stat-server";
        QTest::newRow("stray argument") << QStringList{"report"} << "Лишний аргумент: «report»";
        QTest::newRow("empty goods database")
            << QStringList{"--goods-db", " "} << "Не указана база товаров (--goods-db)";
        QTest::newRow("empty plugin")
            << QStringList{"--plugin", ""} << "Не указан файл модуля статистики (--plugin)";
        QTest::newRow("job end without the job") << QStringList{"--job-end", "2025-05-31"}
            << "Параметр --job-end задаёт период только для --offscreen-job";
        QTest::newRow("job end not a date")
            << QStringList{"--offscreen-job", "--job-end", "31.05.2025"} << date.arg("31.05.2025");
        QTest::newRow("job end before 1900")
            << QStringList{"--offscreen-job", "--job-end", "1899-12-31"} << date.arg("1899-12-31");
        // clang-format on
    }
    void refusedOptions() {
        QFETCH(QStringList, arguments);
        const HostOptionsParse parsed =
            parseHostOptions(QStringList{"torvi-host"} + arguments, kDefaultPlugin);
        QVERIFY(!parsed.options);
        QTEST(parsed.error, "error");
    }

    // Refused before any window: a bad option with its usage, a platform that does not exist or
    // cannot start with a Russian line instead of the toolkit's English abort.
    void refusedWithoutDisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("bad option")
            << QStringList{"--mode", "x"} << 2 << "Использование: torvi-host";
        QTest::newRow("no such platform")
            << QStringList{"-platform", "bogus"} << 2
            << "torvi-host: графическая платформа «bogus» не найдена; есть: ";
        QTest::newRow("no screen") << QStringList{"-platform", "xcb"} << 1
                                   << "torvi-host: не удалось запустить графическую платформу "
                                      "«xcb»: нет связи с экраном";
    }
    void refusedWithoutDisplay() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const Run run = runHost(QDir::tempPath(), arguments, QString());
        QVERIFY2(run.finished && run.exitCode == exitCode, qPrintable(run.err));
        QVERIFY2(run.err.contains(message) && !run.err.contains(QLatin1String("Qt platform")),
                 qPrintable(run.err));
    }

    void statisticsServerAnswers() {
        const auto ask = [](const QString& server, int code) {
            HostOptions options;
            options.statServer = server;
            HostValues::setOptions(options);
            TorviVariant result;
            TorviVariantInit(&result);
            HostValues::getPrivValue(&result, code);
            const QVariant value = result.vt == TORVI_VT_I4 ? QVariant(result.value.i4)
                                   : result.vt == TORVI_VT_BSTR
                                       ? QVariant(QString::fromUtf8(result.value.str))
                                       : QVariant();
            TorviVariantClear(&result);
            return value;
        };
        QCOMPARE(ask(QString(), 11), QVariant(1));
        QCOMPARE(ask(QStringLiteral("stat1:5433"), 11), QVariant(0));
        QCOMPARE(ask(QStringLiteral("stat1:5433"), 13), QVariant(QStringLiteral("stat1:5433")));
    }

    void pluginMenuInReports() {
        HostOptions options;
        HostValues::setOptions(options);
        HostMainWindow window(options);
        StatisticsPlugin plugin;
        QString error;
        QVERIFY2(plugin.load(QStringLiteral(PLUGIN_LIBRARY), &error), qPrintable(error));
        plugin.initialise(&window, window.reportsItem());
        // Where the entry goes and what it holds is the plug-in's own test; the host's window
        // puts the hint of the entry hovered into its status bar.
        const QStringList reports = menuTexts(window.reportsMenu());
        QAction* statistics = window.reportsMenu()->actions().at(reports.indexOf("Статистика"));
        statistics->menu()->actions().at(1)->showStatusText(window.menuBar());
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Товары"));

        plugin.unload();
        QVERIFY(!plugin.isLoaded());
        QCOMPARE(statistics->menu()->actions().at(0)->text(), QStringLiteral("ГСМ"));
    }

    void loadFailures_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");
        QTest::newRow("no such file") << "/nonexistent/libtorvistat9.so"
                                      << "Не удалось загрузить модуль статистики "
                                         "«/nonexistent/libtorvistat9.so»: ";
        QTest::newRow("another library")
            << NOT_A_PLUGIN_LIBRARY
            << QStringLiteral("«%1» не является модулем статистики: в нём нет функции InitReports")
                   .arg(QStringLiteral(NOT_A_PLUGIN_LIBRARY));
    }
    void loadFailures() {
        QFETCH(QString, path);
        QFETCH(QString, message);
        StatisticsPlugin plugin;
        QString error;
        QVERIFY(!plugin.load(path, &error));
        QVERIFY(!plugin.isLoaded());
        QVERIFY2(error.startsWith(message), qPrintable(error));
    }

    // Where the host looks for the plug-in without --plugin: in a tree laid out as the package
    // lays it out under a temporary root, and in this build tree.
    void defaultPlugin_data() {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("installed first") << QStringList{"beside", "installed"} << "installed";
        QTest::newRow("beside the program") << QStringList{"beside"} << "beside";
        QTest::newRow("none: the installed place is named") << QStringList{} << "installed";
    }
    void defaultPlugin() {
        QFETCH(QStringList, present);
        QFETCH(QString, chosen);
        const QTemporaryDir root;
        const QString bin = root.path() + QStringLiteral(INSTALL_BINDIR);
        const QHash<QString, QString> places{
            {"installed", root.path() + QStringLiteral(INSTALLED_PLUGIN)},
            {"beside", bin + "/libtorvistat9.so"}};
        for (const QString& place : present)
            QVERIFY(QDir().mkpath(QFileInfo(places[place]).path()) &&
                    QFile(places[place]).open(QIODevice::WriteOnly));
        QCOMPARE(defaultPluginPath(bin), places[chosen]);
        QCOMPARE(defaultPluginPath(QFileInfo(QStringLiteral(HOST_PROGRAM)).path()),
                 QFileInfo(QStringLiteral(PLUGIN_LIBRARY)).absoluteFilePath());
    }

    // The folder is made, the picture readable by all, and what cannot be written is refused with
    // its reason; the job's test plants links at its names.
    void screenshot() {
        QTemporaryDir temporary;
        QVERIFY2(temporary.isValid(), qPrintable(temporary.errorString()));
        const QString dir = temporary.filePath(QStringLiteral("DARA/EXPORT"));
        const QString path = dir + QStringLiteral("/fuel-statistics.png");
        QString error;
        QCOMPARE(saveScreenshot(sample(40, 30, Qt::blue), dir, "fuel-statistics.png", &error),
                 path);
        QVERIFY2(QFileInfo(path).permissions().testFlag(QFileDevice::ReadOther), qPrintable(error));
        QCOMPARE(QImage(path).pixelColor(5, 5), QColor(Qt::blue));
        QCOMPARE(entries(dir), QStringList{QStringLiteral("fuel-statistics.png")});

        const QString blocked = temporary.filePath(QStringLiteral("EXPORT"));
        QVERIFY(writeBytes(blocked, ""));
        QVERIFY(saveScreenshot(sample(4, 4, Qt::red), blocked, "a.png", &error).isEmpty());
        QCOMPARE(error, QStringLiteral("«%1» не является папкой").arg(blocked));
        QVERIFY(saveScreenshot(QImage(), temporary.path(), "a.png", &error).isEmpty());
        QCOMPARE(error, QStringLiteral("Снимок «a.png» пуст"));
        QCOMPARE(entries(temporary.path()), (QStringList{"DARA", "EXPORT"}));
    }

    // The whole job over a generated station, with a link planted at every file of a fixed name
    // it writes; and the job ending with the reason, never waiting, when one of them cannot be
    // written because a folder stands in its place.
    void jobOverGeneratedStation_data() {
        QTest::addColumn<QString>("blocked"); // the export file a folder stands in for, if any
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("goodsDb"); // --goods-db, a folder of the station's
        QTest::newRow("every file, each over a planted link") << ""
                                                              << ""
                                                              << "";
        QTest::newRow("a folder at the report's page")
            << "fuel-report.html"
            << "fuel-report.html: На месте файла находится папка"
            << "";
        // The goods window reads the department the host names, not the default one.
        QTest::newRow("goods of a department without a database")
            << ""
            << "Папка базы данных товаров не найдена: " + m_station.path() + "/shop2"
            << "shop2";
    }
    void jobOverGeneratedStation() {
        QFETCH(QString, blocked);
        QFETCH(QString, reason);
        QFETCH(QString, goodsDb);
        QVERIFY2(m_station.isValid(), qPrintable(m_station.errorString()));
        const QString root = m_station.path();
        const QString exportFolder = root + QStringLiteral("/EXPORT/");
        for (const char* folder : {"EXPORT", "TEMP", "victims"}) {
            QDir(root + QLatin1Char('/') + QLatin1String(folder)).removeRecursively();
            QVERIFY(QDir(root).mkdir(QLatin1String(folder)));
        }
        QStringList written;
        for (const char* name :
             {"fuel-statistics.png", "fuel-point-value.png", "fuel-report-viewer.png",
              "fuel-report.pdf", "fuel-report.html", "fuel-report.docx", "fuel-table-preview.png",
              "fuel-table.pdf", "fuel-compare.png", "goods-statistics.png"})
            written << exportFolder + QLatin1String(name);
        // The Word document comes from LibreOffice, where it is installed.
        if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty())
            written.removeAt(5);
        const QStringList planted =
            written + QStringList{root + QStringLiteral("/TEMP/chartimage.bmp")};
        const auto victim = [&root](const QString& file) {
            return root + QStringLiteral("/victims/") + QFileInfo(file).fileName();
        };
        for (const QString& file : planted) {
            QVERIFY(writeBytes(victim(file), "не трогать") && QFile::link(victim(file), file));
            QVERIFY(QFile::setPermissions(victim(file), QFile::ReadOwner | QFile::WriteOwner));
        }
        if (!blocked.isEmpty())
            QVERIFY(QFile::remove(exportFolder + blocked) && QDir().mkdir(exportFolder + blocked));

        QStringList arguments{QStringLiteral("--offscreen-job"), QStringLiteral("--job-end"),
                              kJobEnd};
        if (!goodsDb.isEmpty())
            arguments << QStringLiteral("--goods-db") << root + QLatin1Char('/') + goodsDb;
        const Run run = runHost(root, arguments);
        QVERIFY2(run.finished, "torvi-host --offscreen-job не завершился за отведённое время");
        QVERIFY2(!run.err.contains(QStringLiteral("нет переводов Qt")), qPrintable(run.err));
        for (const QString& file : planted)
            QCOMPARE(readBytes(victim(file)), QByteArray("не трогать"));
        if (!reason.isEmpty()) {
            QVERIFY2(run.exitCode == 1 && run.out.isEmpty() && run.err.contains(reason),
                     qPrintable(
                         QStringLiteral("код завершения %1:\n%2").arg(run.exitCode).arg(run.err)));
            return;
        }
        QVERIFY2(
            run.exitCode == 0,
            qPrintable(QStringLiteral("код завершения %1:\n%2").arg(run.exitCode).arg(run.err)));
        QCOMPARE(run.out, written);
        // Only the job's own lines: no notices of the toolkit about the missing screen.
        for (const QString& line : run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            QVERIFY2(line.startsWith(QStringLiteral("torvi-host: ")), qPrintable(run.err));
        for (const QString& file : planted)
            QVERIFY2(!QFileInfo(file).isSymLink() && QFileInfo(file).size() > 0, qPrintable(file));
        // The saved page names the chart's picture where the plug-in left it, under the suite root.
        QVERIFY(readBytes(run.out.value(4))
                    .contains("<img src=\"" + QFile::encodeName(root) +
                              "/TEMP/chartimage.bmp\" width=550 "));
        // The shop's first three categories, one line each, over the same month.
        QVERIFY2(run.err.contains(QStringLiteral("«Время - Суммы», 31.01.2024 00:00 – 01.03.2024 "
                                                 "00:00, шаг 1 сутки, разбить по видам товаров: "
                                                 "Вода, Газированные напитки, Соки")),
                 qPrintable(run.err));
        // The fuel window over the same month, the first grade's point in the middle of it.
        QVERIFY2(run.err.contains(QStringLiteral("«Время - Литры», 31.01.2024 00:00 – 01.03.2024 "
                                                 "00:00, шаг 1 сутки")),
                 qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("АИ-80; 15.02.2024 00:00:00, Четверг")),
                 qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("сравнение: к прошлому периоду: ")),
                 qPrintable(run.err));

        // Both pictures show a whole window at its smallest client area, the value window
        // smaller than the statistics one.
        const QImage window(run.out.value(0));
        const QImage value(run.out.value(1));
        QVERIFY2(window.width() >= 918 && window.height() >= 698 && colourCount(window) > 50,
                 "снимок окна статистики не читается, мал или почти одноцветный");
        QVERIFY2(value.width() >= 425 && value.height() >= 86 && value.width() < window.width(),
                 "снимок окна значения не читается или снято другое окно");
        const QImage goods(run.out.constLast());
        QVERIFY2(goods.width() >= 918 && goods.height() >= 648 && colourCount(goods) > 50,
                 "снимок окна статистики по товарам не читается или почти одноцветный");
    }

    // A plug-in that cannot be loaded, or a message box where the job expects none, ends the job
    // with the reason and no picture; no box waits for an operator.
    void jobEndsWithoutPlugin_data() {
        QTest::addColumn<QString>("plugin"); // relative to the station's folder when not absolute
        QTest::addColumn<QString>("reason");
        // clang-format off
        QTest::newRow("no station database: the fuel window's box")
            << "" << "ошибка: Неожиданное сообщение «Ошибка»";
        QTest::newRow("missing") << "nowhere/libtorvistat9.so" << "файл не найден";
        QTest::newRow("folder") << "." << "это папка, а не файл";
        QTest::newRow("device") << "/dev/zero" << "это не обычный файл";
        // clang-format on
        // "/a/a/…/a", as long as a single argument to a program may be.
        QTest::newRow("128 KB path")
            << (QStringLiteral("/") + QStringLiteral("a/").repeated(64 * 1024 - 1)).chopped(1)
            << "слишком длинный путь";
    }
    void jobEndsWithoutPlugin() {
        QFETCH(QString, plugin);
        QFETCH(QString, reason);
        QTemporaryDir root;
        QVERIFY2(root.isValid(), qPrintable(root.errorString()));
        QStringList arguments{QStringLiteral("--offscreen-job"), QStringLiteral("--job-end"),
                              kJobEnd};
        if (!plugin.isEmpty())
            arguments << QStringLiteral("--plugin") << QDir(root.path()).filePath(plugin);
        const Run run = runHost(root.path(), arguments);
        QVERIFY2(run.finished, "torvi-host --offscreen-job не завершился за отведённое время");
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.out.isEmpty(), qPrintable(run.out.join(QLatin1Char('\n'))));
        QVERIFY2(run.err.startsWith(QStringLiteral("torvi-host: ")) && run.err.contains(reason) &&
                     run.err.size() < 1000,
                 qPrintable(run.err.left(2000)));
        QVERIFY2(!QFileInfo::exists(root.path() + QStringLiteral("/EXPORT/fuel-statistics.png")),
                 "снимок оставлен, хотя построение не состоялось");
    }

private:
    // The generated station the jobs run over, shared by their cases.
    QTemporaryDir m_station;
};

QTEST_MAIN(TestTorviHost)
#include "tst_torvihost.moc"
