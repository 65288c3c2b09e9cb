#pragma once

#include "ReportOptions.h"

#include "export/ChartTable.h"
#include "extraction/QueryItems.h"
#include "extraction/StatReport.h"
#include "platform/chart/ChartModel.h"
#include "platform/data/ClientDataSet.h"
#include "platform/data/DCOMConnection.h"

#include <functional>
#include <memory>

class TGraphExtractor;

// One statistics run without a window: the connections, data sets and chart a statistics window
// would give its extractor, the same extractor, and what the outputs read off the result.
class ReportRun {
public:
    explicit ReportRun(const ReportOptions& options);
    ~ReportRun();

    // Progress of a run: rows and buckets done, and all there are.
    using Progress = std::function<void(int done, int total)>;

    // Reads the item lists from the server and picks the options' items as the windows would
    // offer them. Throws an Exception with a Russian message for an unknown or ambiguous item.
    void ResolveItems();
    const TQueryItems& Items() const { return m_items; }

    // Builds the chart under `schema`, one line per item when `split` (both the options' by
    // default). Throws with the run's message when the extractor reports an error.
    void Build(const Progress& progress, int schema = -1, int split = -1);
    // Stops the run under way and every later one: Build then raises EOperationCancelled.
    void Cancel();

    ChartModel& Chart() { return m_chart; }
    TGraphExtractor& Extractor() { return *m_extractor; }
    // The series of the last run, named: the item's name in split mode, otherwise the items
    // joined.
    QList<TChartColumn> Columns() const;
    // The report's facts as the window's print button gets them.
    TStatReportFacts ReportFacts() const;
    QString ReportSubject() const;
    QString SchemaCaption(int schema) const;
    // What every named series adds up to, in chart order, as the report's totals.
    QList<QPair<QString, double>> Totals() const;

private:
    void RunExtractor(const Progress& progress);

    ReportOptions m_options;
    TDCOMConnection m_listConnection;
    TDCOMConnection m_runConnection;
    TClientDataSet m_runSet;
    ChartModel m_chart;
    TQueryItems m_items;
    TGSMColor m_colors;
    std::unique_ptr<TGraphExtractor> m_extractor;
    bool m_cancelled = false;
};
