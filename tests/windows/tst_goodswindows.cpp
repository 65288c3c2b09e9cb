#include "common/CaptionFit.h"
#include "common/CompareCase.h"
#include "common/Errors.h"
#include "common/StationFixture.h"
#include "common/WindowTestSupport.h"

#include "extraction/FoodExtractor.h"
#include "platform/chart/ChartModel.h"
#include "plugin/DmStatistic.h"
#include "windows/GoodsList.h"
#include "windows/TovarStat.h"

#include <QtTest>

#include <memory>

namespace {

QStringList lineTexts(const QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

} // namespace

// The goods selector and the goods statistics window over the small hand-built station, on
// whichever server the fixture chose, with a category of goods A, B, C, a second "Вода" and 51
// more categories.
class TestGoodsWindows : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(useStation(m_station), qPrintable(m_station.error()));
        QStringList more{
            QStringLiteral("INSERT INTO Category (ID_Category, Name) VALUES (5, 'Буквы'), "
                           "(6, 'Скидка %2')"),
            QStringLiteral("INSERT INTO Goods (ID_Goods, ID_Category, Name) VALUES "
                           "(20, 5, 'A'), (21, 5, 'B'), (22, 5, 'C'), (23, 2, 'Вода'), "
                           "(24, 6, 'D')")};
        for (int id = 100; id <= 150; ++id)
            more << QStringLiteral("INSERT INTO Category (ID_Category, Name) VALUES (%1, 'Я%1')")
                        .arg(id);
        QVERIFY2(m_station.exec(m_station.goodsFile(), more), qPrintable(m_station.error()));
    }
    void init() {
        m_env.freshCase();
        attachToStation(m_dm, m_station);
    }
    void cleanup() {
        m_list.reset();
        m_goodsWindow.reset();
        m_dm.CloseAllData();
    }

    void namesIndexChecked() {
        TGoodsNamesClass names;
        QCOMPARE(names.AddCategory(7, QStringLiteral("Чай")), 0);
        QCOMPARE(names.AddGoods(0, 70, QStringLiteral("Чай чёрный")), 0);
        QCOMPARE(names.IndexOfCategory(7), 0);
        QCOMPARE(names.IndexOfCategory(8), -1);
        for (int index : {1, -1})
            QCOMPARE(errorOf<EListError>([&] { names.GetGoodsList(index); }),
                     QStringLiteral("Элемента списка с номером %1 не существует!").arg(index));
    }

    void goodsMode_data() {
        QTest::addColumn<TQueryItems>("picked");
        QTest::addColumn<QStringList>("clicks"); // "+name" checks the node, "-name" clears it
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("counter");
        QTest::addColumn<QString>("category");
        QTest::newRow("a category picks its goods in order")
            << TQueryItems{} << QStringList{"+Буквы"} << QStringList{"A", "B", "C"} << "Буквы (3/3)"
            << "Буквы";
        QTest::newRow("unchecking B") << TQueryItems{} << QStringList{"+Буквы", "-B"}
                                      << QStringList{"A", "C"} << "Буквы (2/3)"
                                      << "Буквы";
        QTest::newRow("a goods item picked before is not added twice")
            << TQueryItems{{"B", 21}} << QStringList{"+Буквы"} << QStringList{"B", "A", "C"}
            << "Буквы (3/3)"
            << "Буквы";
        QTest::newRow("pre-checked by name")
            << TQueryItems{{"C", 22}} << QStringList{} << QStringList{"C"} << "Буквы (1/3)"
            << "Буквы";
        QTest::newRow("a marker in the name stays text")
            << TQueryItems{} << QStringList{"+Скидка %2"} << QStringList{"D"} << "Скидка %2 (1/1)"
            << "Скидка %2";
    }
    void goodsMode() {
        QFETCH(QStringList, clicks);
        QFETCH(QStringList, list);
        QFETCH(TQueryItems, picked);
        QFETCH(QString, category);
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
        QCOMPARE(lineTexts(window->ListBox1), list);
        QCOMPARE(window->SelectedIds().size(), list.size());
        QCOMPARE(window->lbCount->text(), GoodsCountText(int(list.size())));
        const QTreeWidgetItem* node =
            window->TreeView1->findItems(category, Qt::MatchExactly).value(0);
        QVERIFY(node);
        const QPair<int, int> shown = window->CategoryCounter(node);
        QTEST(CategoryCounterText(node->text(0), shown.first, shown.second), "counter");
        for (int i = 0; i < node->childCount(); ++i)
            QCOMPARE(node->child(i)->checkState(0) == Qt::Checked,
                     list.contains(node->child(i)->text(0)));
        // Rows without a name never become nodes.
        QVERIFY(window->TreeView1->findItems(QString(), Qt::MatchExactly | Qt::MatchRecursive)
                    .isEmpty());
    }

    void selectAllAndBack() {
        TfmGoodsList* window = loaded(true);
        QVERIFY(!window->bbtSelectAll->isHidden());
        window->bbtSelectAll->click();
        QCOMPARE(window->bbtSelectAll->text(), QStringLiteral("Сбросить все"));
        QStringList tree;
        for (int i = 0; i < window->TreeView1->topLevelItemCount(); ++i)
            tree << window->TreeView1->topLevelItem(i)->text(0);
        QCOMPARE(lineTexts(window->ListBox1), tree);
        window->bbtSelectAll->click();
        QCOMPARE(window->bbtSelectAll->text(), QStringLiteral("Выбрать все"));
        QCOMPARE(window->ListBox1->count(), 0);
        QVERIFY(window->SelectedIds().isEmpty());
    }

    void listDelete_data() {
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
    void listDelete() {
        QFETCH(int, row);
        QFETCH(QStringList, left);
        QFETCH(TQueryItems, picked);
        TfmGoodsList* window = loaded(false, picked);
        window->ListBox1->setCurrentRow(row);
        QTest::keyClick(window->ListBox1, Qt::Key_Delete);
        QCOMPARE(lineTexts(window->ListBox1), left);
        QTEST(window->ListBox1->currentRow(), "current");
        QCOMPARE(window->lbCount->text(), GoodsCountText(int(left.size())));
        QList<int> checked;
        for (QTreeWidgetItemIterator it(window->TreeView1, QTreeWidgetItemIterator::Checked); *it;
             ++it)
            checked << (*it)->data(0, TfmGoodsList::IdRole).toInt();
        QTEST(checked, "checkedIds");
    }

    void selectGoods_data() {
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<TQueryItems>("items");
        const TQueryItems before{{"Снеки", 2}};
        QTest::newRow("OK takes the picks")
            << true << true << TQueryItems{{"Снеки", 2}, {"Буквы", 5}};
        QTest::newRow("Cancel keeps the caller's selection") << true << false << before;
        QTest::newRow("server unreachable") << false << true << before;
    }
    void selectGoods() {
        QFETCH(bool, reachable);
        QFETCH(bool, ok);
        QFETCH(TQueryItems, items);
        // Without a server the selector never shows: nothing may wait for it into the next case.
        if (!reachable)
            m_dm.GoodsDbPath = m_station.root() + QStringLiteral("/нет такой папки");
        else
            whenModalShown<TfmGoodsList>([&](TfmGoodsList* window) {
                window->TreeView1->findItems(QStringLiteral("Буквы"), Qt::MatchExactly)
                    .value(0)
                    ->setCheckState(0, Qt::Checked);
                ok ? window->accept() : window->reject();
            });
        TQueryItems selection{{"Снеки", 2}};
        QCOMPARE(SelectGoods(true, selection, m_dm.cdsCategory, m_dm.cdsGoods), reachable && ok);
        QCOMPARE(selection.size(), items.size());
        for (int i = 0; i < items.size(); ++i)
            QVERIFY(selection[i].Name == items[i].Name && selection[i].Id == items[i].Id);
        QVERIFY2(!fmGoodsList, "Окно выбора не освобождено");
        QVERIFY(m_env.boxes.isEmpty());
    }

    void firstShow() {
        TfmTovarStat* window = openWindow();
        QCOMPARE(
            window->windowTitle(),
            QStringLiteral("Статистика по товарам [База: %1]").arg(m_station.goodsParameter()));
        QVERIFY(window->Extractor() && window->Extractor()->Suspended());
        QVERIFY(window->rbtCateg->isChecked());
        // Every category row, the one without a name too, all checked.
        QCOMPARE(window->clbTovarList->count(), 6 + 51);
        QCOMPARE(window->GoodsItems().size(), 6 + 51);
        for (int i = 0; i < window->clbTovarList->count(); ++i)
            QCOMPARE(window->clbTovarList->item(i)->checkState(), Qt::Checked);
        QVERIFY(!m_dm.DCOMConnection1.connected());

        window->rbtGoodsName->click();
        QCOMPARE(window->clbTovarList->count(), 0);
        window->rbtCateg->click();
        QCOMPARE(window->clbTovarList->count(), 6 + 51);

        // The selector starts with the checked lines only.
        checkLines(window->clbTovarList, {QStringLiteral("Снеки"), QStringLiteral("Буквы")});
        QStringList offered;
        whenModalShown<TfmGoodsList>([&](TfmGoodsList* selector) {
            offered = lineTexts(selector->ListBox1);
            selector->reject();
        });
        window->bbtChoose->click();
        QCOMPARE(offered, (QStringList{"Снеки", "Буквы"}));
        QCOMPARE(window->clbTovarList->count(), 6 + 51);
    }

    void refusedBuild_data() {
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<QString>("message");
        const QString none = QStringLiteral("Ошибка: Не выбран товар/категория!");
        QTest::newRow("start equal to the end") << "period"
                                                << "Ошибка: Задан неверный период выборки!";
        QTest::newRow("nothing checked") << "none" << none;
        QTest::newRow("goods mode with an empty list") << "goods" << none;
        QTest::newRow("51 split") << "split51"
                                  << "Информация: Максимально допустимое кол-во "
                                     "товаров/категорий для анализа - 50!";
    }
    void refusedBuild() {
        QFETCH(QString, setUp);
        TfmTovarStat* window = openWindow();
        if (setUp == QLatin1String("period"))
            window->dtpDateTo->setDateTime(window->dtpDateFrom->dateTime());
        else if (setUp == QLatin1String("none"))
            checkLines(window->clbTovarList, {});
        else if (setUp == QLatin1String("goods"))
            window->rbtGoodsName->click();
        else if (setUp == QLatin1String("split51"))
            checkLines(window->clbTovarList,
                       lineTexts(window->clbTovarList).filter(QStringLiteral("Я")));
        window->chbMultiGraph->setChecked(true);
        window->bbtGo->click();
        QCOMPARE(m_env.boxes.size(), 1);
        QTEST(m_env.boxes[0].caption + QStringLiteral(": ") + m_env.boxes[0].text, "message");
        QVERIFY(window->Extractor()->Suspended());
    }

    void goodsBuild_data() {
        QTest::addColumn<QStringList>("checked"); // none: every line as the window starts
        QTest::addColumn<bool>("split");
        QTest::addColumn<int>("seriesCount");
        QTest::addColumn<QList<double>>("first");
        QStringList fifty{"Напитки"};
        for (int id = 100; id < 149; ++id)
            fifty << QStringLiteral("Я%1").arg(id);
        QTest::newRow("50 split, one line each") << fifty << true << 50 << QList<double>{580, 0};
        QTest::newRow("51 and more as one line")
            << QStringList{} << false << 1 << QList<double>{660, 0};
        QTest::newRow("an unchecked line is left out")
            << QStringList{"Напитки"} << false << 1 << QList<double>{580, 0};
    }
    void goodsBuild() {
        QFETCH(QStringList, checked);
        QFETCH(bool, split);
        TfmTovarStat* window = openWindow();
        if (!checked.isEmpty())
            checkLines(window->clbTovarList, checked);
        window->cbDim->setCurrentIndex(2);
        window->chbMultiGraph->setChecked(split);
        window->bbtGo->click();
        QVERIFY(runFinished(window, 20000));
        QCOMPARE(m_env.boxes.size(), 0);
        const ChartModel* chart = window->Chart();
        QTEST(chart->seriesCount(), "seriesCount");
        QTEST(centValues(chart->series(0)), "first");
        QCOMPARE(chart->series(0)->title(), split ? checked[0] : QString());
        if (split)
            QCOMPARE(chart->series(49)->title(), checked[49]);
        QCOMPARE(window->RecordCountLabel->text(), QStringLiteral("2"));
    }

    // The comparison of the shared frame, through the goods window: every line as the window
    // starts, summed.
    void compare_data() {
        QTest::addColumn<QList<double>>("earlier"); // the 24th in 6-hour steps
        QTest::newRow("goods") << QList<double>{180, 0, 120, 360, 0};
    }
    void compare() {
        compareCase(
            m_env, openWindow(), [] {}, [this] { return openWindow(); });
    }

    // Every caption whole in Debian's fonts, at each window's smallest size: the windows were
    // drawn for an 8-point Windows font, and a wider one cuts what was measured for it.
    void captionsWhole_data() {
        QTest::addColumn<QString>("window");
        for (const char* window : {"goods window", "goods selector"})
            QTest::newRow(window) << QString::fromLatin1(window);
    }
    void captionsWhole() {
        QFETCH(QString, window);
        CaptionFit::Survey measure;
        if (window == "goods window") {
            measure(openWindow());
        } else {
            whenModalShown<TfmGoodsList>([&](TfmGoodsList* selector) {
                measure(selector);
                selector->reject();
            });
            TQueryItems selection;
            SelectGoods(true, selection, m_dm.cdsCategory, m_dm.cdsGoods);
        }
        QVERIFY2(m_env.boxes.isEmpty(), qPrintable(m_env.boxes.value(0).text));
        QVERIFY2(measure.report().isEmpty(), qPrintable(measure.report()));
    }

private:
    TfmGoodsList* loaded(bool byCategory, const TQueryItems& picked = {}) {
        m_list = std::make_unique<TfmGoodsList>();
        m_list->Load(byCategory, picked, m_dm.cdsCategory, m_dm.cdsGoods);
        return m_list.get();
    }
    TfmTovarStat* openWindow() {
        m_goodsWindow = std::make_unique<TfmTovarStat>(m_dm);
        m_goodsWindow->show();
        m_goodsWindow->dtpDateFrom->setDate(QDate(2009, 8, 24));
        m_goodsWindow->dtpDateTo->setDate(QDate(2009, 8, 25));
        return m_goodsWindow.get();
    }

    WindowTestEnvironment m_env;
    StationFixture m_station;
    // The windows' own data module, declared before them: it outlives every window.
    TdmStatistic m_dm;
    std::unique_ptr<TfmGoodsList> m_list;
    std::unique_ptr<TfmTovarStat> m_goodsWindow;
};

QTEST_MAIN(TestGoodsWindows)
#include "tst_goodswindows.moc"
