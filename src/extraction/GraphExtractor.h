#pragma once

#include "extraction/ComparePeriod.h"
#include "extraction/Extractor.h"
#include "extraction/StatReport.h"
#include "platform/chart/ChartModel.h"
#include "platform/core/FormatSettings.h"

#include <QLabel>
#include <QPointer>
#include <QSlider>
#include <QString>

#include <functional>

class ChartView;
class TClientDataSet;
class TField;

// Turns the rows of a run into chart series: one point per step of the period, one series for
// the whole selection or one per item, then the statistics labels, titles and paging. The rows
// are consumed on the worker; everything that touches the chart or a control runs on the user
// interface thread through a synchronised call.
class TGraphExtractor : public TExtractor {
public:
    // StepLength stays 0 until SetStepUnit: the windows set the multiplier, then the unit.
    TGraphExtractor(int stepUnit, TDateTime dateFrom, TDateTime dateTo, double stepMultiplier,
                    TClientDataSet* dataSet, ChartModel* chart, QWidget* ownerWindow,
                    QSlider* pageBar);
    ~TGraphExtractor() override;

    // Unit length in days: 0 minute, 1 hour, 2 day, 3 week, 4 month of 30 days, 5 year of 365
    // days; any other number one day.
    static double UnitLength(int stepUnit);

    TDateTime PointTime() const { return m_pointTime; }
    double PointValue() const { return m_pointValue; }
    int SeriesIndex() const { return m_seriesIndex; }
    double StepMultiplier() const { return m_stepMultiplier; }
    void SetStepMultiplier(double value);
    int StepUnit() const { return m_stepUnit; }
    // Also recomputes StepLength from the multiplier, every time, changed unit or not.
    void SetStepUnit(int value);
    double StepLength() const { return m_stepLength; }
    bool MultiGraph() const { return m_multiGraph; }
    void SetMultiGraph(bool value);
    ChartModel* Chart() const { return m_chart; }
    QString Title() const { return m_title; }
    void SetTitle(const QString& value);
    bool FuelMode() const { return m_fuelMode; }
    void SetFuelMode(bool value);
    QLabel* MinLabel() const { return m_minLabel; }
    void SetMinLabel(QLabel* value);
    QLabel* MaxLabel() const { return m_maxLabel; }
    void SetMaxLabel(QLabel* value);
    QLabel* CountLabel() const { return m_countLabel; }
    void SetCountLabel(QLabel* value);
    QSlider* PageBar() const { return m_pageBar; }
    // The earlier period the next run draws beside every series; None draws only the period.
    TCompareMode CompareMode() const { return m_compareMode; }
    void SetCompareMode(TCompareMode value);
    // The comparison of the chart as the last run left it.
    TCompareMode ShownCompareMode() const { return m_shownCompareMode; }
    // The statistics box's line of the summed change; hidden after a run without comparison.
    QLabel* CompareLabel() const { return m_compareLabel; }
    void SetCompareLabel(QLabel* value);
    // The window's view of Chart: the report pictures the chart as the operator sees it there.
    // Without one the report draws the chart at the windows' size.
    ChartView* View() const;
    void SetChartView(ChartView* value);

    // User interface thread only.
    void ClearChart();
    void AddSeries();
    void AddPoint();
    void TitleSeries();
    void FinishChart();
    // The outputs keep what the caller put in them when no series qualifies.
    void GetMaxValue(double& value, QString& name) const;
    void GetMinValue(double& value, QString& name) const;
    int GetPointCount() const;
    // What the report of the chart shows now: its titles, the largest and smallest values as
    // the labels get them, the chart itself for the totals and the picture.
    TStatReportFacts ReportFacts(const QString& subject) const;
    // Builds the HTML report of the chart as shown and opens it in the report viewer.
    void ShowStatReport(const QString& subject) const;

    // The value-axis title of a schema, or empty for a schema without one.
    static QString AxisTitle(bool fuelMode, int schema);

