#include "common/Errors.h"
#include "common/StationFixture.h"
#include "common/WindowTestSupport.h"

#include "platform/thread/SynchronizedCall.h"
#include "platform/ui/MessageBoxes.h"
#include "plugin/DmStatistic.h"
#include "plugin/HostFunctions.h"
#include "plugin/StatDbPaths.h"
#include "plugin/StatInternal.h"
#include "plugin/StatisticsWindows.h"
#include "plugin/VariantValue.h"

#include "HostValues.h"

#include <QAction>
#include <QDialog>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

using StatisticsWindows::Kind;

namespace {

// What the host answers to GetValue in the current case.
struct HostAnswers {
    QVariant mode;  // code 46: an int is sent as I4, a string as BSTR
    QString folder; // code 5
    QList<int> asked;
} answers;

void hostGetValue(TorviVariant* result, int32_t code, int32_t) {
    answers.asked << code;
    if (code == 46 && answers.mode.typeId() == QMetaType::Int)
        HostValues::setInt(result, answers.mode.toInt());
    else if (code == 46 || code == 5)
        HostValues::setString(result, code == 5 ? answers.folder : answers.mode.toString());
}

TorviMenuItem hostCreatesNothing(TorviMenuItem, int32_t) {
    return nullptr;
}

QString underRoot(QString path) {
    return path.replace(QLatin1String("<root>"), qEnvironmentVariable("DARA_ROOT"));
}

// A window that closes itself as soon as its modal loop runs.
class SelfClosingWindow : public QDialog {
public:
    using QDialog::QDialog;
    int exec() override {
        QTimer::singleShot(0, this, &QDialog::accept);
        return QDialog::exec();
    }
};

// A window whose modal run fails, as a window does when its first query fails.
class FailingWindow : public QDialog {
public:
    using QDialog::QDialog;
    int exec() override { throw EDatabaseError(QStringLiteral("Сервер статистики недоступен")); }
};

// What the fake host answers to GetPrivValue, and which codes it was asked.
QHash<int, QVariant> privAnswers;
QList<int> privAsked;

void fakeGetPrivValue(TorviVariant* result, int32_t code) {
    privAsked << code;
    const QVariant answer = privAnswers.value(code);
    if (answer.metaType().id() == QMetaType::Int)
        HostValues::setInt(result, answer.toInt());
    else if (answer.isValid())
        HostValues::setString(result, answer.toString());
}

using Put = QPair<int, QString>;

// A server that records the parameter puts and refuses the one at failIndex.
class RecordingServer : public TStatServer {
public:
    RecordingServer(QList<Put>* puts, int failIndex)
        : m_puts(puts)
        , m_failIndex(failIndex) {}
    void setStatParameter(int index, const QString& value) override {
        m_puts->append({index, value});
        if (index == m_failIndex)
            throw EDatabaseError(QStringLiteral("папка «%1» недоступна").arg(value));
    }
    QString statParameter(int) const override { return QString(); }
    std::shared_ptr<const TDataPacket> provide(const QString&, const QString&,
                                               const QHash<QString, TFieldType>&) override {
        auto packet = std::make_shared<TDataPacket>();
        TColumnBuilder grade(QStringLiteral("GsmName"), TFieldType::Unknown);
        grade.appendText("АИ-92");
        packet->columns.push_back(grade.finish());
        packet->rowCount = 1;
        return packet;
    }
    // Its answer is immediate: nothing is ever under way to stop.
    void cancel() override {}
    void resetCancel() override {}

private:
    QList<Put>* m_puts;
    int m_failIndex;
};

} // namespace

