#include "platform/core/Exceptions.h"
#include "platform/ui/MessageBoxes.h"
#include "plugin/DmStatistic.h"
#include "plugin/HostFunctions.h"
#include "plugin/StatDbPaths.h"
#include "plugin/StatInternal.h"
#include "plugin/StatisticsWindows.h"

#include "HostValues.h"

#include <QAction>
#include <QDialog>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>

#include <cstring>

using StatisticsWindows::Kind;

namespace {

// What the host answers to GetValue in the current case.
struct HostAnswers {
    QVariant mode;  // code 46: an int is sent as I4, a string as BSTR
    QString folder; // code 5
    QList<int> asked;
} answers;

char* mallocCopy(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    char* copy = static_cast<char*>(std::malloc(static_cast<std::size_t>(utf8.size()) + 1));
    std::memcpy(copy, utf8.constData(), static_cast<std::size_t>(utf8.size()) + 1);
    return copy;
}

void hostGetValue(TorviVariant* result, int32_t code, int32_t) {
    answers.asked << code;
    if (code == 46 && answers.mode.typeId() == QMetaType::Int) {
        result->vt = TORVI_VT_I4;
        result->value.i4 = answers.mode.toInt();
    } else if (code == 46 || code == 5) {
        result->vt = TORVI_VT_BSTR;
        result->value.str = mallocCopy(code == 5 ? answers.folder : answers.mode.toString());
    }
}

TorviMenuItem hostCreatesNothing(TorviMenuItem, int32_t) {
    return nullptr;
}

QString underRoot(const QString& path) {
    QString mapped = path;
    mapped.replace(QLatin1String("<root>"), qEnvironmentVariable("DARA_ROOT"));
    return mapped;
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

} // namespace

class TestStatInternal : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fuelDbPath_data();
    void fuelDbPath();
    void fuelModeNotANumber();
    void goodsDbPath_data();
    void goodsDbPath();

    void menuPosition_data();
    void menuPosition();
    void menuWithoutHostItems_data();
    void menuWithoutHostItems();

    void windowGetsFolderAndIsFreed_data();
    void windowGetsFolderAndIsFreed();
    void errorReachesHostAfterWindowIsFreed();
    void conversionErrorOpensNoWindow();
    void secondRequestWhileShown();

private:
    QAction* findItem(QMenu* menu, const QString& caption) const;
    QAction* buildMenu();

    QTemporaryDir m_root;
    QMainWindow m_hostWindow;
    QAction* m_reports = nullptr;
    QList<MessageBoxes::Shown> m_boxes;
};

void TestStatInternal::initTestCase() {
    QVERIFY2(m_root.isValid(), "не удалось создать временную папку DARA_ROOT");
    qputenv("DARA_ROOT", QFile::encodeName(m_root.path()));
}

void TestStatInternal::init() {
    answers = HostAnswers{};
    m_boxes.clear();
    MessageBoxes::setHandler([this](const MessageBoxes::Shown& shown) {
        m_boxes << shown;
        return QMessageBox::Ok;
    });
    auto* reports = new QMenu(QStringLiteral("Отчёты"), &m_hostWindow);
    m_reports = reports->menuAction();
}

void TestStatInternal::cleanup() {
    FinalizeStatistics();
    HostFunctions::reset();
    StatisticsWindows::registerFactory(Kind::Fuel, {});
    StatisticsWindows::registerFactory(Kind::Goods, {});
    MessageBoxes::setHandler({});
    delete m_reports->menu();
    qputenv("DARA_ROOT", QFile::encodeName(m_root.path()));
}

QAction* TestStatInternal::findItem(QMenu* menu, const QString& caption) const {
    for (QAction* item : menu->actions())
        if (item->text() == caption)
            return item;
    return nullptr;
}

QAction* TestStatInternal::buildMenu() {
    for (const char* caption : {"Сменный отчёт", "Сведения о модулях"})
        m_reports->menu()->addAction(QString::fromUtf8(caption));
    InitStatMenu(&m_hostWindow, m_reports, HostValues::createMenuItem);
    return findItem(m_reports->menu(), QStringLiteral("Статистика"));
}

void TestStatInternal::fuelDbPath_data() {
    QTest::addColumn<bool>("hostAnswers");
    QTest::addColumn<QVariant>("mode");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QList<int>>("asked");
    const QString hostFolder = QStringLiteral("/srv/azs/fuel/");
    QTest::newRow("GetValue not set")
        << false << QVariant(3) << hostFolder << "<root>/DB/" << QList<int>{};
    QTest::newRow("mode 3") << true << QVariant(3) << hostFolder << hostFolder << QList<int>{46, 5};
    QTest::newRow("mode 0") << true << QVariant(0) << hostFolder << hostFolder << QList<int>{46, 5};
    QTest::newRow("mode 1") << true << QVariant(1) << hostFolder << "<root>/DB/" << QList<int>{46};
    QTest::newRow("mode 2") << true << QVariant(2) << hostFolder << "<root>/DB/" << QList<int>{46};
    QTest::newRow("mode 3 as text")
        << true << QVariant(QStringLiteral(" 3 ")) << hostFolder << hostFolder << QList<int>{46, 5};
    QTest::newRow("folder in suite form")
        << true << QVariant(3) << QStringLiteral("C:\\DARA\\DB\\Fuel\\") << "<root>/DB/Fuel/"
        << QList<int>{46, 5};
}

