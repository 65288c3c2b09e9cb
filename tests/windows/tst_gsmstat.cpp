#include "common/StationFixture.h"
#include "common/WindowTestSupport.h"

#include "extraction/GSMExtractor.h"
#include "extraction/StatReport.h"
#include "platform/chart/ChartModel.h"
#include "platform/chart/ChartPalette.h"
#include "platform/core/CodePage1251.h"
#include "platform/core/DateTime.h"
#include "plugin/DmStatistic.h"
#include "windows/GSMStat.h"
#include "windows/SmenaList.h"
#include "windows/StatWindowInput.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QtTest>

#include <cmath>
#include <memory>

// The fuel window on the embedded server over the small hand-built station.
class TestGSMStat : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void firstShowLoadsGrades();
    void gradeListUnavailable();
    void refusedRun_data();
    void refusedRun();
    void selectAllToggles();
    void schemaEnablesLitreBoxes_data();
    void schemaEnablesLitreBoxes();
    void build_data();
    void build();
    void shiftButton_data();
    void shiftButton();
    void valuesKeptBetweenSessions();
    void escapeFromGradeList();
    void literBoundText_data();
    void literBoundText();

private:
    TfmGSMStat* open();
    void setPeriod(const QDateTime& from, const QDateTime& to);
    void check(const QStringList& grades);

    std::unique_ptr<WindowTestEnvironment> m_env;
    std::unique_ptr<StationFixture> m_station;
    std::unique_ptr<TfmGSMStat> m_window;
};

namespace {

QDateTime utc(int day, int hour = 0) {
    return QDateTime(QDate(2009, 8, day), QTime(hour, 0), Qt::UTC);
}

QList<double> rounded(const ChartSeries* series) {
    QList<double> values;
    for (const ChartPoint& point : series->points())
        values << std::round(point.y * 100) / 100;
    return values;
}

} // namespace

void TestGSMStat::initTestCase() {
    m_env = std::make_unique<WindowTestEnvironment>();
    m_station = std::make_unique<StationFixture>();
    QVERIFY2(m_station->isValid(), qPrintable(m_station->error()));
    // The report's chart picture goes to the suite's TEMP folder: the station's, not the user's.
    qputenv("DARA_ROOT", QFile::encodeName(m_station->root()));
    CreateDmStatistic();
}

void TestGSMStat::cleanupTestCase() {
    FreeDmStatistic();
    m_env.reset();
}

void TestGSMStat::init() {
    m_env->forgetSettings();
    m_env->boxes.clear();
    dmStatistic->FuelDbPath = m_station->fuelFolder();
}

void TestGSMStat::cleanup() {
    m_window.reset();
    dmStatistic->CloseAllData();
}

TfmGSMStat* TestGSMStat::open() {
    m_window = std::make_unique<TfmGSMStat>();
    m_window->show();
    // The first-show initialisation runs from its timer shortly after showing.
    const bool initialised =
        QTest::qWaitFor([this] { return m_window->Extractor() || !m_env->boxes.isEmpty(); }, 5000);
    if (!initialised)
        qWarning("Окно не завершило первичную настройку за 5 секунд");
    return m_window.get();
}

void TestGSMStat::setPeriod(const QDateTime& from, const QDateTime& to) {
    m_window->dtpDateFrom->setDate(from.date());
    m_window->dtpTimeFrom->setTime(from.time());
    m_window->dtpDateTo->setDate(to.date());
    m_window->dtpTimeTo->setTime(to.time());
}

void TestGSMStat::check(const QStringList& grades) {
    for (int i = 0; i < m_window->CheckListBox1->count(); ++i) {
        QListWidgetItem* item = m_window->CheckListBox1->item(i);
        item->setCheckState(grades.contains(item->text()) ? Qt::Checked : Qt::Unchecked);
    }
}

