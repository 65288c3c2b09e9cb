#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class ReportRun;
struct ReportOptions;

// Writes every output the options name from a finished run, the report and data files first and
// the totals table last (it builds the chart again under each schema). Returns the paths
// written; throws an Exception naming the file when one cannot be written.
QStringList WriteReportOutputs(ReportRun& run, const ReportOptions& options);

// The plain-text table of the items' totals under the three schemas, drawn with "+", "-" and
// "|" as the suite's plain-text reports are; counts stand without decimals.
QStringList ItemTotalsTable(const QString& heading, const QString& period,
                            const QStringList& header, const QList<QStringList>& rows,
                            const QStringList& total);
