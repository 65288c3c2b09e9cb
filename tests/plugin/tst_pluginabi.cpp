// The plug-in as a host sees it: loaded with dlopen and driven through the public ABI header.

#include "torvistat/plugin_abi.h"

#include "HostValues.h"
#include "common/StationFixture.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFontDialog>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <dlfcn.h>

namespace {

// Which of the two value functions the plug-in asked; both answer mode 1 for code 46.
QStringList askedBy;

template <char Name>
void getValue(TorviVariant* result, int32_t code, int32_t) {
    askedBy << QStringLiteral("%1%2").arg(QLatin1Char(Name)).arg(code);
    if (code == 46)
        HostValues::setString(result, QStringLiteral("1"));
}
constexpr auto getValueA = getValue<'A'>;
constexpr auto getValueB = getValue<'B'>;

// Threads of the process, less the idle workers of Qt's global thread pool: Qt starts those for
// its own image conversions when a window is drawn, they belong to the host's Qt and never run
// code of the plug-in.
int threadCount() {
    int count = 0;
    const QString tasks = QStringLiteral("/proc/self/task");
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks + QLatin1Char('/') + task + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "Thread (pooled)")
            continue;
        ++count;
    }
    return count;
}

struct Shown {
    QString box;         // text of the last message box answered
    QStringList windows; // object name and caption of each statistics window shown
};

// Triggers item as the operator would and plays the operator's part in what opens: message boxes
// are answered, and a statistics window is closed once it has loaded its grade list. The trigger
// returns only when everything it opened is closed again.
Shown triggerAndAnswer(QAction* item) {
    Shown shown;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            shown.box = box->text();
            box->done(QMessageBox::Ok);
        } else if (auto* window = qobject_cast<QDialog*>(modal)) {
            const QString seen = window->objectName() + ": " + window->windowTitle();
            if (!shown.windows.contains(seen))
                shown.windows << seen;
            // The grade list arrives shortly after the window shows; close after it.
            QTimer::singleShot(100, window, &QDialog::close);
        }
    });
    poll.start(20);
    item->trigger();
    return shown;
}

// The cancel button's text of one of Qt's own dialogs, the font dialog the viewer opens.
QString qtDialogCancelText() {
    QString text;
    QTimer::singleShot(0, [&text] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (const auto* buttons = dialog->findChild<QDialogButtonBox*>())
            if (const QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel))
                text = cancel->text();
        dialog->reject();
    });
    QFontDialog dialog;
    dialog.setOption(QFontDialog::DontUseNativeDialog);
    dialog.exec();
    return text;
}

} // namespace

