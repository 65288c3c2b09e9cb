#include "common/StationFixture.h"
#include "common/WindowTestSupport.h"

#include "extraction/FoodExtractor.h"
#include "platform/chart/ChartModel.h"
#include "plugin/DmStatistic.h"
#include "windows/GoodsList.h"
#include "windows/TovarStat.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QtTest>

#include <cmath>
#include <memory>

// The goods selector and the goods window on the embedded server over the small hand-built
// station, with a category of goods A, B, C, a second "Вода" and 51 more categories.
class TestGoodsStat : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void namesIndexChecked();
    void goodsMode_data();
    void goodsMode();
    void selectAllAndBack();
    void listDelete_data();
    void listDelete();
    void selectGoods_data();
    void selectGoods();
    void firstShow();
    void refusedBuild_data();
    void refusedBuild();
    void build_data();
    void build();

private:
    TfmGoodsList* loaded(bool byCategory, const TQueryItems& picked);
    QTreeWidgetItem* treeNode(const QString& text, qint32 id) const;
    TfmTovarStat* openWindow();
    void checkLines(const QStringList& names);

    std::unique_ptr<WindowTestEnvironment> m_env;
    std::unique_ptr<StationFixture> m_station;
    std::unique_ptr<TfmGoodsList> m_list;
    std::unique_ptr<TfmTovarStat> m_window;
};

namespace {

QStringList listed(const QListWidget* list) {
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text();
    return names;
}

QString text(const MessageBoxes::Shown& box) {
    return box.caption + QStringLiteral(": ") + box.text;
}

} // namespace

void TestGoodsStat::initTestCase() {
    m_env = std::make_unique<WindowTestEnvironment>();
    m_station = std::make_unique<StationFixture>();
    QVERIFY2(m_station->isValid(), qPrintable(m_station->error()));
    QStringList more{QStringLiteral("INSERT INTO Category (ID_Category, Name) VALUES (5, 'Буквы')"),
                     QStringLiteral("INSERT INTO Goods (ID_Goods, ID_Category, Name) VALUES "
                                    "(20, 5, 'A'), (21, 5, 'B'), (22, 5, 'C'), (23, 2, 'Вода')")};
    for (int id = 100; id <= 150; ++id)
        more << QStringLiteral("INSERT INTO Category (ID_Category, Name) VALUES (%1, 'Я%1')")
                    .arg(id);
    QVERIFY2(m_station->exec(m_station->goodsFile(), more), qPrintable(m_station->error()));
    CreateDmStatistic();
}

void TestGoodsStat::cleanupTestCase() {
    FreeDmStatistic();
    m_env.reset();
}

void TestGoodsStat::init() {
    m_env->forgetSettings();
    m_env->boxes.clear();
    dmStatistic->GoodsDbPath = m_station->goodsFolder();
}

void TestGoodsStat::cleanup() {
    m_list.reset();
    m_window.reset();
    dmStatistic->CloseAllData();
}

TfmGoodsList* TestGoodsStat::loaded(bool byCategory, const TQueryItems& picked) {
    m_list = std::make_unique<TfmGoodsList>();
    m_list->Load(byCategory, picked, dmStatistic->cdsCategory, dmStatistic->cdsGoods);
    return m_list.get();
}

QTreeWidgetItem* TestGoodsStat::treeNode(const QString& text, qint32 id) const {
    for (QTreeWidgetItemIterator it(m_list->TreeView1); *it; ++it)
        if ((*it)->text(0) == text && (*it)->data(0, TfmGoodsList::IdRole).toInt() == id)
            return *it;
    return nullptr;
}

void TestGoodsStat::namesIndexChecked() {
    TGoodsNamesClass names;
    QCOMPARE(names.AddCategory(7, QStringLiteral("Чай")), 0);
    QCOMPARE(names.AddGoods(0, 70, QStringLiteral("Чай чёрный")), 0);
    QCOMPARE(names.IndexOfCategory(7), 0);
    QCOMPARE(names.IndexOfCategory(8), -1);
    for (int index : {1, -1}) {
        try {
            names.GetGoodsList(index);
            QFAIL("Нет ошибки для несуществующего номера");
        } catch (const EListError& e) {
            QCOMPARE(e.message(),
                     QStringLiteral("Элемента списка с номером %1 не существует!").arg(index));
        }
    }
}