void TestGSMStat::firstShowLoadsGrades() {
    TfmGSMStat* window = open();
    QVERIFY2(window->Extractor(), "Построитель статистики не создан");
    QVERIFY(m_env->boxes.isEmpty());
    QStringList listed;
    for (int i = 0; i < window->CheckListBox1->count(); ++i) {
        listed << window->CheckListBox1->item(i)->text();
        QCOMPARE(window->CheckListBox1->item(i)->checkState(), Qt::Unchecked);
    }
    QCOMPARE(listed.size(), 4);
    QCOMPARE(window->GradeColors().size(), 4);
    for (int i = 0; i < listed.size(); ++i) {
        QCOMPARE(window->GradeColors()[i].Name, listed[i]);
        QCOMPARE(window->GradeColors()[i].Color, 0x01000000u + quint32(19 - i));
    }
    QVERIFY2(!dmStatistic->DCOMConnection1.connected(), "Соединение осталось открытым");
    QCOMPARE(window->bbtSelectAll->text(), QStringLiteral("Выбрать все"));
    QVERIFY(window->Chart()->seriesCount() == 8);

    window->bbtPrint->click();
    QCOMPARE(m_env->boxes.size(), 1);
    QCOMPARE(m_env->boxes[0].caption, QStringLiteral("Информация"));
    QCOMPARE(m_env->boxes[0].text, QStringLiteral("Нет данных для выборки!"));
    QCOMPARE(m_env->boxes[0].icon, MessageBoxes::Icon::Information);
}

void TestGSMStat::gradeListUnavailable() {
    dmStatistic->FuelDbPath = m_station->root() + QStringLiteral("/нет такой папки");
    TfmGSMStat* window = open();
    QCOMPARE(m_env->boxes.size(), 1);
    QCOMPARE(m_env->boxes[0].caption, QStringLiteral("Ошибка"));
    QVERIFY(!m_env->boxes[0].text.isEmpty());
    QVERIFY(!window->Extractor());
    QCOMPARE(window->CheckListBox1->count(), 0);
    QVERIFY(window->isVisible());
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(!dmStatistic->DCOMConnection1.connected());

    setPeriod(utc(24), utc(25));
    window->bbtGo->click();
    window->bbtPrint->click();
    QCOMPARE(m_env->boxes.size(), 3);
    QCOMPARE(m_env->boxes[1].text, QStringLiteral("Не указан вид топлива!"));
    QCOMPARE(m_env->boxes[2].text, QStringLiteral("Нет данных для выборки!"));
}

void TestGSMStat::refusedRun_data() {
    QTest::addColumn<bool>("designPeriod");
    QTest::addColumn<QDateTime>("from");
    QTest::addColumn<QDateTime>("to");
    QTest::addColumn<QStringList>("grades");
    QTest::addColumn<QString>("message");
    const QString period = QStringLiteral("Задан неверный период выборки!");
    QTest::newRow("the design period, 02.07.2005 00:00 twice")
        << true << QDateTime() << QDateTime() << QStringList{"АИ-92"} << period;
    QTest::newRow("start equal to the end")
        << false << utc(24, 8) << utc(24, 8) << QStringList{"АИ-92"} << period;
    QTest::newRow("start after the end")
        << false << utc(25) << utc(24) << QStringList{"АИ-92"} << period;
    QTest::newRow("no grade") << false << utc(24) << utc(25) << QStringList{}
                              << QStringLiteral("Не указан вид топлива!");
}

void TestGSMStat::refusedRun() {
    QFETCH(bool, designPeriod);
    QFETCH(QDateTime, from);
    QFETCH(QDateTime, to);
    QFETCH(QStringList, grades);
    QFETCH(QString, message);
    TfmGSMStat* window = open();
    if (!designPeriod)
        setPeriod(from, to);
    check(grades);
    window->bbtGo->click();
    QCOMPARE(m_env->boxes.size(), 1);
    QCOMPARE(m_env->boxes[0].caption, QStringLiteral("Ошибка"));
    QCOMPARE(m_env->boxes[0].icon, MessageBoxes::Icon::Warning);
    QCOMPARE(m_env->boxes[0].text, message);
    QVERIFY2(window->Extractor()->Suspended(), "Выборка запущена несмотря на ошибку");
    QCOMPARE(window->Chart()->series(0)->count(), 0);
}