    // What one row adds to its bucket, read through fields taken once per pass.
    struct TRowAmount {
        enum class Kind { Nothing, One, Field, Product };
        Kind kind = Kind::Nothing;
        const TField* first = nullptr;
        const TField* second = nullptr;
        double operator()() const;
    };
    // The amount a row of `set` adds under `schema`: schema 0 the field schema0 (multiplied by
    // schema0Factor when one is named), schema 1 the field schema1, schema 2 one per row, any
    // other schema nothing.
    static TRowAmount SchemaAmountOf(TClientDataSet& set, int schema, const QString& schema0,
                                     const QString& schema0Factor, const QString& schema1);

protected:
    // One run, steps 2 to 10 of the protocol; Execute loops over it until termination.
    void RunOnce();
    // Steps that differ between the extractors.
    virtual void OpenConnection() {}
    virtual QString BuildQuery(TDateTime dateFrom, TDateTime dateTo) = 0;
    virtual void FillSeries() = 0;
    virtual void ReportError(const QString& message) = 0;
    // The legend name of series `seriesIndex` of one line per item; null for none: the item's.
    virtual QString SeriesName(int seriesIndex) const;

    // The bucket pass over the data set's visible rows into series `seriesIndex`.
    void Aggregate(int seriesIndex, const TRowAmount& amount);
    // Bucket sums computed elsewhere, one per bucket of the pass under way, into series
    // `seriesIndex` (or its companion in the earlier period's pass), as Aggregate puts its own.
    void AddBucketSums(int seriesIndex, const QList<double>& sums);
    void SetSeriesIndex(int value) { m_seriesIndex = value; }
    // Opens the data set on the period's rows; returns how many there are, which the progress
    // counts besides its first step.
    virtual int OpenPeriod(TDateTime dateFrom, TDateTime dateTo);
    // Whether the run under way compares (valid from the first OpenPeriod on).
    bool ComparingRun() const { return m_shownCompareMode != TCompareMode::None; }

private:
    using TBucketSink = std::function<void(TDateTime start, double sum, int rowsConsumed)>;
    using TBucketPass = std::function<void(const TBucketSink&)>;
    // Puts the buckets `pass` emits into series `seriesIndex` or its companion, batch by batch.
    // `buckets` is how many the pass will emit, or fewer when that many are too many to make room
    // for at once.
    void FillPoints(int seriesIndex, qsizetype buckets, const TBucketPass& pass);
    void CleanUp(bool& failed, QString& error);
    // The companion of series `partner` for the earlier period's pass, made when missing:
    // its index. User interface thread.
    int CompanionSeries(int partner);

    TDateTime m_pointTime = 0;
    double m_pointValue = 0;
    int m_seriesIndex = 0;
    double m_stepMultiplier;
    int m_stepUnit;
    double m_stepLength = 0;
    bool m_multiGraph = false;
    QPointer<ChartModel> m_chart;
    QString m_title;
    bool m_fuelMode = false;
    QPointer<QLabel> m_minLabel;
    QPointer<QLabel> m_maxLabel;
    QPointer<QLabel> m_countLabel;
    QPointer<QSlider> m_pageBar;
    QPointer<ChartView> m_chartView;
    TCompareMode m_compareMode = TCompareMode::None;
    TCompareMode m_shownCompareMode = TCompareMode::None;
    QPointer<QLabel> m_compareLabel;
    // The pass under way: its period, and where its companions begin (-1 in the pass of the
    // period itself, whose series are the run's own).
    TDateTime m_passFrom = 0;
    TDateTime m_passTo = 0;
    int m_companionBase = -1;
    // The workstation's settings, read at the start of each run: reading them per point would
    // cost more than the point itself.
    TFormatSettings m_settings;
    // The previous run's points, taken off the chart on the user interface thread and freed on
    // the worker: hundreds of thousands of labels would otherwise be freed in the operator's way.
    QList<QList<ChartPoint>> m_retiredPoints;
};
