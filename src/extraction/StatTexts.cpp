#include "extraction/StatTexts.h"

QString PointLabelText(TDateTime value, const TFormatSettings& settings) {
    // One label per point, tens of thousands per run on the user interface thread: written digit
    // by digit instead of through the pattern interpreter, which gives the same text.
    int year = 0, month = 0, day = 0;
    dateOf(value).getDate(&year, &month, &day);
    if (year < 0)
        return formatDateTime(QStringLiteral("dd.mm.yy hh:mm"), value, settings);
    const int minutes = msecOfDay(value) / 60000;
    QString out(14, Qt::Uninitialized);
    QChar* c = out.data();
    const auto two = [&c](int n) {
        *c++ = QLatin1Char(char('0' + n / 10 % 10));
        *c++ = QLatin1Char(char('0' + n % 10));
    };
    two(day);
    *c++ = QLatin1Char('.');
    two(month);
    *c++ = QLatin1Char('.');
    two(year % 100);
    *c++ = QLatin1Char(' ');
    two(minutes / 60);
    *c++ = settings.timeSeparator;
    two(minutes % 60);
    return out;
}

QString PeriodBoundText(TDateTime value, const TFormatSettings& settings) {
    return formatDateTime(QStringLiteral("c"), value, settings);
}
