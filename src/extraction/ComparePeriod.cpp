#include "extraction/ComparePeriod.h"

#include "platform/chart/ChartModel.h"

#include <cmath>

namespace {

qint64 wholeMsec(TDateTime value) {
    return std::llround(value * kMsecPerDay);
}

TDateTime yearEarlier(TDateTime value) {
    const DateTimeParts p = decodeDateTime(value);
    // QDate keeps the day where it can and takes the month's last day where it cannot:
    // 29 February of a leap year becomes 28 February.
    const QDate date = QDate(p.year, p.month, p.day).addYears(-1);
    return encodeDateTime(date.year(), date.month(), date.day(), p.hour, p.minute, p.second,
                          p.msec);
}

double seriesSum(const ChartSeries& series) {
    double sum = 0;
    for (const ChartPoint& point : series.points())
        sum += point.y;
    return sum;
}

} // namespace

TComparePeriod EarlierPeriod(TCompareMode mode, TDateTime from, TDateTime to) {
    switch (mode) {
    case TCompareMode::None:
        break;
    case TCompareMode::Previous: {
        // In whole milliseconds, so that the earlier period is exactly as long and ends exactly
        // where this one starts, whatever rounding the days' fractions carry.
        const qint64 start = wholeMsec(from);
        const qint64 length = wholeMsec(to) - start;
        return {double(start - length) / kMsecPerDay, double(start) / kMsecPerDay};
    }
    case TCompareMode::Year:
        return {yearEarlier(from), yearEarlier(to)};
    }
    return {from, to};
}

QString CompareName(TCompareMode mode) {
    switch (mode) {
    case TCompareMode::None:
        break;
    case TCompareMode::Previous:
        return QStringLiteral("прошлый период");
    case TCompareMode::Year:
        return QStringLiteral("год назад");
    }
    return QString();
}

QString CompareSeriesName(TCompareMode mode, const QString& name) {
    if (name.trimmed().isEmpty())
        return CompareName(mode);
    return name + QStringLiteral(" (") + CompareName(mode) + QLatin1Char(')');
}

QString CompareChangeCaption(TCompareMode mode) {
    switch (mode) {
    case TCompareMode::None:
        break;
    case TCompareMode::Previous:
        return QStringLiteral("к прошлому периоду");
    case TCompareMode::Year:
        return QStringLiteral("к году назад");
    }
    return QString();
}

QString CompareChangeText(double current, double base, const TFormatSettings& settings) {
    const double change = (current - base) / base * 100;
    if (base == 0 || !std::isfinite(change))
        return QStringLiteral("—");
    // Rounded first, so that a change of -0.04 % reads 0,0 % and not -0,0 %.
    const double tenths = std::round(change * 10) / 10;
    QString digits = QString::number(std::fabs(tenths), 'f', 1);
    digits.replace(QLatin1Char('.'), settings.decimalSeparator);
    const QString sign = tenths > 0   ? QStringLiteral("+")
                         : tenths < 0 ? QStringLiteral("-")
                                      : QString();
    return sign + digits + QStringLiteral(" %");
}

QString CompareChangeLine(TCompareMode mode, double current, double base,
                          const TFormatSettings& settings) {
    return CompareChangeCaption(mode) + QStringLiteral(": ") +
           CompareChangeText(current, base, settings);
}

QList<TCompareTotal> CompareTotals(const ChartModel& chart) {
    QList<TCompareTotal> totals;
    for (int i = 0; i < chart.seriesCount(); ++i) {
        const ChartSeries& companion = *chart.series(i);
        const ChartSeries* series = chart.series(companion.partner());
        if (!companion.isCompanion() || !series)
            continue;
        totals.append({series->title(), seriesSum(*series), seriesSum(companion)});
    }
    return totals;
}
