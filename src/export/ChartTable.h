#pragma once

#include "platform/core/DateTime.h"

#include <QList>
#include <QString>

class ChartSeries;

// The numbers of a chart as a table: one row per bucket start, one column per series. The
// series are read where they are, point by point, so a table of any length costs no copy.
struct TChartColumn {
    QString name;
    const ChartSeries* series = nullptr;
};

class TChartTable {
public:
    explicit TChartTable(QList<TChartColumn> columns);

    const QList<TChartColumn>& columns() const { return m_columns; }
    // The rows of the longest series; a shorter series has no value in the rows past its end.
    int rowCount() const { return m_rowCount; }
    // The row's bucket start, rounded to the millisecond.
    TDateTime rowTime(int row) const;
    // False where the column's series has no point in that row.
    bool hasValue(int column, int row) const;
    double value(int column, int row) const;

private:
    QList<TChartColumn> m_columns;
    int m_rowCount = 0;
    int m_longest = -1;
};

// A value as the statistics show it, rounded to cents; -0 becomes 0.
double CentValue(double value);