void TestGoodsStat::goodsMode_data() {
    QTest::addColumn<TQueryItems>("picked");
    QTest::addColumn<QStringList>("clicks"); // "+name" checks the node, "-name" clears it
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<QString>("counter");
    QTest::newRow("a category picks its goods in order")
        << TQueryItems{} << QStringList{"+Буквы"} << QStringList{"A", "B", "C"} << "Буквы (3/3)";
    QTest::newRow("unchecking B") << TQueryItems{} << QStringList{"+Буквы", "-B"}
                                  << QStringList{"A", "C"} << "Буквы (2/3)";
    QTest::newRow("a goods item picked before is not added twice")
        << TQueryItems{{"B", 21}} << QStringList{"+Буквы"} << QStringList{"B", "A", "C"}
        << "Буквы (3/3)";
    QTest::newRow("pre-checked by name")
        << TQueryItems{{"C", 22}} << QStringList{} << QStringList{"C"} << "Буквы (1/3)";
}

void TestGoodsStat::goodsMode() {
    QFETCH(TQueryItems, picked);
    QFETCH(QStringList, clicks);
    QFETCH(QStringList, list);
    QFETCH(QString, counter);
    TfmGoodsList* window = loaded(false, picked);
    QVERIFY(!window->bbtSelectAll->isVisible() && window->bbtSelectAll->isHidden());
    for (const QString& click : clicks) {
        QTreeWidgetItem* node =
            window->TreeView1->findItems(click.mid(1), Qt::MatchExactly | Qt::MatchRecursive)
                .value(0);
        QVERIFY2(node, qPrintable(click));
        // What the tree does on a click on the box; the window follows the node's new state.
        node->setCheckState(0, click.startsWith('+') ? Qt::Checked : Qt::Unchecked);
    }
    QCOMPARE(listed(window->ListBox1), list);
    QCOMPARE(window->SelectedIds().size(), list.size());
    QCOMPARE(window->lbCount->text(), GoodsCountText(int(list.size())));
    const QTreeWidgetItem* category =
        window->TreeView1->findItems(QStringLiteral("Буквы"), Qt::MatchExactly).value(0);
    const QPair<int, int> shown = window->CategoryCounter(category);
    QCOMPARE(CategoryCounterText(category->text(0), shown.first, shown.second), counter);
    for (int i = 0; i < category->childCount(); ++i)
        QCOMPARE(category->child(i)->checkState(0) == Qt::Checked,
                 list.contains(category->child(i)->text(0)));
    // Rows without a name never become nodes.
    QVERIFY(
        window->TreeView1->findItems(QString(), Qt::MatchExactly | Qt::MatchRecursive).isEmpty());
}

void TestGoodsStat::selectAllAndBack() {
    TfmGoodsList* window = loaded(true, {});
    QVERIFY(!window->bbtSelectAll->isHidden());
    window->bbtSelectAll->click();
    QCOMPARE(window->bbtSelectAll->text(), QStringLiteral("Сбросить все"));
    QStringList tree;
    for (int i = 0; i < window->TreeView1->topLevelItemCount(); ++i)
        tree << window->TreeView1->topLevelItem(i)->text(0);
    QCOMPARE(listed(window->ListBox1), tree);
    window->bbtSelectAll->click();
    QCOMPARE(window->bbtSelectAll->text(), QStringLiteral("Выбрать все"));
    QCOMPARE(window->ListBox1->count(), 0);
    QVERIFY(window->SelectedIds().isEmpty());
}

void TestGoodsStat::listDelete_data() {
    QTest::addColumn<TQueryItems>("picked");
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<int>("current");
    QTest::addColumn<QList<int>>("checkedIds"); // goods still checked in the tree
    QTest::newRow("the last entry") << TQueryItems{{"A", 20}, {"B", 21}, {"C", 22}} << 2
                                    << QStringList{"A", "B"} << 1 << QList<int>{20, 21};
    QTest::newRow("the only entry")
        << TQueryItems{{"A", 20}} << 0 << QStringList{} << -1 << QList<int>{};
    QTest::newRow("two goods of one name: the first in the tree is cleared")
        << TQueryItems{{"Вода", 23}, {"Вода", 10}} << 0 << QStringList{"Вода"} << 0
        << QList<int>{23};
}