void TestStatInternal::fuelDbPath() {
    QFETCH(bool, hostAnswers);
    QFETCH(QVariant, mode);
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    QFETCH(QList<int>, asked);
    answers.mode = mode;
    answers.folder = folder;
    if (hostAnswers)
        HostFunctions::GetValue = hostGetValue;
    QCOMPARE(FuelDbPathFromHost(), underRoot(expected));
    QCOMPARE(answers.asked, asked);
}

void TestStatInternal::fuelModeNotANumber() {
    answers.mode = QStringLiteral("три");
    HostFunctions::GetValue = hostGetValue;
    try {
        FuelDbPathFromHost();
        QFAIL("режим «три» принят как число");
    } catch (const EConvertError& error) {
        QVERIFY2(error.message().contains(QStringLiteral("«три»")) &&
                     error.message().contains(QStringLiteral("целое число")),
                 qPrintable(error.message()));
    }
    QCOMPARE(answers.asked, QList<int>{46});
}

void TestStatInternal::goodsDbPath_data() {
    QTest::addColumn<QString>("library");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("expected");
    const QString goods = QStringLiteral(GOODS_LIBRARY);
    QTest::newRow("library there but not loaded") << goods << false << 0 << "<root>/DB/TradeDB/";
    QTest::newRow("library without the export")
        << QStringLiteral(GOODS_LIBRARY_NO_DEPARTMENT) << true << 0 << "<root>/DB/TradeDB/";
    QTest::newRow("department appended to the default")
        << goods << true << 0 << "<root>/DB/TradeDB/Отдел 2/";
    QTest::newRow("text left unended") << goods << true << 1 << QString(4096, QLatin1Char('x'));
    QTest::newRow("folder in suite form") << goods << true << 2 << "<root>/DB/Shop2/";
}

void TestStatInternal::goodsDbPath() {
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

void TestStatInternal::menuPosition_data() {
    QTest::addColumn<int>("hostItems");
    QTest::addColumn<int>("expectedIndex");
    QTest::newRow("one entry") << 1 << 0;
    QTest::newRow("empty menu: first, not at -1") << 0 << 0;
}

void TestStatInternal::menuPosition() {
    QFETCH(int, hostItems);
    QFETCH(int, expectedIndex);
    for (int i = 0; i < hostItems; ++i)
        m_reports->menu()->addAction(QStringLiteral("Отчёт %1").arg(i + 1));

    InitStatMenu(&m_hostWindow, m_reports, HostValues::createMenuItem);

    const QList<QAction*> items = m_reports->menu()->actions();
    QCOMPARE(items.size(), hostItems + 1);
    QAction* statistics = items.at(expectedIndex);
    QCOMPARE(statistics->text(), QStringLiteral("Статистика"));
    QVERIFY(statistics->menu());
    QStringList captions;
    for (QAction* item : statistics->menu()->actions())
        captions << item->text();
    QCOMPARE(captions, (QStringList{QStringLiteral("ГСМ"), QStringLiteral("Товары")}));
    QCOMPARE(HostFunctions::ApplicationWindow.load(), &m_hostWindow);
}

void TestStatInternal::menuWithoutHostItems_data() {
    QTest::addColumn<bool>("withFactory");
    QTest::addColumn<bool>("withParent");
    QTest::addColumn<QString>("message");
    QTest::newRow("no CreateMenuItem") << false << true << "функцию создания пунктов меню";
    QTest::newRow("CreateMenuItem creates nothing") << true << true << "«Статистика»";
    QTest::newRow("no parent item") << true << false << "пункт меню для отчётов";
}

void TestStatInternal::menuWithoutHostItems() {
    QFETCH(bool, withFactory);
    QFETCH(bool, withParent);
    QFETCH(QString, message);
    try {
        InitStatMenu(&m_hostWindow, withParent ? m_reports : nullptr,
                     withFactory ? hostCreatesNothing : nullptr);
        QFAIL("меню построено без пунктов программы");
    } catch (const Exception& error) {
        QVERIFY2(error.message().contains(message), qPrintable(error.message()));
    }
}

void TestStatInternal::windowGetsFolderAndIsFreed_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("expectedFolder");
    QTest::newRow("fuel, mode 3") << "ГСМ" << int(Kind::Fuel) << "/srv/azs/fuel/";
    QTest::newRow("goods, no goods library")
        << "Товары" << int(Kind::Goods) << "<root>/DB/TradeDB/";
}

