#pragma once

#include "extraction/ComparePeriod.h"
#include "extraction/QueryItems.h"

#include <QDialog>
#include <QPointer>
#include <QSize>
#include <QStringList>

#include <exception>
#include <functional>
#include <memory>

class ChartModel;
class ChartView;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QFrame;
class QGroupBox;
class QAction;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QSlider;
class QSpinBox;
class QToolButton;
class TChartPager;
class TFormStorage;
class TGraphExtractor;
class TdmStatistic;

// The statistics window frame that the fuel and goods windows share: the schema box, the period
// and shift pickers, the step, the build and print buttons, the statistics box, the chart with
// its paging bar and the points-per-page box, Esc, closing and the values kept between sessions.
// A window of its own adds its selection controls, its extractor and what its first show loads.
class TStatWindow : public QDialog {
    Q_OBJECT

public:
    ~TStatWindow() override;

    QFrame* Panel1;
    QFrame* Panel2;
    ChartView* Chart1;
    QSlider* TrackBar1;
    QFrame* pnButtons;
    QToolButton* sbtBegin;
    QToolButton* sbtBack;
    QToolButton* sbtForward;
    QToolButton* sbtEnd;
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
    QComboBox* cbMult;
    QComboBox* cbDim;
    QCheckBox* chbMultiGraph;
    QPushButton* bbtPrint;
    QPushButton* bbtGo;
    QGroupBox* gbStat;
    QLabel* Label7;
    QLabel* RecordCountLabel;
    QLabel* Label8;
    QLabel* MaxValueLabel;
    // The summed change against the earlier period; shown only after a compared run.
    QLabel* lbCompare;
    QGroupBox* gbDiagram;
    QLabel* Label6;
    QSpinBox* SpinEdit1;
    QToolButton* sbtMult2;
    QToolButton* sbtDiv2;
    QCheckBox* chbShowLabels;
    // The chart's context menu.
    QMenu* pmChart;
    QAction* miComparePrevious;
    QAction* miCompareYear;
    QAction* miCompareNone;
    QAction* miSaveData;

    ChartModel* Chart() const { return m_chart; }
    // The data module the window reads its lists and runs from; it outlives the window.
    TdmStatistic& DataModule() const { return m_dm; }

    virtual void FormShow() = 0;
    virtual void bbtGoClick() = 0;
    void dtpDateFromChange();
    void bbtSmenaClick();
    void bbtPrintClick();
    void FormKeyDown(int key);
    void FormClose();
    void NavigBtnClick(QObject* sender);
    void TrackBar1Change();
    void ResizeBtnClick(QObject* sender);
    void SpinEdit1Change();
    void chbShowLabelsClick();
    void pnButtonsResize();
    // The comparison the next run draws beside the period, kept with the window's other values.
    TCompareMode CompareMode() const { return m_compareMode; }
    // The context menu's comparison items: at most one checked, None clears both. A chart on
    // show is built again at once with the new choice.
    void CompareClick(TCompareMode mode);
    // "Сохранить данные…": the save dialog in the viewer's export folder, then SaveData.
    void SaveDataClick();
    enum class TDataFormat { SpreadsheetCsv, MachineCsv, Xlsx };
    // Every point of every line of the chart, not only the page shown, into `path`.
    void SaveData(const QString& path, TDataFormat format);
    // A click on a chart point (Chart1ClickSeries of the fuel window): the point's value window.
    void ChartClickSeries(int seriesIndex, int pointIndex);

    void done(int result) override;

    // What tells one use of the frame from the other.
    struct TLook {
        QString formName;
        QString caption;
        // The object name of the "Схема выборки:" caption.
        QString schemaCaptionName;
        // The smallest window's client area, which is also the size it opens with: Qt's minimum
        // size is the client's, the window manager adds its frame around it.
        QSize clientSize;
        QStringList schemas;
        QString stepGroupName;
        QString multiGraphCaption;
        QString leftAxisTitle;
        QString reportTitle;
        // Values the window keeps between sessions besides the frame's step, split check box,
        // period and shift caption; "Control.Property" as the form storage names them.
        QStringList storedValues;
    };

protected:
    TStatWindow(TdmStatistic& dm, QWidget* parent, TLook look);

    // Lays the left panel out: the schema caption and box, the period, the step, then the
    // window's own groups (the first takes the spare height), the buttons and the two boxes.
    // Then restores the kept values and connects the shared handlers; the window connects its
    // own after this, so that no restored value looks like the operator's edit.
    void finishCreation(const QList<QWidget*>& ownGroups);

    QLabel* schemaCaption() const { return m_schemaCaption; }
    // The extractor the window has made at its first show; the frame frees it on closing.
    template <class E>
    E* extractorAs() const {
        return static_cast<E*>(m_extractor.get());
    }
    void setExtractor(std::unique_ptr<TGraphExtractor> extractor);
    // The chart emptied and out of the legend, the statistics at 0: the state before any run.
    void clearResults();
    // The period of the pickers, or a message and false when it is no period.
    bool periodChecked();
    // The run's settings that both windows hand over in the same way, then wakes the worker.
    // The window's own settings must be in place before.
    void startRun(const TQueryItems& items, bool fuelMode);

    // What the report of the chart is about: the window's report title unless the window knows
    // better.
    virtual QString ReportSubject() const { return m_look.reportTitle; }

    // The name the window stores its comparison under, beside the form storage's values.
    static QString compareValueName() { return QStringLiteral("Comparison"); }

    void showEvent(QShowEvent* event) override;
    // The navigation bar's resize places its buttons.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildSharedControls();
    void buildChartPanel();
    void connectSharedHandlers();
    void buildChartMenu();
    void showCompareMode();

    TdmStatistic& m_dm;
    TLook m_look;
    QLabel* m_schemaCaption = nullptr;
    ChartModel* m_chart = nullptr;
    std::unique_ptr<TChartPager> m_pager;
    std::unique_ptr<TFormStorage> m_storage;
    std::unique_ptr<TGraphExtractor> m_extractor;
    // Set while the window itself moves the pickers, so that their change handler does not
    // take that for the operator's edit.
    bool m_settingPeriod = false;
    TCompareMode m_compareMode = TCompareMode::None;
    bool m_closed = false;
};

// The folder the data files are proposed in: the report viewer's export folder, which the plug-in
// hands over when it is loaded (the windows do not link the viewer). Without it, the suite's own.
using TDataFolderSource = std::function<QString()>;
void SetDataFolderSource(TDataFolderSource source);
QString DataFolder();

// Small builders of the controls as the statistics windows lay them out.
namespace StatControls {

template <class W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}
QLabel* label(QWidget* parent, const char* name, const QString& text);
QGroupBox* groupBox(QWidget* parent, const char* name, const QString& title);
QComboBox* comboBox(QWidget* parent, const char* name, const QStringList& items, int index,
                    bool editable);
// The group's layout with the margins of the narrow panel.
void setGroupLayout(QGroupBox* group, const QList<QWidget*>& widgets, int stretchedIndex = -1);

// The schemas of the fuel and of the goods window, which the chain window offers as well.
const QStringList& fuelSchemas();
const QStringList& goodsSchemas();

// A check list's select-all button names what a press will do; a press does it to every line of
// `list` and then offers the opposite.
QString selectAllText();
QString deselectAllText();
void toggleAllChecked(QPushButton* button, QListWidget* list);

} // namespace StatControls