void TestGoodsStat::listDelete() {
    QFETCH(TQueryItems, picked);
    QFETCH(int, row);
    QFETCH(QStringList, left);
    QFETCH(int, current);
    QFETCH(QList<int>, checkedIds);
    TfmGoodsList* window = loaded(false, picked);
    window->ListBox1->setCurrentRow(row);
    QTest::keyClick(window->ListBox1, Qt::Key_Delete);
    QCOMPARE(listed(window->ListBox1), left);
    QCOMPARE(window->ListBox1->currentRow(), current);
    QCOMPARE(window->lbCount->text(), GoodsCountText(int(left.size())));
    QList<int> checked;
    for (QTreeWidgetItemIterator it(window->TreeView1, QTreeWidgetItemIterator::Checked); *it; ++it)
        checked << (*it)->data(0, TfmGoodsList::IdRole).toInt();
    QCOMPARE(checked, checkedIds);
}

void TestGoodsStat::selectGoods_data() {
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("result");
    QTest::addColumn<TQueryItems>("items");
    const TQueryItems before{{"Снеки", 2}};
    QTest::newRow("OK takes the picks")
        << true << true << true << TQueryItems{{"Снеки", 2}, {"Буквы", 5}};
    QTest::newRow("Cancel keeps the caller's selection") << true << false << false << before;
    QTest::newRow("server unreachable") << false << true << false << before;
}

void TestGoodsStat::selectGoods() {
    QFETCH(bool, reachable);
    QFETCH(bool, ok);
    QFETCH(bool, result);
    QFETCH(TQueryItems, items);
    if (!reachable)
        dmStatistic->GoodsDbPath = m_station->root() + QStringLiteral("/нет такой папки");
    // Without a server the selector never shows: nothing may wait for it into the next case.
    if (reachable)
        whenModalShown<TfmGoodsList>([&](TfmGoodsList* window) {
            window->TreeView1->findItems(QStringLiteral("Буквы"), Qt::MatchExactly)
                .value(0)
                ->setCheckState(0, Qt::Checked);
            ok ? window->accept() : window->reject();
        });
    TQueryItems selection{{"Снеки", 2}};
    QCOMPARE(SelectGoods(true, selection), result);
    QCOMPARE(selection.size(), items.size());
    for (int i = 0; i < items.size(); ++i)
        QVERIFY(selection[i].Name == items[i].Name && selection[i].Id == items[i].Id);
    QVERIFY2(!fmGoodsList, "Окно выбора не освобождено");
    QVERIFY(m_env->boxes.isEmpty());
}

TfmTovarStat* TestGoodsStat::openWindow() {
    m_window = std::make_unique<TfmTovarStat>();
    m_window->show();
    m_window->dtpDateFrom->setDate(QDate(2009, 8, 24));
    m_window->dtpDateTo->setDate(QDate(2009, 8, 25));
    return m_window.get();
}

void TestGoodsStat::checkLines(const QStringList& names) {
    for (int i = 0; i < m_window->clbTovarList->count(); ++i) {
        QListWidgetItem* line = m_window->clbTovarList->item(i);
        line->setCheckState(names.contains(line->text()) ? Qt::Checked : Qt::Unchecked);
    }
}

void TestGoodsStat::firstShow() {
    TfmTovarStat* window = openWindow();
    QCOMPARE(window->windowTitle(),
             QStringLiteral("Статистика по товарам [База: %1]").arg(m_station->goodsFolder()));
    QVERIFY(window->Extractor() && window->Extractor()->Suspended());
    QVERIFY(window->rbtCateg->isChecked());
    // Every category row, the one without a name too, all checked.
    QCOMPARE(window->clbTovarList->count(), 5 + 51);
    QCOMPARE(window->GoodsItems().size(), 5 + 51);
    for (int i = 0; i < window->clbTovarList->count(); ++i)
        QCOMPARE(window->clbTovarList->item(i)->checkState(), Qt::Checked);
    QVERIFY(!dmStatistic->DCOMConnection1.connected());

    window->rbtGoodsName->click();
    QCOMPARE(window->clbTovarList->count(), 0);
    window->rbtCateg->click();
    QCOMPARE(listed(window->clbTovarList).size(), 56);

    // The selector starts with the checked lines only.
    checkLines({QStringLiteral("Снеки"), QStringLiteral("Буквы")});
    QStringList offered;
    whenModalShown<TfmGoodsList>([&](TfmGoodsList* selector) {
        offered = listed(selector->ListBox1);
        selector->reject();
    });
    window->bbtChoose->click();
    QCOMPARE(offered, (QStringList{"Снеки", "Буквы"}));
    QCOMPARE(window->clbTovarList->count(), 56);

    // A shift's caption goes with any change of the period.
    window->lbSmena->setText(QStringLiteral("Смена №"));
    window->lbSmenaNum->setText(QStringLiteral("116"));
    window->dtpTimeFrom->setTime(QTime(6, 0));
    QCOMPARE(window->lbSmena->text() + window->lbSmenaNum->text(), QString());
}

