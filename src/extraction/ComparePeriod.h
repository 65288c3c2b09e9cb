#pragma once

#include "platform/core/DateTime.h"
#include "platform/core/FormatSettings.h"

#include <QList>
#include <QString>

class ChartModel;

// A chart compared with an earlier period: every series of the run gets a companion series of
// that period, its bucket i drawn at bucket i of the run's own period.
enum class TCompareMode { None = 0, Previous = 1, Year = 2 };

struct TComparePeriod {
    TDateTime from = 0;
    TDateTime to = 0;
};

// Previous: as long as [from, to) and ending at `from`. Year: the same calendar dates and times
// one year earlier, 29 February becoming 28 February; the two periods may then differ by a day.
// None gives [from, to) itself. Bounds are whole milliseconds, as the period's literals are.
TComparePeriod EarlierPeriod(TCompareMode mode, TDateTime from, TDateTime to);

// "прошлый период" or "год назад".
QString CompareName(TCompareMode mode);
// The legend name of the companion of `name`: "АИ-92 (прошлый период)"; the single summed series
// has no name, and its companion is called by the period alone.
QString CompareSeriesName(TCompareMode mode, const QString& name);
// "к прошлому периоду" or "к году назад".
QString CompareChangeCaption(TCompareMode mode);
// The change from `base` to `current` in per cent with one decimal and its sign: "+12,3 %",
// "-4,0 %", "0,0 %". A base of 0 (or a sum that is no number) has no change to show: "—".
QString CompareChangeText(double current, double base, const TFormatSettings& settings);
// The statistics box's line: "к прошлому периоду: +12,3 %".
QString CompareChangeLine(TCompareMode mode, double current, double base,
                          const TFormatSettings& settings);

// One series of a compared chart and its companion, summed over all their points.
struct TCompareTotal {
    // The series' title; empty for the single summed series.
    QString name;
    double current = 0;
    double earlier = 0;
};
// Every companion on the chart with its series, in chart order; empty when nothing is compared.
QList<TCompareTotal> CompareTotals(const ChartModel& chart);
