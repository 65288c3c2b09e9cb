#pragma once

#include "extraction/ComparePeriod.h"
#include "platform/core/DateTime.h"
#include "platform/core/FormatSettings.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

class ChartModel;
class ChartView;

// The statistics report: an HTML page with the chart's titles, the largest and smallest values,
// the totals per named series and a picture of the chart. The document is built here without a
// window, so that what the operator prints can be checked line by line.

// What one report shows, gathered by whoever owns the chart (the window's extractor, or a run
// without a window) at the moment of printing. The builder asks nothing back.
struct TStatReportFacts {
    QString subject;
    QStringList titleLines;
    TDateTime madeAt = 0;
    double maxValue = 0;
    QString maxName;
    double minValue = 0;
    QString minName;
    // Null: no totals line and no picture line.
    ChartModel* chart = nullptr;
    QSize pictureSize;
    QString picturePath;
    // The earlier period the chart's companions show; with None the report is the period's alone.
    TCompareMode compareMode = TCompareMode::None;
};

// The lines joined by commas; a line with a blank, a control character, a comma or a double quote
// is quoted, its quotes doubled. One empty line gives "" and no lines nothing.
QString CommaText(const QStringList& lines);

// "<nobr>title : sum</nobr><br>" for every series with a title and a sum other than 0; the
// companions of an earlier period are not the period's totals and stay out.
QString StatReportTotals(const ChartModel& chart, const TFormatSettings& settings);

// The size the page shows a bitmap at: the longer side 550 pixels, the proportions kept.
QSize StatReportPictureSize(QSize bitmap);

// Where the chart's picture is written and how the page names it: the suite's TEMP folder.
QString StatReportPicturePath();

// The earlier period's totals below ИТОГО: per series its companion's total and the change in %,
// then the summed change. Empty without companions on the chart.
QString StatReportCompareLine(const ChartModel& chart, TCompareMode mode,
                              const TFormatSettings& settings);

QStringList StatReportLines(const TStatReportFacts& facts, const TFormatSettings& settings);

// The lines in code page 1251, each followed by CR LF. A character the code page cannot hold
// becomes an HTML numeric character reference, so a name from a database in another encoding
// still reads right in the report instead of turning into question marks.
QByteArray StatReportDocument(const QStringList& lines);

// The size a chart without a window around it is drawn at: the size the windows open with.
QSize DetachedChartSize();

// Writes the chart as the operator sees it (`shown`, the window's view of it, page and zoom
// included) to `path` as a bitmap and returns the size of the file's picture. Without a view the
// chart is drawn at `detachedSize`. Throws when the file cannot be written or read back.
QSize WriteChartPicture(ChartModel* chart, ChartView* shown, const QString& path,
                        QSize detachedSize = DetachedChartSize());

// Writes the chart's picture to facts.picturePath (the suite's TEMP folder when empty) and
// sets facts.pictureSize; nothing without a chart.
void AttachChartPicture(TStatReportFacts& facts, ChartView* shown);

// The report viewer's entry (plain text, HTML in code page 1251, title). Extraction does not
// link the viewer: the plug-in hands the entry over when it is loaded.
using TReportViewerEntry =
    std::function<void(const QString& plainText, const QByteArray& htmlText, const QString& title)>;
void SetReportViewerEntry(TReportViewerEntry entry);

// Writes the chart's picture, builds the report and opens it in the viewer; returns when the
// viewer is closed.
void ShowStatisticsReport(TStatReportFacts facts, ChartView* shown);