void TestGoodsStat::refusedBuild_data() {
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<QString>("message");
    QTest::newRow("start equal to the end") << "period"
                                            << "Ошибка: Задан неверный период выборки!";
    QTest::newRow("nothing checked") << "none"
                                     << "Ошибка: Не выбран товар/категория!";
    QTest::newRow("goods mode with an empty list") << "goods"
                                                   << "Ошибка: Не выбран товар/категория!";
    QTest::newRow("51 split") << "split51"
                              << "Информация: Максимально допустимое кол-во "
                                 "товаров/категорий для анализа - 50!";
    QTest::newRow("print before any build") << "print"
                                            << "Информация: Нет данных для выборки!";
}

void TestGoodsStat::refusedBuild() {
    QFETCH(QString, setUp);
    QFETCH(QString, message);
    TfmTovarStat* window = openWindow();
    if (setUp == QLatin1String("period"))
        window->dtpDateTo->setDateTime(window->dtpDateFrom->dateTime());
    else if (setUp == QLatin1String("none"))
        checkLines({});
    else if (setUp == QLatin1String("goods"))
        window->rbtGoodsName->click();
    else if (setUp == QLatin1String("split51"))
        checkLines(listed(window->clbTovarList).filter(QStringLiteral("Я")));
    window->chbMultiGraph->setChecked(true);
    (setUp == QLatin1String("print") ? window->bbtPrint : window->bbtGo)->click();
    QCOMPARE(m_env->boxes.size(), 1);
    QCOMPARE(text(m_env->boxes[0]), message);
    QVERIFY(window->Extractor()->Suspended());
}

void TestGoodsStat::build_data() {
    QTest::addColumn<QStringList>("checked");
    QTest::addColumn<bool>("split");
    QTest::addColumn<int>("seriesCount");
    QTest::addColumn<QList<double>>("first");
    QTest::newRow("50 split, one line each") << QStringList{"Напитки"} + [] {
        QStringList names;
        for (int id = 100; id < 149; ++id)
            names << QStringLiteral("Я%1").arg(id);
        return names;
    }() << true << 50 << QList<double>{580, 0};
    QTest::newRow("51 and more as one line")
        << QStringList{} << false << 1 << QList<double>{660, 0};
    QTest::newRow("an unchecked line is left out")
        << QStringList{"Напитки"} << false << 1 << QList<double>{580, 0};
}

void TestGoodsStat::build() {
    QFETCH(QStringList, checked);
    QFETCH(bool, split);
    QFETCH(int, seriesCount);
    QFETCH(QList<double>, first);
    TfmTovarStat* window = openWindow();
    if (!checked.isEmpty())
        checkLines(checked);
    window->cbDim->setCurrentIndex(2);
    window->chbMultiGraph->setChecked(split);
    window->bbtGo->click();
    QVERIFY(QTest::qWaitFor([&] { return window->Extractor()->Suspended(); }, 20000));
    QVERIFY(QTest::qWaitFor([&] { return window->isEnabled(); }, 5000));
    QCOMPARE(m_env->boxes.size(), 0);
    const ChartModel* chart = window->Chart();
    QCOMPARE(chart->seriesCount(), seriesCount);
    QList<double> values;
    for (const ChartPoint& point : chart->series(0)->points())
        values << std::round(point.y * 100) / 100;
    QCOMPARE(values, first);
    QCOMPARE(chart->series(0)->title(), split ? checked[0] : QString());
    if (split)
        QCOMPARE(chart->series(49)->title(), checked[49]);
    QCOMPARE(window->RecordCountLabel->text(), QStringLiteral("2"));
}

QTEST_MAIN(TestGoodsStat)
#include "tst_goodsstat.moc"
