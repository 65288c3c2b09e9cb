#include "common/StationFixture.h"
#include "common/WindowTestSupport.h"

#include "platform/core/DateTime.h"
#include "plugin/DmStatistic.h"
#include "windows/SmenaList.h"

#include <QCheckBox>
#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

#include <memory>

namespace {

TDateTime at(int day, int hour) {
    return encodeDateTime(2009, 8, day, hour);
}

} // namespace

// The shift list over the station's shifts 5, 11, 110, 116, 117, 119 and 120, the last still open.
class TestSmenaList : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { CreateDmStatistic(); }
    void cleanupTestCase() { FreeDmStatistic(); }
    void init() {
        m_smFrom = m_smTo = -1;
        m_periodFrom = m_periodTo = -1;
        m_station = std::make_unique<StationFixture>();
        QVERIFY2(m_station->isValid(), qPrintable(m_station->error()));
        dmStatistic->FuelDbPath = m_station->fuelFolder();
        dmStatistic->cdsSmSilo.open();
        SmenaListFrm = new TSmenaListFrm;
    }
    void cleanup() {
        delete SmenaListFrm.data();
        dmStatistic->CloseAllData();
    }

    void numberColours_data() {
        QTest::addColumn<QString>("kept"); // the shifts left in the list
        QTest::addColumn<QList<int>>("red");
        QTest::newRow("120, 119, 117, 116: only 119") << "SmNum >= 116" << QList<int>{119};
        QTest::newRow("the station: every gap, never the lowest")
            << "1 = 1" << QList<int>{119, 116, 110, 11};
        QTest::newRow("one shift") << "SmNum = 120" << QList<int>{};
    }
    void numberColours() {
        QFETCH(QString, kept);
        QFETCH(QList<int>, red);
        dmStatistic->CloseAllData();
        QVERIFY(m_station->exec(m_station->fuelFile(), {"DELETE FROM SmSilo WHERE NOT " + kept}));
        dmStatistic->cdsSmSilo.open();
        QList<int> painted;
        QList<int> listed;
        select([&](TSmenaListFrm* form) {
            const QImage image = form->DBGrid1->viewport()->grab().toImage();
            const QAbstractItemModel* model = form->DBGrid1->model();
            const auto probe = [&](int row, int column) {
                // Numbers are right-aligned: the left edge of the cell shows its background.
                const QRect cell = form->DBGrid1->visualRect(model->index(row, column));
                return image.pixelColor(QPoint(cell.left() + 3, cell.center().y()) *
                                        image.devicePixelRatio()) == QColor(255, 0, 0);
            };
            for (int row = 0; row < model->rowCount(); ++row) {
                listed << model->index(row, 0).data(Qt::EditRole).toInt();
                if (probe(row, 0))
                    painted << listed.last();
                QVERIFY(!probe(row, 1)); // any other column of the row stays plain
            }
            form->reject();
        });
        QVERIFY2(std::is_sorted(listed.rbegin(), listed.rend()), "Смены идут не от новой к старой");
        QCOMPARE(painted, red);
        QVERIFY2(!SmenaListFrm->cloneCursor().active(), "Копия курсора осталась открытой");
        QVERIFY2(SmenaListFrm->DBGrid1->model() != &dmStatistic->dsSmSilo, "Сетка не отключена");
    }

    void selection_data() {
        QTest::addColumn<QList<int>>("clicked");
        QTest::addColumn<QString>("close");
        QTest::addColumn<QList<int>>("numbers"); // -1: the caller's values kept
        QTest::addColumn<QList<TDateTime>>("period");
        QTest::newRow("one shift") << QList<int>{116} << "ok" << QList<int>{116, 116}
                                   << QList<TDateTime>{at(23, 8), at(23, 20)};
        QTest::newRow("117 and 120 by Ctrl, 120 open")
            << QList<int>{117, 120} << "ok" << QList<int>{117, 120}
            << QList<TDateTime>{at(23, 20), at(25, 8)};
        QTest::newRow("116 to 119") << QList<int>{116, 117, 119} << "ok" << QList<int>{116, 119}
                                    << QList<TDateTime>{at(23, 8), at(25, 8)};
        QTest::newRow("the open shift alone has no end")
            << QList<int>{120} << "ok" << QList<int>{120, 120} << QList<TDateTime>{at(25, 8), 0.0};
        QTest::newRow("double click") << QList<int>{110} << "double click" << QList<int>{110, 110}
                                      << QList<TDateTime>{at(20, 8), at(20, 20)};
        QTest::newRow("double click below the rows: the current row")
            << QList<int>{110} << "double click below" << QList<int>{110, 110}
            << QList<TDateTime>{at(20, 8), at(20, 20)};
        QTest::newRow("cancel") << QList<int>{116} << "cancel" << QList<int>{-1, -1}
                                << QList<TDateTime>{-1.0, -1.0};
        QTest::newRow("Esc cancels")
            << QList<int>{116} << "esc" << QList<int>{-1, -1} << QList<TDateTime>{-1.0, -1.0};
        QTest::newRow("F4 has no visible current-shift button")
            << QList<int>{116} << "f4" << QList<int>{-1, -1} << QList<TDateTime>{-1.0, -1.0};
    }
    void selection() {
        QFETCH(QList<int>, clicked);
        QFETCH(QString, close);
        QFETCH(QList<int>, numbers);
        QFETCH(QList<TDateTime>, period);
        const bool chosen = select([&](TSmenaListFrm* form) {
            QItemSelectionModel* selection = form->DBGrid1->selectionModel();
            selection->clearSelection();
            for (int number : clicked)
                selection->setCurrentIndex(rowOf(form, number),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
            if (close == "ok") {
                form->BitBtn1->click();
            } else if (close == "cancel") {
                form->BitBtn2->click();
            } else if (close == "esc") {
                QTest::keyClick(form->DBGrid1, Qt::Key_Escape);
            } else if (close.startsWith("double click")) {
                QWidget* grid = form->DBGrid1->viewport();
                const bool below = close.endsWith("below");
                const QPoint at =
                    below ? QPoint(5, grid->height() - 3)
                          : form->DBGrid1->visualRect(rowOf(form, clicked.first())).center();
                QVERIFY(form->DBGrid1->indexAt(at).isValid() == !below);
                QTest::mouseDClick(grid, Qt::LeftButton, {}, at);
            } else {
                QTest::keyClick(form->DBGrid1, Qt::Key_F4);
                QVERIFY(form->isVisible());
                form->reject();
            }
        });
        QCOMPARE(chosen, numbers[0] != -1);
        QCOMPARE(QList<int>({m_smFrom, m_smTo}), numbers);
        QCOMPARE(toQDateTime(m_periodFrom), toQDateTime(period[0]));
        QCOMPARE(toQDateTime(m_periodTo), toQDateTime(period[1]));
    }

    void quickSearch_data() {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QList<int>>("found");
        QTest::newRow("1, 1, 7 within a second") << QStringList{"117"} << QList<int>{117};
        QTest::newRow("1, a pause, 7") << QStringList{"1", "7"} << QList<int>{120, 120};
        QTest::newRow("11 finds the newest shift starting so")
            << QStringList{"11"} << QList<int>{119};
        QTest::newRow("a number nobody has leaves the row") << QStringList{"9"} << QList<int>{5};
    }
    void quickSearch() {
        QFETCH(QStringList, typed);
        // The grid as SelectSmena wires it, shown without a modal loop so that the test can wait.
        TSmenaListFrm* form = SmenaListFrm;
        form->DBGrid1->setModel(&dmStatistic->dsSmSilo);
        form->show();
        form->DBGrid1->setCurrentIndex(rowOf(form, 5));
        QList<int> rows;
        for (const QString& digits : typed) {
            for (const QChar digit : digits) {
                QTest::keyClick(form->DBGrid1, digit.toLatin1());
                QTest::qWait(200);
            }
            QCOMPARE(form->searchText(), digits);
            // Nothing moves until a second after the last digit.
            QCOMPARE(currentNumber(form), rows.isEmpty() ? 5 : rows.last());
            QTRY_VERIFY_WITH_TIMEOUT(form->searchText().isEmpty(), 1500);
            rows << currentNumber(form);
        }
        QTEST(rows, "found");
        form->hide();
    }

    void helpPanelAndPlacement() {
        TSmenaListFrm* form = SmenaListFrm;
        QVERIFY(form->panSelectSmenaInfo->height() <= form->CheckBox1->sizeHint().height() + 1);
        QVERIFY(!form->Memo1->isVisibleTo(form));
        QCOMPARE(form->Memo1->toPlainText(), SmenaHelpLines().join(QLatin1Char(' ')));
        form->CheckBox1->click();
        QCOMPARE(form->panSelectSmenaInfo->height(), 170);
        QCOMPARE(form->Memo1->height(), 145);
        form->CheckBox1->click();
        QVERIFY(form->panSelectSmenaInfo->height() < 30);

        const QRect placed(40, 50, 600, 480);
        select([&](TSmenaListFrm* shown) {
            shown->setGeometry(placed);
            shown->reject();
        });
        delete SmenaListFrm.data();
        SmenaListFrm = new TSmenaListFrm;
        QCOMPARE(SmenaListFrm->geometry(), placed);
    }

private:
    bool select(const std::function<void(TSmenaListFrm*)>& act) {
        whenModalShown<TSmenaListFrm>(act);
        return SelectSmena(m_smFrom, m_smTo, m_periodFrom, m_periodTo, &dmStatistic->cdsSmSilo,
                           &dmStatistic->dsSmSilo);
    }
    static QModelIndex rowOf(TSmenaListFrm* form, int number) {
        const QAbstractItemModel* model = form->DBGrid1->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->index(row, 0).data(Qt::EditRole).toInt() == number)
                return model->index(row, 0);
        }
        return QModelIndex();
    }
    static int currentNumber(TSmenaListFrm* form) {
        return form->DBGrid1->currentIndex().siblingAtColumn(0).data(Qt::EditRole).toInt();
    }

    WindowTestEnvironment m_env;
    std::unique_ptr<StationFixture> m_station;
    int m_smFrom = -1;
    int m_smTo = -1;
    TDateTime m_periodFrom = -1;
    TDateTime m_periodTo = -1;
};

QTEST_MAIN(TestSmenaList)
#include "tst_smenalist.moc"
