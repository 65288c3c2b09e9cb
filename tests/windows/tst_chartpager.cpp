#include "common/WindowTestSupport.h"

#include "platform/chart/ChartModel.h"
#include "platform/chart/ChartView.h"
#include "platform/core/DateTime.h"
#include "windows/ChartPager.h"
#include "windows/GSMStat.h"
#include "windows/Value.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace {

const QString kFirstTitleLine = QStringLiteral("Время - Литры c 24.08.2009 по 25.08.2009");

} // namespace

// Paging, zoom, marks and the point value window, driven through the fuel window's own controls.
class TestChartPager : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_env.forgetSettings();
        m_window = std::make_unique<TfmGSMStat>();
    }
    void cleanup() { m_window.reset(); }

    // Buttons pressed in turn; "SpinEdit1=n" and "TrackBar1=n" set those controls.
    void navigate_data() {
        QTest::addColumn<int>("points");
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("perPage");
        QTest::addColumn<int>("pageBarMaximum");
        QTest::newRow("100 points: the end is page 4")
            << 100 << QStringList{"sbtEnd"} << 4 << 30 << 4;
        QTest::newRow("90 points: the end is limited to page 3")
            << 90 << QStringList{"sbtEnd"} << 3 << 30 << 3;
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
    }
    void navigate() {
        QFETCH(int, points);
        QFETCH(QStringList, actions);
        QFETCH(int, page);
        QFETCH(int, pageBarMaximum);
        fill(points);
        for (const QString& action : actions) {
            if (action.startsWith("SpinEdit1="))
                m_window->SpinEdit1->setValue(action.section('=', 1).toInt());
            else if (action.startsWith("TrackBar1="))
                m_window->TrackBar1->setValue(action.section('=', 1).toInt());
            else
                m_window->findChild<QToolButton*>(action)->click();
        }
        const ChartModel* chart = m_window->Chart();
        QCOMPARE(chart->currentPage(), page);
        QTEST(chart->pointsPerPage(), "perPage");
        QTEST(m_window->SpinEdit1->value(), "perPage");
        QCOMPARE(chart->titleLines(),
                 QStringList({kFirstTitleLine, PageIndicatorText(page, pageBarMaximum)}));
        QCOMPARE(m_window->TrackBar1->value(), page);
        QCOMPARE(m_window->TrackBar1->maximum(), pageBarMaximum);
    }

    void pointsBelowMinimumIgnored() {
        fill(100);
        m_window->SpinEdit1->setFocus();
        m_window->SpinEdit1->selectAll();
        QTest::keyClicks(m_window->SpinEdit1, QStringLiteral("1"));
        // Even a value below the minimum that reached the handler would change nothing.
        TChartPager(m_window->Chart(), m_window->TrackBar1, m_window->SpinEdit1)
            .PointsPerPageChanged(1);
        QCOMPARE(m_window->Chart()->pointsPerPage(), 30);
        QCOMPARE(m_window->TrackBar1->maximum(), 4);
    }

    void zoomUndoneBeforePaging_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("page");
        QTest::newRow("same page by the first-page button") << "sbtBegin" << 1;
        QTest::newRow("page bar") << "TrackBar1" << 3;
        QTest::newRow("points per page") << "SpinEdit1" << 1;
    }
    void zoomUndoneBeforePaging() {
        QFETCH(QString, action);
        QFETCH(int, page);
        fill(100);
        ChartModel* chart = m_window->Chart();
        chart->zoomIn(QRectF(chart->series(0)->point(2).x, 0, 0.2, 10));
        QVERIFY(chart->isZoomed());
        if (action == "TrackBar1")
            m_window->TrackBar1->setValue(3);
        else if (action == "SpinEdit1")
            m_window->SpinEdit1->setValue(40);
        else
            m_window->findChild<QToolButton*>(action)->click();
        QVERIFY(!chart->isZoomed());
        QCOMPARE(chart->currentPage(), page);
        QCOMPARE(chart->titleLines().value(1), PageIndicatorText(page, chart->pageCount()));
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
        m_window->pnButtons->setGeometry(left, 600, width, 30);
        m_window->pnButtonsResize();
        const QList<QToolButton*> buttons{m_window->sbtBegin, m_window->sbtBack,
                                          m_window->sbtForward, m_window->sbtEnd};
        for (int i = 0; i < buttons.size(); ++i) {
            QCOMPARE(buttons[i]->x(), lefts[i]);
            QCOMPARE(buttons[i]->width(), buttonWidth);
        }
    }

    void valueWindow_data() {
        QTest::addColumn<TDateTime>("x");
        QTest::addColumn<double>("y");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("xText");
        QTest::addColumn<QString>("yText");
        QTest::newRow("Sunday noon") << encodeDateTime(2009, 8, 23, 12) << 1234.5 << ""
                                     << "23.08.2009 12:00:00, Воскресение"
                                     << "1234,50";
        QTest::newRow("Monday is the first name")
            << encodeDateTime(2009, 8, 24, 23, 59, 59) << 0.125 << "АИ-92"
            << "24.08.2009 23:59:59, Понедельник"
            << "0,13";
        QTest::newRow("Saturday, a value past 8 digits")
            << encodeDateTime(2009, 8, 29, 6, 30) << 123456789.0 << "ДТ"
            << "29.08.2009 06:30:00, Суббота"
            << "1,2345679E8";
    }
    void valueWindow() {
        QFETCH(TDateTime, x);
        QFETCH(double, y);
        QFETCH(QString, title);
        QFETCH(QString, xText);
        QFETCH(QString, yText);
        ChartModel* chart = m_window->Chart();
        chart->setLeftAxisTitle(QStringLiteral("Количество заправок"));
        chart->series(1)->addPoint(x - 1, 1);
        chart->series(1)->addPoint(x, y);
        chart->series(1)->setTitle(title);
        QStringList shown;
        bool closedByEsc = false;
        whenModalShown<TfmValue>([&](TfmValue* window) {
            shown << window->windowTitle() << window->lbName->text() << window->lbX->text()
                  << window->lbY->text() << window->lbXValue->text() << window->lbYValue->text();
            QTest::keyClick(window, Qt::Key_Escape);
            closedByEsc = !window->isVisible();
        });
        emit m_window->Chart1->pointClicked(1, 1);
        QCOMPARE(shown,
                 QStringList({"Значение", title, "Дата", "Количество заправок", xText, yText}));
        QVERIFY2(closedByEsc, "Окно значения не закрылось по Esc");
        QVERIFY2(!fmValue, "Окно значения не освобождено после закрытия");
        // A click that names no point opens nothing.
        emit m_window->Chart1->pointClicked(1, 2);
        emit m_window->Chart1->pointClicked(9, 0);
        QVERIFY(!fmValue);
    }

private:
    void fill(int points) {
        ChartModel* chart = m_window->Chart();
        for (int i = 0; i < points; ++i)
            chart->series(0)->addPoint(encodeDateTime(2009, 8, 24) + i / 24.0, i);
        chart->setTitleLines({kFirstTitleLine, PageIndicatorText(1, chart->pageCount())});
        // What the end of a run leaves: the page bar's range for the chart.
        m_window->SpinEdit1Change();
    }

    WindowTestEnvironment m_env;
    std::unique_ptr<TfmGSMStat> m_window;
};

QTEST_MAIN(TestChartPager)
#include "tst_chartpager.moc"
