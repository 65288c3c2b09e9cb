#include "export/ChartTable.h"

#include "platform/chart/ChartSeries.h"

#include <cmath>

TChartTable::TChartTable(QList<TChartColumn> columns)
    : m_columns(std::move(columns)) {
    for (int i = 0; i < m_columns.size(); ++i) {
        const ChartSeries* series = m_columns.at(i).series;
        if (series && series->count() > m_rowCount) {
            m_rowCount = series->count();
            m_longest = i;
        }
    }
}

TDateTime TChartTable::rowTime(int row) const {
    // Bucket starts are sums of steps and carry their rounding (12:00 as 11:59:59.99999…); the
    // windows' labels round them to the millisecond, and so does the table.
    return std::round(m_columns.at(m_longest).series->point(row).x * kMsecPerDay) / kMsecPerDay;
}

bool TChartTable::hasValue(int column, int row) const {
    const ChartSeries* series = m_columns.at(column).series;
    return series && row < series->count();
}

double TChartTable::value(int column, int row) const {
    return m_columns.at(column).series->point(row).y;
}

double CentValue(double value) {
    const double cents = std::round(value * 100) / 100;
    return cents == 0 ? 0.0 : cents;
}
