#pragma once

#include "extraction/GraphExtractor.h"

// The fuel window's extractor: fillings from LogTran, summed as litres, money or number of
// fillings, all grades in one line or one line per grade in the grade's colour.
class TGSMExtractor : public TGraphExtractor {
public:
    TGSMExtractor(int stepUnit, TDateTime dateFrom, TDateTime dateTo, double stepMultiplier,
                  TClientDataSet* dataSet, ChartModel* chart, QWidget* ownerWindow,
                  const TGSMColor& colors, QSlider* pageBar);
    ~TGSMExtractor() override;

    double LiterLow() const { return m_literLow; }
    void SetLiterLow(double value);
    double LiterHigh() const { return m_literHigh; }
    void SetLiterHigh(double value);
    const TGSMColor& Colors() const { return m_colors; }
    quint32 CurrentColor() const { return m_currentColor; }

    // The grade selection is not part of the statement: the fetched rows are filtered on the
    // client, so the per-grade lines reuse one result.
    QString BuildSQL(TDateTime dateFrom, TDateTime dateTo) const;
    // "GsmName in ('a','b')", apostrophes doubled.
    static QString GradeFilter(const QStringList& grades);

    void Aggregate(int seriesIndex);

protected:
    void Execute() override;
    QString BuildQuery(TDateTime dateFrom, TDateTime dateTo) override;
    void FillSeries() override;
    void ReportError(const QString& message) override;

private:
    double m_literLow = 0;
    double m_literHigh = 0;
    TGSMColor m_colors;
    quint32 m_currentColor = 0;
};

// The fuel window's chart comes with eight series of its own (the second keeps the chart's
// automatic colour); they take part in the smallest value of a split run, so whatever draws the
// fuel chart without the window adds them too, for the same numbers.
void AddFuelWindowSeries(ChartModel& chart);