void TestGSMStat::selectAllToggles() {
    TfmGSMStat* window = open();
    const QList<QPair<Qt::CheckState, QString>> presses{
        {Qt::Checked, QStringLiteral("Сбросить все")},
        {Qt::Unchecked, QStringLiteral("Выбрать все")},
        {Qt::Checked, QStringLiteral("Сбросить все")}};
    window->CheckListBox1->item(1)->setCheckState(Qt::Checked);
    for (const auto& [state, caption] : presses) {
        window->bbtSelectAll->click();
        QCOMPARE(window->bbtSelectAll->text(), caption);
        for (int i = 0; i < window->CheckListBox1->count(); ++i)
            QCOMPARE(window->CheckListBox1->item(i)->checkState(), state);
    }
}

void TestGSMStat::schemaEnablesLitreBoxes_data() {
    QTest::addColumn<int>("schema");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("Время - Заправок") << 2 << true;
    QTest::newRow("Время - Суммы") << 1 << false;
    QTest::newRow("back to Время - Литры") << 0 << false;
}

void TestGSMStat::schemaEnablesLitreBoxes() {
    QFETCH(int, schema);
    QFETCH(bool, enabled);
    m_window = std::make_unique<TfmGSMStat>();
    TfmGSMStat* window = m_window.get();
    QVERIFY(!window->cbLiter_Low->isEnabled());
    window->cbSchema->setCurrentIndex(schema == 2 ? 1 : 2);
    window->cbLiter_Low->setCurrentIndex(3);
    window->cbLiter_Hi->setCurrentIndex(4);
    window->cbSchema->setCurrentIndex(schema);
    QCOMPARE(window->cbLiter_Low->isEnabled(), enabled);
    QCOMPARE(window->cbLiter_Hi->isEnabled(), enabled);
    QCOMPARE(window->cbLiter_Low->currentText(), QStringLiteral("0"));
    QCOMPARE(window->cbLiter_Hi->currentText(), QStringLiteral("Нет"));
    // A schema typed by hand is none of the three: no litre range.
    window->cbSchema->setEditText(QStringLiteral("Время - Заправок?"));
    QVERIFY(!window->cbLiter_Low->isEnabled());
}

void TestGSMStat::build_data() {
    QTest::addColumn<int>("schema");
    QTest::addColumn<int>("multiplier");
    QTest::addColumn<int>("unit");
    QTest::addColumn<QStringList>("grades");
    QTest::addColumn<bool>("split");
    QTest::addColumn<QStringList>("storedLitres");
    QTest::addColumn<QList<QList<double>>>("series");
    QTest::addColumn<QString>("maxLabel");
    const QStringList all{"АИ-92", "АИ-95", "ДТ", "АИ-95 'Премиум'"};
    QTest::newRow("litres of all grades by day") << 0 << 0 << 2 << all << false << QStringList{}
                                                 << QList<QList<double>>{{194.98, 0}} << "194,98  ";
    QTest::newRow("litre bounds restored from the last session still filter")
        << 0 << 0 << 2 << all << false << QStringList{"2", "5"} << QList<QList<double>>{{134.99, 0}}
        << "134,99  ";
    QTest::newRow("fillings in 6-hour steps") << 2 << 5 << 1 << all << false << QStringList{}
                                              << QList<QList<double>>{{1, 4, 1, 1, 0}} << "4,00  ";
    QTest::newRow("money per grade")
        << 1 << 0 << 2 << QStringList{"АИ-92", "ДТ"} << true << QStringList{}
        << QList<QList<double>>{{799.9, 0}, {610, 0}} << "799,90  АИ-92";
}

