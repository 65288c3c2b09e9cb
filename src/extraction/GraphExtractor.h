#pragma once

#include "extraction/Extractor.h"
#include "platform/chart/ChartModel.h"
#include "platform/core/FormatSettings.h"

#include <QLabel>
#include <QPointer>
#include <QSlider>
#include <QString>

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
    // Builds the HTML report of the chart as shown and opens it in the report viewer.
    void ShowStatReport(const QString& subject) const;

    // The value-axis title of a schema, or empty for a schema without one.
    static QString AxisTitle(bool fuelMode, int schema);

protected:
    // What one row adds to its bucket, read through fields taken once per pass.
    struct TRowAmount {
        enum class Kind { Nothing, One, Field, Product };
        Kind kind = Kind::Nothing;
        const TField* first = nullptr;
        const TField* second = nullptr;
        double operator()() const;
    };

    // One run, steps 2 to 10 of the protocol; Execute loops over it until termination.
    void RunOnce();
    // Steps that differ between the extractors.
    virtual void OpenConnection() {}
    virtual QString BuildQuery() = 0;
    virtual void FillSeries() = 0;
    virtual void ReportError(const QString& message) = 0;

    // The bucket pass over the data set's visible rows into series `seriesIndex`.
    void Aggregate(int seriesIndex, const TRowAmount& amount);
    // The amount a row adds under the current Schema: schema 0 the field schema0 (multiplied by
    // schema0Factor when one is named), schema 1 the field schema1, schema 2 one per row, any
    // other schema nothing.
    TRowAmount SchemaAmount(const QString& schema0, const QString& schema0Factor,
                            const QString& schema1) const;
    void SetSeriesIndex(int value) { m_seriesIndex = value; }

private:
    void CleanUp(bool& failed, QString& error);

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
    // The workstation's settings, read at the start of each run: reading them per point would
    // cost more than the point itself.
    TFormatSettings m_settings;
    // The previous run's points, taken off the chart on the user interface thread and freed on
    // the worker: hundreds of thousands of labels would otherwise be freed in the operator's way.
    QList<QList<ChartPoint>> m_retiredPoints;
};
