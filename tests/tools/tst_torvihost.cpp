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
    void initTestCase();
    void options_data();
    void options();
    void refusedOptions_data();
    void refusedOptions();
    void refusedOptionsWithoutDisplay();
    void statisticsServerAnswers();
    void pluginMenuInReports();
    void loadFailures_data();
    void loadFailures();
};

void TestTorviHost::initTestCase() {
    qputenv("DARA_ROOT", "/srv/dara/");
}

void TestTorviHost::options_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("expected"); // plugin, mode, fuel-db, server, caption
    QTest::addColumn<QStringList>("toolkit");
    QTest::newRow("defaults") << QStringList{}
                              << QStringList{kDefaultPlugin, "0", "/srv/dara/DB/", "", ""}
                              << QStringList{};
    QTest::newRow("every value")
        << QStringList{"--plugin",       "/tmp/p.so",     "--mode",     "3",         "--fuel-db",
                       "/srv/azs/fuel/", "--stat-server", "stat1:5433", "--caption", "АЗС №7"}
        << QStringList{"/tmp/p.so", "3", "/srv/azs/fuel/", "stat1:5433", "АЗС №7"} << QStringList{};
    QTest::newRow("toolkit options go on")
        << QStringList{"-platform", "offscreen", "--mode=1"}
        << QStringList{kDefaultPlugin, "1", "/srv/dara/DB/", "", ""}
        << QStringList{"-platform", "offscreen"};
}

void TestTorviHost::options() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, toolkit);
    const HostOptionsParse parsed =
        parseHostOptions(QStringList{"torvi-host"} + arguments, kDefaultPlugin);
    QVERIFY2(parsed.options, qPrintable(parsed.error));
    const HostOptions& o = *parsed.options;
    QCOMPARE(
        (QStringList{o.pluginPath, QString::number(o.mode), o.fuelDb, o.statServer, o.caption}),
        expected);
    QCOMPARE(o.toolkitArguments, toolkit);
}

void TestTorviHost::refusedOptions_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    QTest::newRow("mode not a number")
        << QStringList{"--mode", "три"} << "Режим (--mode) должен быть целым числом, а не «три»";
    QTest::newRow("unknown option")
        << QStringList{"--fuel", "/x"} << "Неизвестный параметр: --fuel";
    QTest::newRow("value missing")
        << QStringList{"--stat-server"} << "Не указано значение параметра --stat-server";
    QTest::newRow("stray argument") << QStringList{"report"} << "Лишний аргумент: «report»";
    QTest::newRow("empty plugin") << QStringList{"--plugin", ""}
                                  << "Не указан файл модуля статистики (--plugin)";
    QTest::newRow("job end without the job")
        << QStringList{"--job-end", "2025-05-31"}
        << "Параметр --job-end задаёт период только для --offscreen-job";
    QTest::newRow("job end not a date")
        << QStringList{"--offscreen-job", "--job-end", "31.05.2025"}
        << "Дата --job-end «31.05.2025» не в виде ГГГГ-ММ-ДД или раньше 1900 года";
    QTest::newRow("job end before 1900")
        << QStringList{"--offscreen-job", "--job-end", "1899-12-31"}
        << "Дата --job-end «1899-12-31» не в виде ГГГГ-ММ-ДД или раньше 1900 года";
}

void TestTorviHost::refusedOptions() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    const HostOptionsParse parsed =
        parseHostOptions(QStringList{"torvi-host"} + arguments, kDefaultPlugin);
    QVERIFY(!parsed.options);
    QCOMPARE(parsed.error, error);
}

void TestTorviHost::refusedOptionsWithoutDisplay() {
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

void TestTorviHost::statisticsServerAnswers() {
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

void TestTorviHost::pluginMenuInReports() {
    HostOptions options;
    HostValues::setOptions(options);
    HostMainWindow window(options);
    const QStringList before = menuTexts(window.reportsMenu());

    StatisticsPlugin plugin;
    QString error;
    QVERIFY2(plugin.load(QStringLiteral(PLUGIN_LIBRARY), &error), qPrintable(error));
    plugin.initialise(&window, window.reportsItem());

    QStringList expected = before;
    expected.insert(before.size() - 1, QStringLiteral("Статистика"));
    QCOMPARE(menuTexts(window.reportsMenu()), expected);
    QAction* statistics = window.reportsMenu()->actions().at(before.size() - 1);
    QVERIFY(statistics->menu());
    QCOMPARE(menuTexts(statistics->menu()),
             (QStringList{QStringLiteral("ГСМ"), QStringLiteral("Товары")}));

    // Hovering an entry puts its hint into the status bar.
    statistics->menu()->actions().at(1)->showStatusText(window.menuBar());
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Товары"));

    plugin.unload();
    QVERIFY(!plugin.isLoaded());
    QCOMPARE(statistics->menu()->actions().at(0)->text(), QStringLiteral("ГСМ"));
}

void TestTorviHost::loadFailures_data() {
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

void TestTorviHost::loadFailures() {
    QFETCH(QString, path);
    QFETCH(QString, message);
    StatisticsPlugin plugin;
    QString error;
    QVERIFY(!plugin.load(path, &error));
    QVERIFY(!plugin.isLoaded());
    QVERIFY2(error.startsWith(message), qPrintable(error));
}

QTEST_MAIN(TestTorviHost)
#include "tst_torvihost.moc"
