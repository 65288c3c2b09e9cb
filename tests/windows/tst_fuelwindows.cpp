#include "common/CaptionFit.h"
#include "common/CompareCase.h"
#include "common/Errors.h"
#include "common/StationFixture.h"
#include "common/WindowTestSupport.h"

#include "extraction/ChainExtractor.h"
#include "extraction/GSMExtractor.h"
#include "extraction/Progress.h"
#include "extraction/StatReport.h"
#include "platform/chart/ChartModel.h"
#include "platform/chart/ChartPalette.h"
#include "platform/chart/ChartView.h"
#include "platform/core/CodePage1251.h"
#include "platform/core/DateTime.h"
#include "plugin/DmStatistic.h"
#include "windows/ChainStat.h"
#include "windows/ChartPager.h"
#include "windows/GSMStat.h"
#include "windows/SmenaList.h"
#include "windows/StatWindowInput.h"
#include "windows/Value.h"

#include "common/TestFiles.h"

#include <QAction>
#include <QtTest>

#include <memory>

namespace {

QDateTime utc(int day, int hour = 0) {
    return QDateTime(QDate(2009, 8, day), QTime(hour, 0), Qt::UTC);
}

const QString kFirstTitleLine = QStringLiteral("Время - Литры c 24.08.2009 по 25.08.2009");

TDateTime at(int day, int hour) {
    return encodeDateTime(2009, 8, day, hour);
}

} // namespace

