// The plug-in as a host sees it: loaded with dlopen and driven through the public ABI header.

#include "torvistat/plugin_abi.h"

#include "HostValues.h"

#include <QAction>
#include <QDir>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <dlfcn.h>

#include <cstring>

namespace {

// Which of the two value functions the plug-in asked, and what they answer for code 46.
QStringList askedBy;
QByteArray modeAnswer = "1";

void answer(TorviVariant* result, int32_t code) {
    if (code != 46)
        return;
    result->vt = TORVI_VT_BSTR;
    result->value.str =
        static_cast<char*>(std::malloc(static_cast<std::size_t>(modeAnswer.size()) + 1));
    std::memcpy(result->value.str, modeAnswer.constData(),
                static_cast<std::size_t>(modeAnswer.size()) + 1);
}

void getValueA(TorviVariant* result, int32_t code, int32_t) {
    askedBy << QStringLiteral("A%1").arg(code);
    answer(result, code);
}

void getValueB(TorviVariant* result, int32_t code, int32_t) {
    askedBy << QStringLiteral("B%1").arg(code);
    answer(result, code);
}

int threadCount() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/task"))
                                .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                .size());
}

struct ShownBox {
    QString caption;
    QString text;
};

// Triggers item and answers the message box the plug-in shows in reply.
ShownBox triggerAndAnswerBox(QAction* item) {
    ShownBox shown;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = {box->windowTitle(), box->text()};
            box->done(QMessageBox::Ok);
        }
    });
    poll.start(10);
    item->trigger();
    return shown;
}

} // namespace

class TestPluginAbi : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void onlyTheEntryPointsAreExported();
    void menuUnderThreeEntries();
    void secondMenuIsEqual();
    void valueFunctionsReplaceEachOther_data();
    void valueFunctionsReplaceEachOther();
    void conversionErrorReachesHost();
    void unloadLeavesNothingBehind();

private:
    QAction* statisticsAt(int index) const;

    void* m_library = nullptr;
    int m_threadsBeforeLoad = 0;
    TorviInitReportsFn m_initReports = nullptr;
    TorviSetGetValueFn m_setGetValue = nullptr;
    TorviSetNewUserPrivFn m_setNewUserPriv = nullptr;
    TorviInitReportMenuFn m_initReportMenu = nullptr;
    QMainWindow m_hostWindow;
    QMenu* m_reports = nullptr;
};