void TestGSMStat::build() {
    QFETCH(int, schema);
    QFETCH(int, multiplier);
    QFETCH(int, unit);
    QFETCH(QStringList, grades);
    QFETCH(bool, split);
    QFETCH(QStringList, storedLitres);
    QFETCH(QList<QList<double>>, series);
    QFETCH(QString, maxLabel);
    if (!storedLitres.isEmpty()) {
        TRegistry registry;
        registry.writeValue(QStringLiteral("fmGSMStat"), QStringLiteral("cbLiter_Low.ItemIndex"),
                            storedLitres[0]);
        registry.writeValue(QStringLiteral("fmGSMStat"), QStringLiteral("cbLiter_Hi.ItemIndex"),
                            storedLitres[1]);
    }
    TfmGSMStat* window = open();
    QVERIFY(window->Extractor());
    window->cbSchema->setCurrentIndex(schema);
    if (!storedLitres.isEmpty()) {
        QCOMPARE(window->cbLiter_Low->currentText(), QStringLiteral("10"));
        QCOMPARE(window->cbLiter_Hi->currentText(), QStringLiteral("50"));
    }
    window->cbMult->setCurrentIndex(multiplier);
    window->cbDim->setCurrentIndex(unit);
    window->chbMultiGraph->setChecked(split);
    check(grades);
    setPeriod(utc(24), utc(25));
    window->bbtGo->click();
    QVERIFY(QTest::qWaitFor([&] { return window->Extractor()->Suspended(); }, 10000));
    QVERIFY(QTest::qWaitFor([&] { return window->isEnabled(); }, 5000));
    QCOMPARE(m_env->boxes.size(), 0);

    const ChartModel* chart = window->Chart();
    for (int s = 0; s < series.size(); ++s) {
        QCOMPARE(rounded(chart->series(s)), series[s]);
        QCOMPARE(chart->series(s)->title(), split ? grades[s] : QString());
        if (split) {
            const int row = window->CheckListBox1->row(
                window->CheckListBox1->findItems(grades[s], Qt::MatchExactly).first());
            QCOMPARE(chart->series(s)->color(), colorFromSystemValue(GradeColorValue(row)));
        }
    }
    QCOMPARE(window->RecordCountLabel->text(), QString::number(series[0].size()));
    QCOMPARE(window->MaxValueLabel->text(), maxLabel);
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
    QVERIFY(m_env->boxes.isEmpty());
    QCOMPARE(reportTitle, QStringLiteral("СТАТИСТИКА: Отчет по ГСМ"));
    QVERIFY(CodePage1251::decode(report).contains(maxLabel + QStringLiteral("<br><br>")));
}

void TestGSMStat::shiftButton_data() {
    QTest::addColumn<QList<int>>("shifts");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("shiftLabel");
    QTest::newRow("one shift") << QList<int>{116} << true << "23.08.2009 08:00:00"
                               << "23.08.2009 20:00:00"
                               << "Смена № 116";
    QTest::newRow("a range clears the labels")
        << QList<int>{110, 117} << true << "20.08.2009 08:00:00"
        << "24.08.2009 08:00:00"
        << " ";
    QTest::newRow("cancel changes nothing") << QList<int>{116} << false << "24.08.2009 06:00:00"
                                            << "25.08.2009 00:00:00"
                                            << "Смена № 5";
}