class TestPluginAbi : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // The suite's folders and the operator's settings of this run stay in a temporary place.
        QVERIFY2(m_station.isValid(), qPrintable(m_station.error()));
        qputenv("DARA_ROOT", m_station.root().toUtf8());
        qputenv("TORVI_CONFIG_HOME", (m_station.root() + QStringLiteral("/config")).toUtf8());
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
        m_setNewUserPriv = reinterpret_cast<TorviSetNewUserPrivFn>(
            dlsym(m_library, TORVI_EXPORT_SET_NEW_USER_PRIV));
        m_initReportMenu = reinterpret_cast<TorviInitReportMenuFn>(
            dlsym(m_library, TORVI_EXPORT_INIT_REPORT_MENU));
        QVERIFY2(m_initReports && m_setGetValue && m_setNewUserPriv && m_initReportMenu,
                 "не все точки входа модуля статистики найдены");
    }

    void onlyTheEntryPointsAreExported() {
        QProcess nm;
        nm.start("nm", {"-D", "--defined-only", "--format=just-symbols", PLUGIN_LIBRARY});
        QVERIFY2(nm.waitForFinished(30000) && nm.exitCode() == 0,
                 nm.readAllStandardError().constData());
        QStringList exported = QString::fromLocal8Bit(nm.readAllStandardOutput()).split('\n');
        // What the linker adds to every shared object is not ours to export or hide.
        exported.removeIf([](const QString& name) {
            return QStringList{"", "_init", "_fini", "_edata", "_end", "__bss_start"}.contains(
                name);
        });
        exported.sort();
        QCOMPARE(exported,
                 (QStringList{"InitReportMenu", "InitReports", "SetGetValue", "SetNewUserPriv"}));
    }

    // Two menus built in a row are equal, each under the host's third entry.
    void menuUnderThreeEntries() {
        for (int built = 1; built <= 2; ++built) {
            m_initReportMenu(&m_hostWindow, m_reports->menuAction(), HostValues::createMenuItem, 0);
            const QList<QAction*> items = m_reports->actions();
            QCOMPARE(items.size(), 3 + built);
            QCOMPARE(items.last()->text(), QStringLiteral("Сведения о модулях"));
            QAction* statistics = statisticsAt(2);
            QCOMPARE(statistics->text(), QStringLiteral("Статистика"));
            QCOMPARE(statistics->statusTip(), QString());
            QCOMPARE(statistics->property("helpContext"), QVariant(60));
            QCOMPARE(statistics->property("shortCut"), QVariant(0));
            QVERIFY(statistics->menu());
            const QList<QAction*> entries = statistics->menu()->actions();
            QCOMPARE(entries.size(), 2);
            const QStringList captions{"ГСМ", "Товары"};
            for (int i = 0; i < 2; ++i) {
                QCOMPARE(entries.at(i)->text(), captions[i]);
                QCOMPARE(entries.at(i)->statusTip(), captions[i]);
                QCOMPARE(entries.at(i)->toolTip(), captions[i]);
                QCOMPARE(entries.at(i)->property("helpContext"), QVariant(812 - i));
                QCOMPARE(entries.at(i)->property("shortCut"), QVariant(1));
            }
        }
        QVERIFY(statisticsAt(2)->menu() != statisticsAt(3)->menu());
        // From the first menu on, Qt's own dialogs speak the plug-in's language.
        QCOMPARE(qtDialogCancelText(), QStringLiteral("Отмена"));
    }

    void valueFunctionsReplaceEachOther_data() {
        QTest::addColumn<bool>("initReportsFirst");
        QTest::addColumn<QStringList>("asked");
        QTest::newRow("SetGetValue after InitReports")
            << true << QStringList{QStringLiteral("B46")};
        QTest::newRow("InitReports after SetGetValue")
            << false << QStringList{QStringLiteral("A46")};
    }
    void valueFunctionsReplaceEachOther() {
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

        // Mode 1 keeps the default folder, where this run's station database is.
        const Shown shown = triggerAndAnswer(statisticsAt(2)->menu()->actions().at(0));
        QCOMPARE(askedBy, asked);
        QCOMPARE(shown.windows, QStringList{"fmGSMStat: Статистика по ГСМ"});
        QVERIFY2(shown.box.isEmpty(), qPrintable(shown.box));
        const QWidgetList widgets = QApplication::allWidgets();
        QVERIFY(std::none_of(widgets.begin(), widgets.end(), [](const QWidget* w) {
            return w->objectName() == QLatin1String("fmGSMStat");
        }));
    }

    void unloadLeavesNothingBehind() {
        QAction* fuel = statisticsAt(2)->menu()->actions().at(0);
        QCOMPARE(dlclose(m_library), 0);
        QVERIFY2(!dlopen(PLUGIN_LIBRARY, RTLD_NOW | RTLD_NOLOAD),
                 "модуль статистики остался в памяти после выгрузки");
        m_library = nullptr;
        QCOMPARE(threadCount(), m_threadsBeforeLoad);
        // The host, which loaded no catalogue of its own, has Qt's English dialogs back.
        QCOMPARE(qtDialogCancelText(), QStringLiteral("Cancel"));

        // The host keeps its items: their texts are still readable, and a click reaches nothing.
        QCOMPARE(fuel->text(), QStringLiteral("ГСМ"));
        QCOMPARE(fuel->statusTip(), QStringLiteral("ГСМ"));
        askedBy.clear();
        fuel->trigger();
        QVERIFY2(askedBy.isEmpty(), "пункт меню выгруженного модуля всё ещё вызывает его код");
        QVERIFY(!QApplication::activeModalWidget());
    }

private:
    QAction* statisticsAt(int index) const {
        const QList<QAction*> items = m_reports->actions();
        return index < items.size() ? items.at(index) : nullptr;
    }

    void* m_library = nullptr;
    int m_threadsBeforeLoad = 0;
    TorviInitReportsFn m_initReports = nullptr;
    TorviSetGetValueFn m_setGetValue = nullptr;
    TorviSetNewUserPrivFn m_setNewUserPriv = nullptr;
    TorviInitReportMenuFn m_initReportMenu = nullptr;
    QMainWindow m_hostWindow;
    StationFixture m_station;
    QMenu* m_reports = nullptr;
};

QTEST_MAIN(TestPluginAbi)
#include "tst_pluginabi.moc"