// The plug-in inside: the data module and its connections, the menu it hangs into the host, the
// folders it asks the host for and the windows it opens and frees.
class TestPlugin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(m_station.isValid(), qPrintable(m_station.error()));
        qputenv("DARA_ROOT", QFile::encodeName(m_station.root()));
    }
    void init() {
        HostFunctions::reset();
        answers = HostAnswers{};
        privAnswers.clear();
        privAsked.clear();
        m_env = std::make_unique<WindowTestEnvironment>();
        m_reports = (new QMenu(QStringLiteral("Отчёты"), &m_hostWindow))->menuAction();
        CreateDmStatistic();
        // The folders as the menu handlers set them, in the suite's own spelling.
        dmStatistic->FuelDbPath = QStringLiteral("C:\\DARA\\DB\\");
        dmStatistic->GoodsDbPath = QStringLiteral("C:\\DARA\\DB\\TradeDB\\");
    }
    void cleanup() {
        FinalizeStatistics();
        HostFunctions::reset();
        StatisticsWindows::registerFactory(Kind::Fuel, {});
        StatisticsWindows::registerFactory(Kind::Goods, {});
        m_env.reset();
        delete m_reports->menu();
        qputenv("DARA_ROOT", QFile::encodeName(m_station.root()));
    }

    void fuelDbPath_data() {
        QTest::addColumn<bool>("hostAnswers");
        QTest::addColumn<QVariant>("mode");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QList<int>>("asked");
        const QString host = QStringLiteral("/srv/azs/fuel/");
        QTest::newRow("GetValue not set")
            << false << QVariant(3) << host << "<root>/DB/" << QList<int>{};
        QTest::newRow("mode 3") << true << QVariant(3) << host << host << QList<int>{46, 5};
        QTest::newRow("mode 0") << true << QVariant(0) << host << host << QList<int>{46, 5};
        QTest::newRow("mode 1") << true << QVariant(1) << host << "<root>/DB/" << QList<int>{46};
        QTest::newRow("mode 3 as text")
            << true << QVariant(" 3 ") << host << host << QList<int>{46, 5};
        QTest::newRow("folder in suite form") << true << QVariant(3) << "C:\\DARA\\DB\\Fuel\\"
                                              << "<root>/DB/Fuel/" << QList<int>{46, 5};
    }
    void fuelDbPath() {
        QFETCH(bool, hostAnswers);
        QFETCH(QString, expected);
        QFETCH(QVariant, mode);
        QFETCH(QString, folder);
        answers.mode = mode;
        answers.folder = folder;
        if (hostAnswers)
            HostFunctions::GetValue = hostGetValue;
        QCOMPARE(FuelDbPathFromHost(), underRoot(expected));
        QTEST(answers.asked, "asked");
    }

    void goodsDbPath_data() {
        QTest::addColumn<QString>("library");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("expected");
        const QString goods = QStringLiteral(GOODS_LIBRARY);
        QTest::newRow("library there but not loaded")
            << goods << false << 0 << "<root>/DB/TradeDB/";
        QTest::newRow("library without the export")
            << QStringLiteral(GOODS_LIBRARY_NO_DEPARTMENT) << true << 0 << "<root>/DB/TradeDB/";
        QTest::newRow("department appended to the default")
            << goods << true << 0 << "<root>/DB/TradeDB/Отдел 2/";
        QTest::newRow("text left unended") << goods << true << 1 << QString(4096, QLatin1Char('x'));
        QTest::newRow("folder in suite form") << goods << true << 2 << "<root>/DB/Shop2/";
    }
    void goodsDbPath() {
        QFETCH(QString, library);
        QFETCH(bool, loaded);
        QFETCH(int, answer);
        QFETCH(QString, expected);
        QTemporaryDir root;
        QVERIFY2(root.isValid(), "не удалось создать временную папку DARA_ROOT");
        qputenv("DARA_ROOT", QFile::encodeName(root.path()));
        QVERIFY2(QFile::link(library, goodsLibraryPath()),
                 "не удалось положить библиотеку товаров в DARA_ROOT");
        void* handle = nullptr;
        if (loaded) {
            handle = dlopen(QFile::encodeName(goodsLibraryPath()).constData(), RTLD_NOW);
            QVERIFY2(handle, dlerror());
            *static_cast<int*>(dlsym(handle, "goodsDepartmentAnswer")) = answer;
        }
        const QString path = GetGoodsDbPath();
        if (handle)
            QCOMPARE(dlclose(handle), 0);
        QCOMPARE(path, underRoot(expected));
        // The lookup neither loaded the library nor kept the reference it took.
        QVERIFY2(!dlopen(QFile::encodeName(goodsLibraryPath()).constData(), RTLD_NOW | RTLD_NOLOAD),
                 "поиск папки загрузил библиотеку товаров или не отпустил её");
    }

    // Before the host's last entry, as the plug-in's ABI test shows; in an empty menu first.
    void menuPositionInEmptyMenu() {
        InitStatMenu(&m_hostWindow, m_reports, HostValues::createMenuItem);
        const QList<QAction*> items = m_reports->menu()->actions();
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.at(0)->text(), QStringLiteral("Статистика"));
        QVERIFY(items.at(0)->menu());
        QCOMPARE(captions(items.at(0)->menu()), (QStringList{"ГСМ", "Товары"}));
        QCOMPARE(HostFunctions::ApplicationWindow.load(), &m_hostWindow);
    }

    void menuWithoutHostItems_data() {
        QTest::addColumn<bool>("withFactory");
        QTest::addColumn<bool>("withParent");
        QTest::addColumn<QString>("message");
        QTest::newRow("no CreateMenuItem") << false << true << "функцию создания пунктов меню";
        QTest::newRow("CreateMenuItem creates nothing") << true << true << "«Статистика»";
        QTest::newRow("no parent item") << true << false << "пункт меню для отчётов";
    }
    void menuWithoutHostItems() {
        QFETCH(bool, withFactory);
        QFETCH(bool, withParent);
        QFETCH(QString, message);
        const QString error = errorOf([&] {
            InitStatMenu(&m_hostWindow, withParent ? m_reports : nullptr,
                         withFactory ? hostCreatesNothing : nullptr);
        });
        QVERIFY2(error.contains(message), qPrintable(error));
    }

    void windowGetsFolderAndIsFreed_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QVariant>("mode");
        QTest::addColumn<QString>("expectedFolder");
        QTest::addColumn<int>("windows"); // none: each click is refused with a message
        QTest::newRow("fuel, mode 3")
            << "ГСМ" << int(Kind::Fuel) << QVariant(3) << "/srv/azs/fuel/" << 2;
        QTest::newRow("goods, no goods library")
            << "Товары" << int(Kind::Goods) << QVariant(3) << "<root>/DB/TradeDB/" << 2;
        QTest::newRow("mode not a number: no window, the default folder")
            << "ГСМ" << int(Kind::Fuel) << QVariant("АЗС") << "<root>/DB/" << 0;
    }
    void windowGetsFolderAndIsFreed() {
        QFETCH(QString, item);
        QFETCH(int, kind);
        QFETCH(QString, expectedFolder);
        QFETCH(int, windows);
        QFETCH(QVariant, mode);
        answers.mode = mode;
        answers.folder = QStringLiteral("/srv/azs/fuel/");
        HostFunctions::GetValue = hostGetValue;
        QList<QPointer<QDialog>> created;
        QStringList folders;
        QList<QWidget*> parents;
        StatisticsWindows::registerFactory(
            Kind(kind), [&](QWidget* parent, TdmStatistic& dm) -> std::unique_ptr<QDialog> {
                auto window = std::make_unique<SelfClosingWindow>(parent);
                created << window.get();
                // The window sees the folder in the module the server is told from.
                folders << (&dm != dmStatistic        ? QStringLiteral("<another data module>")
                            : kind == int(Kind::Fuel) ? dm.FuelDbPath
                                                      : dm.GoodsDbPath);
                parents << parent;
                return window;
            });
        // Twice in a row: two separate windows, each freed when it closes.
        QAction* entry = buildMenu(item);
        QString& heldFolder =
            kind == int(Kind::Fuel) ? dmStatistic->FuelDbPath : dmStatistic->GoodsDbPath;
        heldFolder = QStringLiteral("/прежняя/"); // the previous click's folder
        entry->trigger();
        entry->trigger();
        QCOMPARE(created.size(), windows);
        QVERIFY2(std::none_of(created.begin(), created.end(), [](auto w) { return bool(w); }),
                 "окно статистики не освобождено после закрытия");
        QCOMPARE(folders, QStringList(windows, underRoot(expectedFolder)));
        // The server is told the folder the data module holds.
        QCOMPARE(heldFolder, underRoot(expectedFolder));
        QCOMPARE(parents, QList<QWidget*>(windows, &m_hostWindow));
        QVERIFY(!StatisticsWindows::shownWindow(Kind(kind)));
        QCOMPARE(m_env->boxes.size(), 2 - windows);
        for (const MessageBoxes::Shown& box : m_env->boxes)
            QVERIFY2(box.caption == QStringLiteral("Ошибка") &&
                         box.text.contains(QStringLiteral("«АЗС»")) &&
                         box.text.contains(QStringLiteral("целое число")),
                     qPrintable(box.text));
    }

    void errorReachesHostAfterWindowIsFreed() {
        QPointer<QDialog> window;
        StatisticsWindows::registerFactory(Kind::Fuel, [&](QWidget* parent, TdmStatistic&) {
            auto failing = std::make_unique<FailingWindow>(parent);
            window = failing.get();
            return std::unique_ptr<QDialog>(std::move(failing));
        });
        bool windowAliveAtMessage = true;
        MessageBoxes::setHandler([&](const MessageBoxes::Shown& shown) {
            windowAliveAtMessage = !window.isNull();
            m_env->boxes << shown;
            return QMessageBox::Ok;
        });
        buildMenu("ГСМ")->trigger();
        QCOMPARE(m_env->boxes.size(), 1);
        QCOMPARE(m_env->boxes.first().caption, QStringLiteral("Ошибка"));
        QCOMPARE(m_env->boxes.first().text, QStringLiteral("Сервер статистики недоступен"));
        QVERIFY2(!windowAliveAtMessage, "ошибка показана, пока окно ещё не освобождено");
        QVERIFY(!StatisticsWindows::shownWindow(Kind::Fuel));
    }

    void secondRequestWhileShown() {
        QAction* fuel = buildMenu("ГСМ");
        int windows = 0;
        StatisticsWindows::registerFactory(Kind::Fuel, [&](QWidget* parent, TdmStatistic&) {
            ++windows;
            auto window = std::make_unique<SelfClosingWindow>(parent);
            // The host triggers the item again while the window runs its modal loop.
            QTimer::singleShot(0, window.get(), [fuel] { fuel->trigger(); });
            return std::unique_ptr<QDialog>(std::move(window));
        });
        fuel->trigger();
        QCOMPARE(windows, 1);
        QVERIFY(m_env->boxes.isEmpty());
        QVERIFY(!StatisticsWindows::shownWindow(Kind::Fuel));
    }

    // Values from the host that the plug-in cannot use: the messages name them readably,
    // whatever their type or length.
    void unusableHostValues_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("unknown type")
            << 65535 << QString() << "Не удалось преобразовать значение типа 65535 в целое число";
        QTest::newRow("1 MB of text")
            << int(TORVI_VT_BSTR) << QString(1 << 20, 'x')
            << "Не удалось преобразовать значение «" + QString(240, QLatin1Char('x')) + "…" +
                   QString(60, QLatin1Char('x')) + " (всего 1048576 символов)» в целое число";
    }
    void unusableHostValues() {
        QFETCH(int, type);
        QFETCH(QString, text);
        VariantValue value;
        if (type == TORVI_VT_BSTR)
            HostValues::setString(value.out(), text);
        else
            value.out()->vt = uint16_t(type);
        QTEST(errorOf<EConvertError>([&] { value.toInt(); }), "expected");
    }

    void computerName_data() {
        QTest::addColumn<bool>("hostAnswers");
        QTest::addColumn<QVariant>("code11");
        QTest::addColumn<QString>("code13");
        QTest::addColumn<QString>("computer");
        QTest::addColumn<QList<int>>("asked");
        // clang-format off
        QTest::newRow("no GetPrivValue") << false << QVariant() << "" << "" << QList<int>{};
        QTest::newRow("11 is the text 1: local, 13 not asked")
            << true << QVariant("1") << "station-2" << "" << QList<int>{11};
        QTest::newRow("11 is 0: the computer of 13")
            << true << QVariant(0) << "station-2" << "station-2" << QList<int>{11, 13};
        QTest::newRow("11 is 2: the computer of 13")
            << true << QVariant(2) << "pg-host:5433" << "pg-host:5433" << QList<int>{11, 13};
        QTest::newRow("11 empty, 13 empty: local")
            << true << QVariant() << "" << "" << QList<int>{11, 13};
        // clang-format on
    }
    void computerName() {
        QFETCH(bool, hostAnswers);
        QFETCH(QVariant, code11);
        QFETCH(QString, code13);
        QFETCH(QString, computer);
        QFETCH(QList<int>, asked);
        if (hostAnswers)
            HostFunctions::GetPrivValue = fakeGetPrivValue;
        if (code11.isValid())
            privAnswers.insert(11, code11);
        privAnswers.insert(13, code13);

        // Both connections carry the same handlers.
        const QList<QPair<TClientDataSet*, TDCOMConnection*>> uses{
            {&dmStatistic->cdsGSM, &dmStatistic->DCOMConnection1},
            {&dmStatistic->cdsTovarStat, &dmStatistic->DCOMConnectionThread}};
        dmStatistic->cdsTovarStat.setCommandText(QStringLiteral("SELECT * FROM Category"));
        for (const auto& [set, connection] : uses) {
            privAsked.clear();
            const QString message = errorOf<EDatabaseError>([&] { set->open(); });
            QCOMPARE(privAsked, asked);
            QCOMPARE(connection->computerName(), computer);
            if (computer.isEmpty()) {
                QCOMPARE(message, QString());
                QVERIFY(set->active());
            } else {
                QVERIFY2(message.contains(QStringLiteral("«%1»").arg(computer)),
                         qPrintable(message));
                QVERIFY(!connection->connected());
                QVERIFY(!set->active());
            }
        }
        QVERIFY(m_env->boxes.isEmpty());
    }

    void parameterPush_data() {
        QTest::addColumn<QString>("goods");
        QTest::addColumn<QString>("fuel");
        QTest::addColumn<int>("failIndex");
        QTest::addColumn<QList<Put>>("puts");
        QTest::addColumn<QString>("box");
        const QString error = QStringLiteral("При установке параметра возникла ошибка: папка «%1» "
                                             "недоступна");
        // clang-format off
        QTest::newRow("both folders") << "G" << "F" << 0 << QList<Put>{{1, "G"}, {2, "F"}} << "";
        QTest::newRow("no fuel folder: only the goods one")
            << "G" << "" << 0 << QList<Put>{{1, "G"}} << "";
        QTest::newRow("no goods folder: put empty")
            << "" << "F" << 0 << QList<Put>{{1, ""}, {2, "F"}} << "";
        QTest::newRow("first put fails: second not tried")
            << "G" << "F" << 1 << QList<Put>{{1, "G"}} << error.arg("G");
        QTest::newRow("second put fails")
            << "G" << "F" << 2 << QList<Put>{{1, "G"}, {2, "F"}} << error.arg("F");
        // clang-format on
    }
    void parameterPush() {
        QFETCH(QString, goods);
        QFETCH(QString, fuel);
        QFETCH(int, failIndex);
        QFETCH(QList<Put>, puts);
        QFETCH(QString, box);
        dmStatistic->GoodsDbPath = goods;
        dmStatistic->FuelDbPath = fuel;
        QList<Put> recorded;
        dmStatistic->DCOMConnection1.setServerFactory([&](const QString&) {
            return std::make_unique<RecordingServer>(&recorded, failIndex);
        });
        dmStatistic->cdsGSM.open();
        QCOMPARE(recorded, puts);
        QVERIFY(dmStatistic->DCOMConnection1.connected());
        QVERIFY2(dmStatistic->cdsGSM.active(), "the open that connected goes on");
        QCOMPARE(dmStatistic->cdsGSM.recordCount(), 1);
        if (box.isEmpty()) {
            QVERIFY(m_env->boxes.isEmpty());
            return;
        }
        QCOMPARE(m_env->boxes.size(), 1);
        QCOMPARE(m_env->boxes[0].caption, QStringLiteral("Ошибка"));
        QCOMPARE(m_env->boxes[0].text, box);
        QCOMPARE(m_env->boxes[0].icon, MessageBoxes::Icon::Error);
    }

    void parameterPushFromWorker() {
        // The goods extractor connects on its own thread: the failed put's box comes up on the
        // user interface thread, and the open goes on.
        QList<Put> recorded;
        dmStatistic->DCOMConnectionThread.setServerFactory(
            [&](const QString&) { return std::make_unique<RecordingServer>(&recorded, 2); });
        bool boxOnUiThread = false;
        MessageBoxes::setHandler([&](const MessageBoxes::Shown& shown) {
            boxOnUiThread = SynchronizedCall::onUiThread();
            m_env->boxes << shown;
            return QMessageBox::Ok;
        });
        dmStatistic->cdsTovarStat.setCommandText(QStringLiteral("SELECT * FROM Documents"));
        std::atomic<bool> done{false};
        std::thread worker([&] {
            dmStatistic->cdsTovarStat.open();
            done = true;
        });
        const bool finished = QTest::qWaitFor([&] { return done.load(); }, 5000);
        worker.join();
        QVERIFY(finished);
        QCOMPARE(recorded.size(), 2);
        QVERIFY(dmStatistic->cdsTovarStat.active());
        QCOMPARE(m_env->boxes.size(), 1);
        QVERIFY(boxOnUiThread);
    }

    void closeAllData_data() {
        QTest::addColumn<QStringList>("opened");
        QTest::newRow("nothing open") << QStringList{};
        QTest::newRow("only the goods thread") << QStringList{"cdsTovarStat"};
        QTest::newRow("everything") << QStringList{"cdsLogtran", "cdsSmSilo",   "cdsGSM",
                                                   "cdsGoods",   "cdsCategory", "cdsTovarStat"};
    }
    void closeAllData() {
        QFETCH(QStringList, opened);
        TdmStatistic& dm = *dmStatistic;
        dm.cdsLogtran.setCommandText(QStringLiteral("SELECT * FROM LogTran"));
        dm.cdsTovarStat.setCommandText(QStringLiteral("SELECT * FROM Documents"));
        const QList<TClientDataSet*> sets{&dm.cdsLogtran, &dm.cdsSmSilo,   &dm.cdsGSM,
                                          &dm.cdsGoods,   &dm.cdsCategory, &dm.cdsTovarStat};
        for (TClientDataSet* set : sets) {
            if (opened.contains(set->name()))
                set->open();
        }
        dm.CloseAllData();
        for (TClientDataSet* set : sets)
            QVERIFY2(!set->active(), qPrintable(set->name()));
        QVERIFY(!dm.DCOMConnection1.connected());
        QVERIFY(!dm.DCOMConnectionThread.connected());
    }

    void storedDefinitions() {
        TdmStatistic& dm = *dmStatistic;
        dm.cdsSmSilo.open();
        QStringList headers;
        for (int c = 0; c < dm.dsSmSilo.columnCount(); ++c)
            headers << dm.dsSmSilo.headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers,
                 (QStringList{"Номер смены", "Время начала", "Время окончания", "Оператор"}));
        QCOMPARE(dm.dsSmSilo.data(dm.dsSmSilo.index(0, 0)).toString(), QStringLiteral("120"));

        // Category names filter without regard to case; the unnamed category is listed too.
        dm.cdsCategory.open();
        QCOMPARE(dm.cdsCategory.recordCount(), 4);
        dm.cdsCategory.setFilter(QStringLiteral("Name in ('напитки')"));
        dm.cdsCategory.setFiltered(true);
        QCOMPARE(dm.cdsCategory.recordCount(), 2);

        dm.CloseAllData();
    }

private:
    static QStringList captions(const QMenu* menu) {
        QStringList texts;
        for (const QAction* item : menu->actions())
            texts << item->text();
        return texts;
    }
    // The statistics menu under two host items; returns its entry of that caption.
    QAction* buildMenu(const QString& entry) {
        for (const char* caption : {"Сменный отчёт", "Сведения о модулях"})
            m_reports->menu()->addAction(QString::fromUtf8(caption));
        InitStatMenu(&m_hostWindow, m_reports, HostValues::createMenuItem);
        QMenu* statistics = m_reports->menu()->actions().at(1)->menu();
        return statistics->actions().at(captions(statistics).indexOf(entry));
    }

    StationFixture m_station;
    QMainWindow m_hostWindow;
    QAction* m_reports = nullptr;
    std::unique_ptr<WindowTestEnvironment> m_env;
};

QTEST_MAIN(TestPlugin)
#include "tst_plugin.moc"
