#pragma once

#include <QList>
#include <QPair>
#include <QString>

class TChartTable;

// What the second sheet shows, as the statistics report shows it: the largest and the smallest
// value with their series, and the total of every named series whose total is not 0.
struct TXlsxSummary {
    // The chart's title: the report's title line.
    QString title;
    QString valueAxisTitle;
    double maxValue = 0;
    QString maxName;
    double minValue = 0;
    QString minName;
    QList<QPair<QString, double>> totals;
};

// A workbook of two sheets: "Данные", the table with real dates and numbers (two decimals), a
// frozen header row, fitted columns and a native line chart of every column titled with
// summary.title; "Итоги", the summary. Written in the library's constant-memory mode, row by row,
// into a file beside `path` that replaces it at the end (see TExportFile).
void WriteChartXlsx(const QString& path, const TChartTable& table, const TXlsxSummary& summary);

// The rows a sheet can hold, the header included.
inline constexpr int kXlsxMaxRows = 1048576;