void TestPluginAbi::initTestCase() {
    m_reports = new QMenu(QStringLiteral("Отчёты"), &m_hostWindow);
    for (const char* caption : {"Сменный отчёт", "Параметры отчётов", "Сведения о модулях"})
        m_reports->addAction(QString::fromUtf8(caption));

    m_threadsBeforeLoad = threadCount();
    m_library = dlopen(PLUGIN_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    QVERIFY2(m_library, dlerror());
    m_initReports =
        reinterpret_cast<TorviInitReportsFn>(dlsym(m_library, TORVI_EXPORT_INIT_REPORTS));
    m_setGetValue =
        reinterpret_cast<TorviSetGetValueFn>(dlsym(m_library, TORVI_EXPORT_SET_GET_VALUE));
    m_setNewUserPriv =
        reinterpret_cast<TorviSetNewUserPrivFn>(dlsym(m_library, TORVI_EXPORT_SET_NEW_USER_PRIV));
    m_initReportMenu =
        reinterpret_cast<TorviInitReportMenuFn>(dlsym(m_library, TORVI_EXPORT_INIT_REPORT_MENU));
    QVERIFY2(m_initReports && m_setGetValue && m_setNewUserPriv && m_initReportMenu,
             "не все точки входа модуля статистики найдены");
}

void TestPluginAbi::onlyTheEntryPointsAreExported() {
    const QString nm = QStandardPaths::findExecutable(QStringLiteral("nm"));
    if (nm.isEmpty())
        QSKIP("nm не установлен");
    QProcess process;
    process.start(nm, {QStringLiteral("-D"), QStringLiteral("--defined-only"),
                       QStringLiteral(PLUGIN_LIBRARY)});
    QVERIFY2(process.waitForFinished(30000) && process.exitCode() == 0,
             qPrintable(QString::fromLocal8Bit(process.readAllStandardError())));
    // What the linker adds to every shared object is not ours to export or hide.
    const QStringList toolchain{QStringLiteral("_init"), QStringLiteral("_fini"),
                                QStringLiteral("_edata"), QStringLiteral("_end"),
                                QStringLiteral("__bss_start")};
    QStringList exported;
    for (const QString& line : QString::fromLocal8Bit(process.readAllStandardOutput())
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString name = line.section(QLatin1Char(' '), -1);
        if (!toolchain.contains(name))
            exported << name;
    }
    exported.sort();
    QCOMPARE(exported,
             (QStringList{QStringLiteral("InitReportMenu"), QStringLiteral("InitReports"),
                          QStringLiteral("SetGetValue"), QStringLiteral("SetNewUserPriv")}));
}

QAction* TestPluginAbi::statisticsAt(int index) const {
    const QList<QAction*> items = m_reports->actions();
    return index < items.size() ? items.at(index) : nullptr;
}

void TestPluginAbi::menuUnderThreeEntries() {
    m_initReportMenu(&m_hostWindow, m_reports->menuAction(), HostValues::createMenuItem, 0);

    const QList<QAction*> items = m_reports->actions();
    QCOMPARE(items.size(), 4);
    QCOMPARE(items.at(3)->text(), QStringLiteral("Сведения о модулях"));
    QAction* statistics = statisticsAt(2);
    QCOMPARE(statistics->text(), QStringLiteral("Статистика"));
    QCOMPARE(statistics->statusTip(), QString());
    QCOMPARE(statistics->property("helpContext"), QVariant(60));
    QCOMPARE(statistics->property("shortCut"), QVariant(0));
    QVERIFY(statistics->menu());

    struct Expected {
        const char* caption;
        int helpContext;
    };
    const QList<QAction*> entries = statistics->menu()->actions();
    QCOMPARE(entries.size(), 2);
    const Expected expected[] = {{"ГСМ", 812}, {"Товары", 811}};
    for (int i = 0; i < 2; ++i) {
        const QString caption = QString::fromUtf8(expected[i].caption);
        QCOMPARE(entries.at(i)->text(), caption);
        QCOMPARE(entries.at(i)->statusTip(), caption);
        QCOMPARE(entries.at(i)->toolTip(), caption);
        QCOMPARE(entries.at(i)->property("helpContext"), QVariant(expected[i].helpContext));
        QCOMPARE(entries.at(i)->property("shortCut"), QVariant(1));
    }
}

void TestPluginAbi::secondMenuIsEqual() {
    m_initReportMenu(&m_hostWindow, m_reports->menuAction(), HostValues::createMenuItem, 0);

    QCOMPARE(m_reports->actions().size(), 5);
    QAction* first = statisticsAt(2);
    QAction* second = statisticsAt(3);
    QCOMPARE(second->text(), first->text());
    QCOMPARE(second->property("helpContext"), first->property("helpContext"));
    QVERIFY(second->menu() && second->menu() != first->menu());
    const QList<QAction*> a = first->menu()->actions();
    const QList<QAction*> b = second->menu()->actions();
    QCOMPARE(b.size(), a.size());
    for (int i = 0; i < a.size(); ++i) {
        QCOMPARE(b.at(i)->text(), a.at(i)->text());
        QCOMPARE(b.at(i)->statusTip(), a.at(i)->statusTip());
        QCOMPARE(b.at(i)->property("helpContext"), a.at(i)->property("helpContext"));
        QCOMPARE(b.at(i)->property("shortCut"), a.at(i)->property("shortCut"));
    }
}

void TestPluginAbi::valueFunctionsReplaceEachOther_data() {
    QTest::addColumn<bool>("initReportsFirst");
    QTest::addColumn<QStringList>("asked");
    QTest::newRow("SetGetValue after InitReports") << true << QStringList{QStringLiteral("B46")};
    QTest::newRow("InitReports after SetGetValue") << false << QStringList{QStringLiteral("A46")};
}

void TestPluginAbi::valueFunctionsReplaceEachOther() {
    QFETCH(bool, initReportsFirst);
    QFETCH(QStringList, asked);
    if (initReportsFirst) {
        m_initReports(0, getValueA, 0);
        m_setGetValue(getValueB);
    } else {
        m_setGetValue(getValueB);
        m_initReports(0, getValueA, 0);
    }
    askedBy.clear();
    modeAnswer = "1";

    // Mode 1 keeps the default folder; the window itself is not in this build, which the
    // plug-in says in an information box.
    const ShownBox box = triggerAndAnswerBox(statisticsAt(2)->menu()->actions().at(0));
    QCOMPARE(askedBy, asked);
    QCOMPARE(box.caption, QStringLiteral("Информация"));
    QVERIFY2(box.text.contains(QStringLiteral("Статистика по ГСМ")), qPrintable(box.text));
}

void TestPluginAbi::conversionErrorReachesHost() {
    m_setGetValue(getValueA);
    askedBy.clear();
    modeAnswer = "нет";
    const ShownBox box = triggerAndAnswerBox(statisticsAt(3)->menu()->actions().at(0));
    QCOMPARE(askedBy, QStringList{QStringLiteral("A46")});
    QCOMPARE(box.caption, QStringLiteral("Ошибка"));
    QVERIFY2(box.text.contains(QStringLiteral("«нет»")), qPrintable(box.text));
}

void TestPluginAbi::unloadLeavesNothingBehind() {
    QAction* fuel = statisticsAt(2)->menu()->actions().at(0);
    QCOMPARE(dlclose(m_library), 0);
    QVERIFY2(!dlopen(PLUGIN_LIBRARY, RTLD_NOW | RTLD_NOLOAD),
             "модуль статистики остался в памяти после выгрузки");
    m_library = nullptr;
    QCOMPARE(threadCount(), m_threadsBeforeLoad);

    // The host keeps its items: their texts are still readable, and a click reaches nothing.
    QCOMPARE(fuel->text(), QStringLiteral("ГСМ"));
    QCOMPARE(fuel->statusTip(), QStringLiteral("ГСМ"));
    askedBy.clear();
    fuel->trigger();
    QVERIFY2(askedBy.isEmpty(), "пункт меню выгруженного модуля всё ещё вызывает его код");
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(TestPluginAbi)
#include "tst_pluginabi.moc"