void TestGSMStat::shiftButton() {
    QFETCH(QList<int>, shifts);
    QFETCH(bool, ok);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, shiftLabel);
    TfmGSMStat* window = open();
    setPeriod(utc(24, 6), utc(25));
    window->lbSmena->setText(QStringLiteral("Смена №"));
    window->lbSmenaNum->setText(QStringLiteral("5"));
    whenModalShown<TSmenaListFrm>([&](TSmenaListFrm* list) {
        const QAbstractItemModel* model = list->DBGrid1->model();
        list->DBGrid1->selectionModel()->clear();
        for (int row = 0; row < model->rowCount(); ++row) {
            if (shifts.contains(model->index(row, 0).data(Qt::EditRole).toInt()))
                list->DBGrid1->selectionModel()->setCurrentIndex(
                    model->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        if (ok)
            list->accept();
        else
            list->reject();
    });
    window->bbtSmena->click();
    const QString format = QStringLiteral("dd.MM.yyyy HH:mm:ss");
    QCOMPARE(window->dtpDateFrom->dateTime().toString(format), from);
    QCOMPARE(window->dtpDateTo->dateTime().toString(format), to);
    QCOMPARE(window->dtpTimeFrom->time(), window->dtpDateFrom->time());
    QCOMPARE(window->dtpTimeTo->time(), window->dtpDateTo->time());
    QCOMPARE(window->lbSmena->text() + QLatin1Char(' ') + window->lbSmenaNum->text(), shiftLabel);
    QVERIFY2(!SmenaListFrm, "Окно выбора смены не освобождено");
    QVERIFY(!dmStatistic->DCOMConnection1.connected());
    QVERIFY(m_env->boxes.isEmpty());

    // Any edit of the period afterwards means it is no longer the shift's.
    window->dtpTimeTo->setTime(QTime(23, 0));
    QCOMPARE(window->lbSmena->text() + window->lbSmenaNum->text(), QString());
    QCOMPARE(window->dtpDateTo->time(), QTime(23, 0));
}

void TestGSMStat::valuesKeptBetweenSessions() {
    TfmGSMStat* window = open();
    setPeriod(utc(20, 8), utc(24, 20));
    window->cbSchema->setCurrentIndex(2);
    window->cbLiter_Low->setCurrentIndex(3);
    window->cbLiter_Hi->setCurrentIndex(4);
    window->cbMult->setCurrentIndex(2);
    window->cbDim->setCurrentIndex(4);
    window->chbMultiGraph->setChecked(true);
    window->lbSmena->setText(QStringLiteral("Смена №"));
    window->lbSmenaNum->setText(QStringLiteral("116"));
    window->SpinEdit1->setValue(60);
    window->chbShowLabels->setChecked(true);
    window->close();
    QVERIFY(!window->Extractor());
    QVERIFY(!dmStatistic->cdsGSM.active());

    m_window = std::make_unique<TfmGSMStat>();
    window = m_window.get();
    QCOMPARE(window->dtpDateFrom->dateTime(), utc(20, 8));
    QCOMPARE(window->dtpDateTo->dateTime(), utc(24, 20));
    QCOMPARE(window->dtpTimeFrom->time(), QTime(8, 0));
    QCOMPARE(window->dtpTimeTo->time(), QTime(20, 0));
    QCOMPARE(window->cbLiter_Low->currentIndex(), 3);
    QCOMPARE(window->cbLiter_Hi->currentIndex(), 4);
    QCOMPARE(window->cbMult->currentIndex(), 2);
    QCOMPARE(window->cbDim->currentIndex(), 4);
    QVERIFY(window->chbMultiGraph->isChecked());
    QCOMPARE(window->lbSmena->text(), QStringLiteral("Смена №"));
    QCOMPARE(window->lbSmenaNum->text(), QStringLiteral("116"));
    // Not kept: the schema, the points per page and the labels check box.
    QCOMPARE(window->cbSchema->currentIndex(), 0);
    QCOMPARE(window->SpinEdit1->value(), 30);
    QVERIFY(!window->chbShowLabels->isChecked());
}

void TestGSMStat::escapeFromGradeList() {
    TfmGSMStat* window = open();
    dmStatistic->cdsSmSilo.open();
    // A control added after the window was built, and one that takes every key itself: the
    // window still sees Esc first.
    struct KeyEater : QWidget {
        using QWidget::QWidget;
        void keyPressEvent(QKeyEvent* event) override { event->accept(); }
    };
    auto* eater = new KeyEater(window->CheckListBox1);
    eater->setFocus();
    QTest::keyClick(eater, Qt::Key_Escape);
    QVERIFY2(!window->isVisible(), "Esc в элементе окна не закрыл окно");
    QVERIFY(!window->Extractor());
    QVERIFY(!dmStatistic->cdsSmSilo.active());
    QVERIFY(!dmStatistic->DCOMConnection1.connected());
}

void TestGSMStat::literBoundText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("item") << "50" << 50.0;
    QTest::newRow("Нет") << "Нет" << 0.0;
    QTest::newRow("fraction with a comma") << "12,5" << 12.5;
    QTest::newRow("a point is no separator here") << "12.5" << 0.0;
    QTest::newRow("blanks around") << " 30 " << 30.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("infinity is no bound") << "inf" << 0.0;
    QTest::newRow("thousands separator") << "1 000" << 0.0;
}

void TestGSMStat::literBoundText() {
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(LiterBoundFromText(text, QLatin1Char(',')), value);
}

QTEST_MAIN(TestGSMStat)
#include "tst_gsmstat.moc"