void TestStatInternal::windowGetsFolderAndIsFreed() {
    QFETCH(QString, item);
    QFETCH(int, kind);
    QFETCH(QString, expectedFolder);
    answers.mode = 3;
    answers.folder = QStringLiteral("/srv/azs/fuel/");
    HostFunctions::GetValue = hostGetValue;

    QList<QPointer<QDialog>> created;
    QStringList folders;
    QList<QWidget*> parents;
    StatisticsWindows::registerFactory(
        Kind(kind), [&](QWidget* parent, const QString& dbPath) -> std::unique_ptr<QDialog> {
            auto window = std::make_unique<SelfClosingWindow>(parent);
            created << window.get();
            folders << dbPath;
            parents << parent;
            return window;
        });
    QAction* statistics = buildMenu();
    // Twice in a row: two separate windows, each freed when it closes.
    findItem(statistics->menu(), item)->trigger();
    findItem(statistics->menu(), item)->trigger();

    QVERIFY2(m_boxes.isEmpty(), m_boxes.isEmpty() ? "" : qPrintable(m_boxes.first().text));
    QCOMPARE(created.size(), 2);
    QVERIFY2(!created.at(0) && !created.at(1), "окно статистики не освобождено после закрытия");
    QCOMPARE(folders, QStringList(2, underRoot(expectedFolder)));
    // The server is told the folder the data module holds.
    QCOMPARE(kind == int(Kind::Fuel) ? dmStatistic->FuelDbPath : dmStatistic->GoodsDbPath,
             underRoot(expectedFolder));
    QCOMPARE(parents, (QList<QWidget*>{&m_hostWindow, &m_hostWindow}));
    QVERIFY(!StatisticsWindows::shownWindow(Kind(kind)));
}

void TestStatInternal::errorReachesHostAfterWindowIsFreed() {
    QPointer<QDialog> window;
    StatisticsWindows::registerFactory(Kind::Fuel, [&](QWidget* parent, const QString&) {
        auto failing = std::make_unique<FailingWindow>(parent);
        window = failing.get();
        return std::unique_ptr<QDialog>(std::move(failing));
    });
    bool windowAliveAtMessage = true;
    MessageBoxes::setHandler([&](const MessageBoxes::Shown& shown) {
        windowAliveAtMessage = !window.isNull();
        m_boxes << shown;
        return QMessageBox::Ok;
    });
    QAction* statistics = buildMenu();
    findItem(statistics->menu(), QStringLiteral("ГСМ"))->trigger();

    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().caption, QStringLiteral("Ошибка"));
    QCOMPARE(m_boxes.first().text, QStringLiteral("Сервер статистики недоступен"));
    QVERIFY2(!windowAliveAtMessage, "ошибка показана, пока окно ещё не освобождено");
    QVERIFY(!StatisticsWindows::shownWindow(Kind::Fuel));
}

void TestStatInternal::conversionErrorOpensNoWindow() {
    answers.mode = QStringLiteral("АЗС");
    HostFunctions::GetValue = hostGetValue;
    int windows = 0;
    StatisticsWindows::registerFactory(Kind::Fuel, [&](QWidget* parent, const QString&) {
        ++windows;
        return std::unique_ptr<QDialog>(std::make_unique<SelfClosingWindow>(parent));
    });
    QAction* statistics = buildMenu();
    dmStatistic->FuelDbPath = QStringLiteral("/srv/azs/fuel/"); // the previous click's folder
    findItem(statistics->menu(), QStringLiteral("ГСМ"))->trigger();

    QCOMPARE(windows, 0);
    QCOMPARE(dmStatistic->FuelDbPath, underRoot("<root>/DB/"));
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().caption, QStringLiteral("Ошибка"));
    QVERIFY2(m_boxes.first().text.contains(QStringLiteral("«АЗС»")),
             qPrintable(m_boxes.first().text));
}

void TestStatInternal::secondRequestWhileShown() {
    QAction* statistics = buildMenu();
    QAction* fuel = findItem(statistics->menu(), QStringLiteral("ГСМ"));
    int windows = 0;
    StatisticsWindows::registerFactory(Kind::Fuel, [&](QWidget* parent, const QString&) {
        ++windows;
        auto window = std::make_unique<SelfClosingWindow>(parent);
        // The host triggers the item again while the window runs its modal loop.
        QTimer::singleShot(0, window.get(), [fuel] { fuel->trigger(); });
        return std::unique_ptr<QDialog>(std::move(window));
    });
    fuel->trigger();
    QCOMPARE(windows, 1);
    QVERIFY(m_boxes.isEmpty());
    QVERIFY(!StatisticsWindows::shownWindow(Kind::Fuel));
}

QTEST_MAIN(TestStatInternal)
#include "tst_statinternal.moc"
