#include "HostMainWindow.h"
#include "HostOptions.h"
#include "HostValues.h"
#include "StatisticsPlugin.h"

#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QStatusBar>
#include <QtTest>

namespace {

const QString kDefaultPlugin = QStringLiteral("/opt/torvi/lib/libtorvistat9.so");

QStringList menuTexts(const QMenu* menu) {
    QStringList texts;
    for (const QAction* item : menu->actions())
        texts << (item->isSeparator() ? QStringLiteral("—") : item->text());
    return texts;
}

} // namespace

class TestTorviHost : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("DARA_ROOT", "/srv/dara/"); }

    void options_data() {
        QTest::addColumn<QStringList>("arguments");
        // plugin, mode, fuel-db, server, caption, job end (none without the job)
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("toolkit");
        const QString dflt = kDefaultPlugin;
        const QString today = QDate::currentDate().toString(Qt::ISODate);
        // clang-format off
        QTest::newRow("defaults") << QStringList{}
            << QStringList{dflt, "0", "/srv/dara/DB/", "", "", ""} << QStringList{};
        QTest::newRow("every value")
            << QStringList{"--plugin", "/tmp/p.so", "--mode", "3", "--fuel-db", "/srv/azs/fuel/",
                           "--stat-server", "stat1:5433", "--caption", "АЗС №7"}
            << QStringList{"/tmp/p.so", "3", "/srv/azs/fuel/", "stat1:5433", "АЗС №7", ""}
            << QStringList{};
        QTest::newRow("toolkit options go on") << QStringList{"-platform", "offscreen", "--mode=1"}
            << QStringList{dflt, "1", "/srv/dara/DB/", "", "", ""}
            << QStringList{"-platform", "offscreen"};
        QTest::newRow("job up to today") << QStringList{"--offscreen-job"}
            << QStringList{dflt, "0", "/srv/dara/DB/", "", "", today}
            << QStringList{};
        QTest::newRow("job up to a given day, given first")
            << QStringList{"--job-end=2009-01-31", "--offscreen-job"}
            << QStringList{dflt, "0", "/srv/dara/DB/", "", "", "2009-01-31"} << QStringList{};
        // clang-format on
    }
    void options() {
        QFETCH(QStringList, arguments);
        const HostOptionsParse parsed =
            parseHostOptions(QStringList{"torvi-host"} + arguments, kDefaultPlugin);
        QVERIFY2(parsed.options, qPrintable(parsed.error));
        const HostOptions& o = *parsed.options;
        QTEST((QStringList{o.pluginPath, QString::number(o.mode), o.fuelDb, o.statServer, o.caption,
                           o.offscreenJob ? o.jobEnd.toString(Qt::ISODate) : QString()}),
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

    void refusedOptionsWithoutDisplay() {
        QProcess host;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            environment.remove(QString::fromLatin1(name));
        host.setProcessEnvironment(environment);
        host.start(QStringLiteral(HOST_PROGRAM), {QStringLiteral("--mode"), QStringLiteral("x")});
        QVERIFY2(host.waitForFinished(30000), "torvi-host не завершился");
        QCOMPARE(host.exitStatus(), QProcess::NormalExit);
        QCOMPARE(host.exitCode(), 2);
        const QString err = QString::fromLocal8Bit(host.readAllStandardError());
        QVERIFY2(err.contains(QStringLiteral("Использование: torvi-host")), qPrintable(err));
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
};

QTEST_MAIN(TestTorviHost)
#include "tst_torvihost.moc"
