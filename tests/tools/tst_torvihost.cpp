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
    void values_data();
    void values();
    void createMenuItem_data();
    void createMenuItem();
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

void TestTorviHost::values_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("priv");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("vt");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("46 mode") << "" << false << 46 << int(TORVI_VT_I4) << QVariant(3);
    QTest::newRow("5 fuel folder")
        << "" << false << 5 << int(TORVI_VT_BSTR) << QVariant(QStringLiteral("/srv/azs/топливо/"));
    QTest::newRow("other value code") << "" << false << 7 << int(TORVI_VT_EMPTY) << QVariant();
    QTest::newRow("11 local server") << "" << true << 11 << int(TORVI_VT_I4) << QVariant(1);
    QTest::newRow("11 remote server") << "stat1" << true << 11 << int(TORVI_VT_I4) << QVariant(0);
    QTest::newRow("13 server") << "stat1" << true << 13 << int(TORVI_VT_BSTR)
                               << QVariant(QStringLiteral("stat1"));
    QTest::newRow("16 caption") << "" << true << 16 << int(TORVI_VT_BSTR)
                                << QVariant(QStringLiteral("АЗС №7"));
}

void TestTorviHost::values() {
    QFETCH(QString, server);
    QFETCH(bool, priv);
    QFETCH(int, code);
    QFETCH(int, vt);
    QFETCH(QVariant, value);
    HostOptions options;
    options.mode = 3;
    options.fuelDb = QStringLiteral("/srv/azs/топливо/");
    options.statServer = server;
    options.caption = QStringLiteral("АЗС №7");
    HostValues::setOptions(options);

    TorviVariant result;
    TorviVariantInit(&result);
    if (priv)
        HostValues::getPrivValue(&result, code);
    else
        HostValues::getValue(&result, code, 0);
    QCOMPARE(int(result.vt), vt);
    if (vt == TORVI_VT_I4)
        QCOMPARE(QVariant(result.value.i4), value);
    else if (vt == TORVI_VT_BSTR)
        QCOMPARE(QVariant(QString::fromUtf8(result.value.str)), value);
    TorviVariantClear(&result);
}

void TestTorviHost::createMenuItem_data() {
    QTest::addColumn<int>("existing");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("expectedPosition");
    QTest::newRow("parent without menu") << 0 << 0 << 0;
    QTest::newRow("before the last") << 3 << 2 << 2;
    QTest::newRow("first") << 3 << 0 << 0;
    QTest::newRow("past the end appends") << 3 << 9 << 3;
    QTest::newRow("negative appends") << 3 << -1 << 3;
}

void TestTorviHost::createMenuItem() {
    QFETCH(int, existing);
    QFETCH(int, index);
    QFETCH(int, expectedPosition);
    QMenu reports;
    auto* parent = new QAction(QStringLiteral("Статистика"), &reports);
    reports.addAction(parent);
    if (existing > 0) {
        parent->setMenu(new QMenu(&reports));
        for (int i = 0; i < existing; ++i)
            parent->menu()->addAction(QString::number(i));
    }
    auto* item = static_cast<QAction*>(HostValues::createMenuItem(parent, index));
    QVERIFY(item && parent->menu());
    QCOMPARE(parent->menu()->actions().indexOf(item), expectedPosition);
    QCOMPARE(parent->menu()->actions().size(), existing + 1);
    QCOMPARE(item->parent(), parent->menu());
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
