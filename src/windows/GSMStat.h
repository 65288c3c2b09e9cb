#pragma once

#include "extraction/QueryItems.h"

#include <QDialog>
#include <QPointer>

#include <memory>

class ChartModel;
class ChartView;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QFrame;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSlider;
class QSpinBox;
class QTimer;
class QToolButton;
class TChartPager;
class TFormStorage;
class TGSMExtractor;

// TfmGSMStat: the fuel statistics window ("Статистика по ГСМ"). The operator picks a period, the
// grades, a step and a schema; "Построить" hands them to the window's fuel extractor, which fills
// the chart on its worker thread.
class TfmGSMStat : public QDialog {
    Q_OBJECT

public:
    explicit TfmGSMStat(QWidget* parent = nullptr);
    ~TfmGSMStat() override;

    QFrame* Panel1;
    QFrame* Panel2;
    ChartView* Chart1;
    QSlider* TrackBar1;
    QFrame* pnButtons;
    QToolButton* sbtBegin;
    QToolButton* sbtBack;
    QToolButton* sbtForward;
    QToolButton* sbtEnd;
    QLabel* Label1;
    QComboBox* cbSchema;
    QGroupBox* gbPeriod;
    QLabel* Label10;
    QDateTimeEdit* dtpDateFrom;
    QDateTimeEdit* dtpTimeFrom;
    QLabel* Label11;
    QDateTimeEdit* dtpDateTo;
    QDateTimeEdit* dtpTimeTo;
    QLabel* lbSmena;
    QLabel* lbSmenaNum;
    QPushButton* bbtSmena;
    QGroupBox* gbDim;
    QComboBox* cbMult;
    QComboBox* cbDim;
    QGroupBox* gbGSM;
    QListWidget* CheckListBox1;
    QPushButton* bbtSelectAll;
    QCheckBox* chbMultiGraph;
    QGroupBox* gbLitre;
    QLabel* Label4;
    QComboBox* cbLiter_Low;
    QLabel* Label5;
    QComboBox* cbLiter_Hi;
    QPushButton* bbtPrint;
    QPushButton* bbtGo;
    QGroupBox* gbStat;
    QLabel* Label7;
    QLabel* RecordCountLabel;
    QLabel* Label8;
    QLabel* MaxValueLabel;
    QLabel* Label9;
    QLabel* MinValueLabel;
    QGroupBox* gbDiagram;
    QLabel* Label6;
    QSpinBox* SpinEdit1;
    QToolButton* sbtMult2;
    QToolButton* sbtDiv2;
    QCheckBox* chbShowLabels;
    QTimer* Timer1;

    ChartModel* Chart() const { return m_chart; }
    // Null until the first-show initialisation has made it, and again after the window closed.
    TGSMExtractor* Extractor() const { return m_extractor.get(); }
    const TGSMColor& GradeColors() const { return m_colors; }

    void FormShow();
    void Timer1Timer();
    void cbSchemaChange();
    void dtpDateFromChange();
    void bbtSmenaClick();
    void bbtSelectAllClick();
    void bbtGoClick();
    void bbtPrintClick();
    void FormKeyDown(int key);
    void FormClose();
    void NavigBtnClick(QObject* sender);
    void TrackBar1Change();
    void ResizeBtnClick(QObject* sender);
    void SpinEdit1Change();
    void chbShowLabelsClick();
    void pnButtonsResize();
    void Chart1ClickSeries(int seriesIndex, int pointIndex);

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    // The navigation bar's resize places its buttons.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildChart();
    void connectHandlers();

    ChartModel* m_chart = nullptr;
    std::unique_ptr<TChartPager> m_pager;
    std::unique_ptr<TFormStorage> m_storage;
    std::unique_ptr<TGSMExtractor> m_extractor;
    TGSMColor m_colors;
    // Set while the window itself moves the pickers, so that their change handler does not
    // take that for the operator's edit.
    bool m_settingPeriod = false;
    bool m_closed = false;
};

// The fuel window while the menu handler shows it; null otherwise.
extern QPointer<TfmGSMStat> fmGSMStat;

// The "ГСМ" menu entry's window: creates fmGSMStat over the host's window. The menu handler shows
// it modally and frees it when it closes, also when an error escapes; it sets
// dmStatistic->FuelDbPath first.
std::unique_ptr<QDialog> CreateFuelStatistics(QWidget* applicationWindow);