// The fuel statistics window over the small hand-built station, on whichever server the fixture
// chose: its paging, zoom, marks and point value window driven through its own controls, and the
// shift list of both windows, which shows the station's shifts 5, 11, 110, 116, 117, 119 and 120,
// the last still open.
class TestFuelWindows : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(useStation(m_station), qPrintable(m_station.error())); }
    void init() {
        m_env.freshCase();
        attachToStation(m_dm, m_station);
    }
    void cleanup() {
        m_window.reset();
        m_chain.reset();
        delete SmenaListFrm.data();
        m_dm.CloseAllData();
    }

    void firstShowLoadsGrades() {
        TfmGSMStat* window = open();
        QVERIFY2(window->Extractor(), "Построитель статистики не создан");
        QVERIFY(m_env.boxes.isEmpty());
        QCOMPARE(window->GradeColors().size(), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(window->GradeColors()[i].Name, window->CheckListBox1->item(i)->text());
            QCOMPARE(window->GradeColors()[i].Color, 0x01000000u + quint32(19 - i));
            QCOMPARE(window->CheckListBox1->item(i)->checkState(), Qt::Unchecked);
        }
        QVERIFY2(!m_dm.DCOMConnection1.connected(), "Соединение осталось открытым");
        QCOMPARE(window->Chart()->seriesCount(), 8);
        window->bbtPrint->click();
        QCOMPARE(m_env.boxes.size(), 1);
        QCOMPARE(m_env.boxes[0].caption, QStringLiteral("Информация"));
        QCOMPARE(m_env.boxes[0].text, QStringLiteral("Нет данных для выборки!"));
        QCOMPARE(m_env.boxes[0].icon, MessageBoxes::Icon::Information);

        window->CheckListBox1->item(1)->setCheckState(Qt::Checked);
        for (const Qt::CheckState state : {Qt::Checked, Qt::Unchecked, Qt::Checked}) {
            window->bbtSelectAll->click();
            QCOMPARE(window->bbtSelectAll->text(),
                     state == Qt::Checked ? QStringLiteral("Сбросить все") : "Выбрать все");
            for (int i = 0; i < window->CheckListBox1->count(); ++i)
                QCOMPARE(window->CheckListBox1->item(i)->checkState(), state);
        }
    }

    void gradeListUnavailable() {
        m_dm.FuelDbPath = m_station.root() + QStringLiteral("/нет такой папки");
        TfmGSMStat* window = open();
        QCOMPARE(m_env.boxes.size(), 1);
        QCOMPARE(m_env.boxes[0].caption, QStringLiteral("Ошибка"));
        QVERIFY(!window->Extractor());
        QCOMPARE(window->CheckListBox1->count(), 0);
        QVERIFY(window->isVisible());
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(!m_dm.DCOMConnection1.connected());
        setPeriod(utc(24), utc(25));
        window->bbtGo->click();
        QCOMPARE(m_env.boxes.size(), 2);
        QCOMPARE(m_env.boxes[1].text, QStringLiteral("Не указан вид топлива!"));
    }

    void refusedRun_data() {
        QTest::addColumn<QDateTime>("from"); // none: the designed period, start equal to the end
        QTest::addColumn<QDateTime>("to");
        QTest::addColumn<QStringList>("grades");
        QTest::addColumn<QString>("message");
        const QString period = QStringLiteral("Задан неверный период выборки!");
        QTest::newRow("the designed period")
            << QDateTime() << QDateTime() << QStringList{"ДТ"} << period;
        QTest::newRow("start after the end") << utc(25) << utc(24) << QStringList{"ДТ"} << period;
        QTest::newRow("no grade") << utc(24) << utc(25) << QStringList{}
                                  << QStringLiteral("Не указан вид топлива!");
    }
    void refusedRun() {
        QFETCH(QDateTime, from);
        QFETCH(QDateTime, to);
        QFETCH(QStringList, grades);
        TfmGSMStat* window = open();
        if (from.isValid())
            setPeriod(from, to);
        check(grades);
        window->bbtGo->click();
        QCOMPARE(m_env.boxes.size(), 1);
        QCOMPARE(m_env.boxes[0].caption, QStringLiteral("Ошибка"));
        QCOMPARE(m_env.boxes[0].icon, MessageBoxes::Icon::Warning);
        QTEST(m_env.boxes[0].text, "message");
        QVERIFY2(window->Extractor()->Suspended(), "Выборка запущена несмотря на ошибку");
        QCOMPARE(window->Chart()->series(0)->count(), 0);
    }

    void schemaEnablesLitreBoxes_data() {
        QTest::addColumn<int>("schema");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("Время - Заправок") << 2 << true;
        QTest::newRow("Время - Суммы") << 1 << false;
        QTest::newRow("back to Время - Литры") << 0 << false;
    }
    void schemaEnablesLitreBoxes() {
        QFETCH(int, schema);
        QFETCH(bool, enabled);
        m_window = std::make_unique<TfmGSMStat>(m_dm);
        TfmGSMStat* window = m_window.get();
        QVERIFY(!window->cbLiter_Low->isEnabled());
        window->cbSchema->setCurrentIndex(schema == 2 ? 1 : 2);
        window->cbLiter_Low->setCurrentIndex(3);
        window->cbLiter_Hi->setCurrentIndex(4);
        window->cbSchema->setCurrentIndex(schema);
        QCOMPARE(window->cbLiter_Low->isEnabled(), enabled);
        QCOMPARE(window->cbLiter_Hi->isEnabled(), enabled);
        QCOMPARE(window->cbLiter_Low->currentText() + window->cbLiter_Hi->currentText(), "0Нет");
        // A schema typed by hand is none of the three: no litre range.
        window->cbSchema->setEditText(QStringLiteral("Время - Заправок?"));
        QVERIFY(!window->cbLiter_Low->isEnabled());
    }

    void build_data() {
        QTest::addColumn<int>("schema");
        QTest::addColumn<int>("multiplier");
        QTest::addColumn<int>("unit");
        QTest::addColumn<QStringList>("grades");
        QTest::addColumn<bool>("split");
        QTest::addColumn<bool>("storedLitres"); // 10 to 50 from the last session
        QTest::addColumn<QList<QList<double>>>("series");
        QTest::addColumn<QString>("maxLabel");
        const QStringList all{"АИ-92", "АИ-95", "ДТ", "АИ-95 'Премиум'"};
        QTest::newRow("litre bounds restored from the last session still filter")
            << 0 << 0 << 2 << all << false << true << QList<QList<double>>{{134.99, 0}}
            << "134,99  ";
        QTest::newRow("fillings in 6-hour steps")
            << 2 << 5 << 1 << all << false << false << QList<QList<double>>{{1, 4, 1, 1, 0}}
            << "4,00  ";
        QTest::newRow("money per grade")
            << 1 << 0 << 2 << QStringList{"АИ-92", "ДТ"} << true << false
            << QList<QList<double>>{{799.9, 0}, {610, 0}} << "799,90  АИ-92";
    }
    void build() {
        QFETCH(int, schema);
        QFETCH(QStringList, grades);
        QFETCH(bool, split);
        QFETCH(bool, storedLitres);
        QFETCH(QList<QList<double>>, series);
        if (storedLitres) {
            TRegistry registry;
            registry.writeValue("fmGSMStat", "cbLiter_Low.ItemIndex", "2");
            registry.writeValue("fmGSMStat", "cbLiter_Hi.ItemIndex", "5");
        }
        TfmGSMStat* window = open();
        QVERIFY(window->Extractor());
        window->cbSchema->setCurrentIndex(schema);
        if (storedLitres)
            QCOMPARE(window->cbLiter_Low->currentText() + window->cbLiter_Hi->currentText(),
                     "1050");
        QFETCH(int, multiplier);
        QFETCH(int, unit);
        window->cbMult->setCurrentIndex(multiplier);
        window->cbDim->setCurrentIndex(unit);
        window->chbMultiGraph->setChecked(split);
        check(grades);
        setPeriod(utc(24), utc(25));
        window->bbtGo->click();
        QVERIFY(runFinished(window, 10000));
        QCOMPARE(m_env.boxes.size(), 0);

        const ChartModel* chart = window->Chart();
        for (int s = 0; s < series.size(); ++s) {
            QCOMPARE(centValues(chart->series(s)), series[s]);
            QCOMPARE(chart->series(s)->title(), split ? grades[s] : QString());
            if (split) {
                const int row = window->CheckListBox1->row(
                    window->CheckListBox1->findItems(grades[s], Qt::MatchExactly).first());
                QCOMPARE(chart->series(s)->color(), colorFromSystemValue(GradeColorValue(row)));
            }
        }
        QCOMPARE(window->RecordCountLabel->text(), QString::number(series[0].size()));
        QTEST(window->MaxValueLabel->text(), "maxLabel");
        QCOMPARE(chart->titleLines().value(1), QStringLiteral("Страница 1 из 1"));
        // With points on the chart the print button hands the report to the viewer.
        QString reportTitle;
        QByteArray report;
        SetReportViewerEntry([&](const QString&, const QByteArray& html, const QString& title) {
            reportTitle = title;
            report = html;
        });
        window->bbtPrint->click();
        SetReportViewerEntry({});
        QVERIFY(m_env.boxes.isEmpty());
        QCOMPARE(reportTitle, QStringLiteral("СТАТИСТИКА: Отчет по ГСМ"));
        QVERIFY(CodePage1251::decode(report).contains(window->MaxValueLabel->text() + "<br><br>"));
    }

    void shiftButton_data() {
        QTest::addColumn<QList<int>>("shifts");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("period");
        QTest::addColumn<QString>("shiftLabel");
        QTest::newRow("one shift")
            << QList<int>{116} << true << "23.08.2009 08:00:00 23.08.2009 20:00:00"
            << "Смена № 116";
        QTest::newRow("a range clears the labels")
            << QList<int>{110, 117} << true << "20.08.2009 08:00:00 24.08.2009 08:00:00"
            << " ";
        QTest::newRow("cancel changes nothing")
            << QList<int>{116} << false << "24.08.2009 06:00:00 25.08.2009 00:00:00"
            << "Смена № 5";
    }
    void shiftButton() {
        QFETCH(QList<int>, shifts);
        QFETCH(bool, ok);
        TfmGSMStat* window = open();
        setPeriod(utc(24, 6), utc(25));
        window->lbSmena->setText(QStringLiteral("Смена №"));
        window->lbSmenaNum->setText(QStringLiteral("5"));
        whenModalShown<TSmenaListFrm>([&](TSmenaListFrm* list) {
            const QAbstractItemModel* model = list->DBGrid1->model();
            list->DBGrid1->selectionModel()->clear();
            for (int row = 0; row < model->rowCount(); ++row) {
                if (shifts.contains(model->index(row, 0).data(Qt::EditRole).toInt()))
                    list->DBGrid1->selectionModel()->setCurrentIndex(model->index(row, 0),
                                                                     QItemSelectionModel::Select |
                                                                         QItemSelectionModel::Rows);
            }
            ok ? list->accept() : list->reject();
        });
        window->bbtSmena->click();
        const QString format = QStringLiteral("dd.MM.yyyy HH:mm:ss");
        QTEST(window->dtpDateFrom->dateTime().toString(format) + ' ' +
                  window->dtpDateTo->dateTime().toString(format),
              "period");
        QCOMPARE(window->dtpTimeFrom->time(), window->dtpDateFrom->time());
        QCOMPARE(window->dtpTimeTo->time(), window->dtpDateTo->time());
        QTEST(window->lbSmena->text() + ' ' + window->lbSmenaNum->text(), "shiftLabel");
        QVERIFY2(!SmenaListFrm, "Окно выбора смены не освобождено");
        QVERIFY(!m_dm.DCOMConnection1.connected());
        QVERIFY(m_env.boxes.isEmpty());
        // Any edit of the period afterwards means it is no longer the shift's.
        window->dtpTimeTo->setTime(QTime(23, 0));
        QCOMPARE(window->lbSmena->text() + window->lbSmenaNum->text(), QString());
        QCOMPARE(window->dtpDateTo->time(), QTime(23, 0));
    }

    void valuesKeptBetweenSessions() {
        TfmGSMStat* window = open();
        m_dm.cdsSmSilo.open();
        setPeriod(utc(20, 8), utc(24, 20));
        window->cbSchema->setCurrentIndex(2);
        window->cbLiter_Low->setCurrentIndex(3);
        window->cbLiter_Hi->setCurrentIndex(4);
        window->cbMult->setCurrentIndex(2);
        window->cbDim->setCurrentIndex(4);
        window->chbMultiGraph->setChecked(true);
        window->lbSmenaNum->setText(QStringLiteral("116"));
        window->SpinEdit1->setValue(60);
        window->chbShowLabels->setChecked(true);
        // Closed by Esc in a control added after the window was built that takes every key
        // itself: the window still sees Esc first.
        struct KeyEater : QWidget {
            using QWidget::QWidget;
            void keyPressEvent(QKeyEvent* event) override { event->accept(); }
        };
        auto* eater = new KeyEater(window->CheckListBox1);
        eater->setFocus();
        QTest::keyClick(eater, Qt::Key_Escape);
        QVERIFY2(!window->isVisible(), "Esc в элементе окна не закрыл окно");
        QVERIFY(!window->Extractor());
        QVERIFY(!m_dm.cdsSmSilo.active() && !m_dm.cdsGSM.active());
        QVERIFY(!m_dm.DCOMConnection1.connected());

        m_window = std::make_unique<TfmGSMStat>(m_dm);
        window = m_window.get();
        QCOMPARE(window->dtpDateFrom->dateTime(), utc(20, 8));
        QCOMPARE(window->dtpDateTo->dateTime(), utc(24, 20));
        QCOMPARE(window->dtpTimeFrom->time(), QTime(8, 0));
        QCOMPARE(window->dtpTimeTo->time(), QTime(20, 0));
        QCOMPARE(
            QList<int>({window->cbLiter_Low->currentIndex(), window->cbLiter_Hi->currentIndex(),
                        window->cbMult->currentIndex(), window->cbDim->currentIndex()}),
            QList<int>({3, 4, 2, 4}));
        QVERIFY(window->chbMultiGraph->isChecked());
        QCOMPARE(window->lbSmenaNum->text(), QStringLiteral("116"));
        // Not kept: the schema, the points per page and the labels check box.
        QCOMPARE(window->cbSchema->currentIndex(), 0);
        QCOMPARE(window->SpinEdit1->value(), 30);
        QVERIFY(!window->chbShowLabels->isChecked());
    }

    void literBoundText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("item, blanks around") << " 30 " << 30.0;
        QTest::newRow("Нет") << "Нет" << 0.0;
        QTest::newRow("fraction with a comma") << "12,5" << 12.5;
        QTest::newRow("a point is no separator here") << "12.5" << 0.0;
        QTest::newRow("infinity is no bound") << "inf" << 0.0;
    }
    void literBoundText() {
        QFETCH(QString, text);
        QTEST(LiterBoundFromText(text, QLatin1Char(',')), "value");
    }

    // Buttons pressed in turn; "SpinEdit1=n" and "TrackBar1=n" set those controls.
    void navigate_data() {
        QTest::addColumn<int>("points");
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("perPage");
        QTest::addColumn<int>("pageBarMaximum");
        QTest::newRow("100 points: the end is page 4")
            << 100 << QStringList{"sbtEnd"} << 4 << 30 << 4;
        QTest::newRow("forward stops on the last page")
            << 60 << QStringList{"sbtForward", "sbtForward", "sbtForward"} << 2 << 30 << 2;
        QTest::newRow("back stops on the first page")
            << 100 << QStringList{"sbtBack"} << 1 << 30 << 4;
        QTest::newRow("end, back, first")
            << 100 << QStringList{"sbtEnd", "sbtBack", "sbtBegin"} << 1 << 30 << 4;
        QTest::newRow("end, then back") << 100 << QStringList{"sbtEnd", "sbtBack"} << 3 << 30 << 4;
        QTest::newRow("an empty chart has its one page")
            << 0 << QStringList{"SpinEdit1=10"} << 1 << 10 << 1;
        QTest::newRow("halving 3 gives 2")
            << 100 << QStringList{"SpinEdit1=3", "sbtDiv2"} << 1 << 2 << 50;
        QTest::newRow("halving 45 rounds toward zero")
            << 100 << QStringList{"SpinEdit1=45", "sbtDiv2"} << 1 << 22 << 5;
        QTest::newRow("doubling 1000 stops at 1500")
            << 100 << QStringList{"SpinEdit1=1000", "sbtMult2"} << 1 << 1500 << 1;
        QTest::newRow("page bar") << 100 << QStringList{"TrackBar1=3"} << 3 << 30 << 4;
        // Paging undoes a zoom, the first-page button even on the page already shown.
        QTest::newRow("first page undoes a zoom")
            << 100 << QStringList{"zoom", "sbtBegin"} << 1 << 30 << 4;
        // Typed, and even reaching the handler, a value below the minimum changes nothing.
        QTest::newRow("1 per page is ignored") << 100 << QStringList{"typed=1"} << 1 << 30 << 4;
    }
    void navigate() {
        QFETCH(int, points);
        QFETCH(QStringList, actions);
        QFETCH(int, page);
        QFETCH(int, pageBarMaximum);
        fill(points);
        ChartModel* chart = m_window->Chart();
        for (const QString& action : actions) {
            const int value = action.section('=', 1).toInt();
            if (action.startsWith("SpinEdit1=")) {
                m_window->SpinEdit1->setValue(value);
            } else if (action.startsWith("TrackBar1=")) {
                m_window->TrackBar1->setValue(value);
            } else if (action.startsWith("typed=")) {
                m_window->SpinEdit1->setFocus();
                m_window->SpinEdit1->selectAll();
                QTest::keyClicks(m_window->SpinEdit1, QString::number(value));
                TChartPager(chart, m_window->TrackBar1, m_window->SpinEdit1)
                    .PointsPerPageChanged(value);
            } else if (action == "zoom") {
                chart->zoomIn(QRectF(chart->series(0)->point(2).x, 0, 0.2, 10));
                QVERIFY(chart->isZoomed());
            } else {
                m_window->findChild<QToolButton*>(action)->click();
            }
        }
        QVERIFY(!chart->isZoomed());
        QCOMPARE(chart->currentPage(), page);
        QTEST(chart->pointsPerPage(), "perPage");
        QTEST(m_window->SpinEdit1->value(), "perPage");
        QCOMPARE(chart->titleLines(),
                 QStringList({kFirstTitleLine, PageIndicatorText(page, pageBarMaximum)}));
        QCOMPARE(m_window->TrackBar1->value(), page);
        QCOMPARE(m_window->TrackBar1->maximum(), pageBarMaximum);
    }

    void showLabels() {
        fill(10);
        for (const bool shown : {true, false}) {
            m_window->chbShowLabels->click();
            QCOMPARE(m_window->chbShowLabels->isChecked(), shown);
            for (int i = 0; i < m_window->Chart()->seriesCount(); ++i)
                QCOMPARE(m_window->Chart()->series(i)->areMarksVisible(), shown);
        }
    }

    void buttonPlaces_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("left");
        QTest::addColumn<QList<int>>("lefts");
        QTest::addColumn<int>("buttonWidth");
        QTest::newRow("designed bar") << 725 << 1 << QList<int>{1, 181, 362, 543} << 181;
        QTest::newRow("narrow bar at 0") << 7 << 0 << QList<int>{0, 1, 3, 5} << 1;
    }
    void buttonPlaces() {
        QFETCH(int, width);
        QFETCH(int, left);
        QFETCH(QList<int>, lefts);
        QFETCH(int, buttonWidth);
        m_window = std::make_unique<TfmGSMStat>(m_dm);
        m_window->pnButtons->setGeometry(left, 600, width, 30);
        m_window->pnButtonsResize();
        const QList<QToolButton*> buttons{m_window->sbtBegin, m_window->sbtBack,
                                          m_window->sbtForward, m_window->sbtEnd};
        for (int i = 0; i < buttons.size(); ++i) {
            QCOMPARE(buttons[i]->x(), lefts[i]);
            QCOMPARE(buttons[i]->width(), buttonWidth);
        }
    }

    // A point's value window: its series, its date with the day's name as the suite spells it, its
    // value in the statistics' format; Esc closes and frees it.
    void valueWindow() {
        m_window = std::make_unique<TfmGSMStat>(m_dm);
        ChartModel* chart = m_window->Chart();
        chart->setLeftAxisTitle(QStringLiteral("Количество заправок"));
        const TDateTime sundayNoon = encodeDateTime(2009, 8, 23, 12);
        chart->series(1)->addPoint(sundayNoon - 1, 1);
        chart->series(1)->addPoint(sundayNoon, 123456789.0);
        chart->series(1)->setTitle(QStringLiteral("ДТ"));
        QStringList shown;
        bool closedByEsc = false;
        whenModalShown<TfmValue>([&](TfmValue* window) {
            shown << window->windowTitle() << window->lbName->text() << window->lbX->text()
                  << window->lbY->text() << window->lbXValue->text() << window->lbYValue->text();
            QTest::keyClick(window, Qt::Key_Escape);
            closedByEsc = !window->isVisible();
        });
        emit m_window->Chart1->pointClicked(1, 1);
        QCOMPARE(shown, QStringList({"Значение", "ДТ", "Дата", "Количество заправок",
                                     "23.08.2009 12:00:00, Воскресение", "1,2345679E8"}));
        QVERIFY2(closedByEsc, "Окно значения не закрылось по Esc");
        QVERIFY2(!fmValue, "Окно значения не освобождено после закрытия");
        // A click that names no point opens nothing.
        emit m_window->Chart1->pointClicked(1, 2);
        emit m_window->Chart1->pointClicked(9, 0);
        QVERIFY(!fmValue);
    }

    void numberColours_data() {
        QTest::addColumn<QString>("kept"); // the shifts left in the list
        QTest::addColumn<QList<int>>("red");
        QTest::newRow("the station: every gap, never the lowest")
            << "1 = 1" << QList<int>{119, 116, 110, 11};
        QTest::newRow("one shift") << "SmNum = 120" << QList<int>{};
    }
    void numberColours() {
        QFETCH(QString, kept);
        QFETCH(QList<int>, red);
        StationFixture station; // whose shifts are thinned out
        QVERIFY(station.exec(station.fuelFile(), {"DELETE FROM SmSilo WHERE NOT " + kept}));
        m_dm.FuelDbPath = station.fuelParameter();
        shiftList();
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
        QVERIFY2(SmenaListFrm->DBGrid1->model() != &m_dm.dsSmSilo, "Сетка не отключена");
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
        shiftList();
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
        QTest::newRow("a number nobody has leaves the row") << QStringList{"9"} << QList<int>{5};
    }
    void quickSearch() {
        QFETCH(QStringList, typed);
        // The grid as SelectSmena wires it, shown without a modal loop so that the test can wait.
        TSmenaListFrm* form = shiftList();
        form->DBGrid1->setModel(&m_dm.dsSmSilo);
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
        TSmenaListFrm* form = shiftList();
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

    // The shared frame's comparison, through the fuel window: the comparison chosen in the chart's
    // menu, the earlier period's points at this period's times with their own dates in the value
    // window, the report's block and the box's line only with it, every page in the saved data,
    // the choice back after reopening.
    void compare_data() {
        QTest::addColumn<QList<double>>("earlier"); // the 24th in 6-hour steps
        QTest::newRow("fuel") << QList<double>{20, 109.99, 15, 49.99, 0};
        // The chain's window over this one station of the catalogue: the same figures.
        if (StationFixture::kindFromEnvironment() == StationServerKind::Postgres)
            QTest::newRow("chain") << QList<double>{20, 109.99, 15, 49.99, 0};
    }
    void compare() {
        if (QByteArray(QTest::currentDataTag()) == "chain") {
            // Stations by region: a region lists only its own, "все" checks every listed one and
            // leaves the hidden ones alone, a station unchecked clears "все".
            const QString own = chainStation(), north = own + " Север";
            m_station.registerInChain(north, QStringLiteral("Север"));
            TfmChainStat* chain = openChain();
            // Ours, shown, "+" when checked; in the catalogue's order, by region first.
            const auto listed = [chain] {
                QStringList names;
                for (int i = 0; i < chain->clbStations->count(); ++i) {
                    const QListWidgetItem* item = chain->clbStations->item(i);
                    if (!item->isHidden() && item->text().startsWith(chainStation()))
                        names << item->text() + (item->checkState() == Qt::Checked ? "+" : "-");
                }
                return names;
            };
            chain->cbRegion->setCurrentText(QStringLiteral("Север"));
            QCOMPARE(listed(), QStringList{north + "-"});
            QVERIFY(!chain->chbAllStations->isChecked());
            chain->chbAllStations->click();
            QCOMPARE(listed(), QStringList{north + "+"});
            chain->cbRegion->setCurrentText(QStringLiteral("Все регионы"));
            QCOMPARE(listed(), (QStringList{north + "+", own + "+"}));
            chain->clbStations->findItems(own, Qt::MatchExactly)[0]->setCheckState(Qt::Unchecked);
            QVERIFY(!chain->chbAllStations->isChecked());
            chain->cbRegion->setCurrentText(QStringLiteral("Тест"));
            chain->chbAllStations->click();
            QVERIFY(chain->chbAllStations->isChecked());
            chain->chbAllStations->click();
            chain->cbRegion->setCurrentIndex(0);
            QCOMPARE(listed(), (QStringList{north + "+", own + "-"}));
            const auto station = [this] { checkLines(m_chain->clbStations, {chainStation()}); };
            compareCase(m_env, openChain(), station, [this] { return openChain(); });
            // The report names the chain's stations.
            QByteArray report;
            SetReportViewerEntry(
                [&](const QString&, const QByteArray& html, const QString&) { report = html; });
            m_chain->bbtPrint->click();
            SetReportViewerEntry({});
            QVERIFY(CodePage1251::decode(report).contains("Сеть: " + chainStation()));
            return;
        }
        const auto grades = [this] { check({"АИ-92", "АИ-95", "ДТ", "АИ-95 'Премиум'"}); };
        compareCase(m_env, open(), grades, [this] { return open(); });
    }

    // Every caption whole in Debian's fonts, at each window's smallest size: the windows were
    // drawn for an 8-point Windows font, and a wider one cuts what was measured for it.
    void captionsWhole_data() {
        QTest::addColumn<QString>("window");
        for (const char* window :
             {"fuel window", "shift list", "value window", "progress window", "chain window"})
            QTest::newRow(window) << QString::fromLatin1(window);
    }
    void captionsWhole() {
        QFETCH(QString, window);
        CaptionFit::Survey measure;
        if (window == "fuel window") {
            TfmGSMStat* fuel = open();
            // The shift's labels and the wider caption of the select-all button as well.
            fuel->lbSmena->setText(QStringLiteral("Смена №"));
            fuel->lbSmenaNum->setText(QStringLiteral("1234"));
            measure(fuel);
            fuel->bbtSelectAll->click();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            measure.clipped << CaptionFit::clippedCaptions(fuel);
        } else if (window == "progress window") {
            TfmProgress progress;
            progress.show();
            measure(&progress);
        } else if (window == "chain window") {
            // Its captions, whatever the server: the catalogue's own message is another case's.
            openChain();
            m_env.boxes.clear();
            measure(m_chain.get());
        } else if (window == "shift list") {
            shiftList();
            select([&](TSmenaListFrm* form) {
                measure(form);
                form->reject();
            });
        } else {
            fill(3);
            whenModalShown<TfmValue>([&](TfmValue* value) {
                measure(value);
                value->reject();
            });
            emit m_window->Chart1->pointClicked(0, 1);
        }
        QVERIFY2(m_env.boxes.isEmpty(), qPrintable(m_env.boxes.value(0).text));
        QVERIFY2(measure.report().isEmpty(), qPrintable(measure.report()));
    }

private:
    // The chain's window with this station registered in the catalogue and alone checked.
    TfmChainStat* openChain() {
        if (!m_station.computerName().isEmpty())
            m_station.registerInChain(chainStation(), QStringLiteral("Тест"));
        m_chain = std::make_unique<TfmChainStat>(m_dm);
        m_chain->show();
        checkLines(m_chain->clbStations, {chainStation()});
        return m_chain.get();
    }
    static QString chainStation() {
        return QStringLiteral("АЗС теста %1").arg(QCoreApplication::applicationPid());
    }

    TfmGSMStat* open() {
        m_window = std::make_unique<TfmGSMStat>(m_dm);
        m_window->show();
        // The first-show initialisation runs from its timer shortly after showing.
        if (!QTest::qWaitFor([this] { return m_window->Extractor() || !m_env.boxes.isEmpty(); },
                             5000))
            qWarning("Окно не завершило первичную настройку за 5 секунд");
        return m_window.get();
    }
    void setPeriod(const QDateTime& from, const QDateTime& to) {
        m_window->dtpDateFrom->setDate(from.date());
        m_window->dtpTimeFrom->setTime(from.time());
        m_window->dtpDateTo->setDate(to.date());
        m_window->dtpTimeTo->setTime(to.time());
    }
    // A window whose chart holds `points` hourly points from the 24th, as a run leaves it.
    void fill(int points) {
        m_window = std::make_unique<TfmGSMStat>(m_dm);
        ChartModel* chart = m_window->Chart();
        for (int i = 0; i < points; ++i)
            chart->series(0)->addPoint(encodeDateTime(2009, 8, 24) + i / 24.0, i);
        chart->setTitleLines({kFirstTitleLine, PageIndicatorText(1, chart->pageCount())});
        // What the end of a run leaves: the page bar's range for the chart.
        m_window->SpinEdit1Change();
    }

    void check(const QStringList& grades) { checkLines(m_window->CheckListBox1, grades); }

    // The shift list as SelectSmena finds it: the station's shifts open, the form made.
    TSmenaListFrm* shiftList() {
        m_smFrom = m_smTo = -1;
        m_periodFrom = m_periodTo = -1;
        m_dm.cdsSmSilo.open();
        SmenaListFrm = new TSmenaListFrm;
        return SmenaListFrm;
    }
    bool select(const std::function<void(TSmenaListFrm*)>& act) {
        whenModalShown<TSmenaListFrm>(act);
        return SelectSmena(m_smFrom, m_smTo, m_periodFrom, m_periodTo, &m_dm.cdsSmSilo,
                           &m_dm.dsSmSilo);
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
    StationFixture m_station;
    // The windows' own data module, declared before them: it outlives every window.
    TdmStatistic m_dm;
    std::unique_ptr<TfmGSMStat> m_window;
    std::unique_ptr<TfmChainStat> m_chain;
    int m_smFrom = -1;
    int m_smTo = -1;
    TDateTime m_periodFrom = -1;
    TDateTime m_periodTo = -1;
};

QTEST_MAIN(TestFuelWindows)
#include "tst_fuelwindows.moc"
