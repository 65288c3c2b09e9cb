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
