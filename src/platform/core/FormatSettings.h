#pragma once

#include "platform/core/DateTime.h"

#include <QLocale>
#include <QString>

// Formatting settings in the system's own pattern language ("dd/mm/yyyy hh:nn:ss.zzz", where "/"
// and ":" stand for the date and time separators). Texts shown to the operator use the
// workstation's settings; texts exchanged with servers and files use fixed ones.
struct TFormatSettings {
    QChar decimalSeparator = QLatin1Char('.');
    QChar thousandSeparator = QLatin1Char(' ');
    QChar dateSeparator = QLatin1Char('.');
    QChar timeSeparator = QLatin1Char(':');
    QString shortDateFormat = QStringLiteral("dd/mm/yyyy");
    QString longDateFormat = QStringLiteral("d mmmm yyyy");
    QString shortTimeFormat = QStringLiteral("hh:nn");
    QString longTimeFormat = QStringLiteral("hh:nn:ss");
    QLocale locale = QLocale::c(); // day and month names

    // The workstation's regional settings, read from the locale.
    static TFormatSettings fromLocale(const QLocale& locale);
    static TFormatSettings workstation() { return fromLocale(QLocale()); }
    // For texts that other programs parse back (settings files, SQL): the workstation's settings
    // with fixed date and time formats and separators and "." as the decimal point. Callers build
    // theirs once, when the library is loaded, and only read it afterwards, so worker threads
    // need no lock.
    static TFormatSettings fixed(const QString& dateFormat, const QString& timeFormat,
                                 QChar dateSeparator, QChar timeSeparator);
};

// Formats with the system's date-time pattern language: d dd ddd dddd ddddd dddddd, m mm mmm
// mmmm (minutes right after an hour), yy yyyy, h hh, n nn, s ss, z zzz, t tt, c, "/" ":",
// and literal text in quotes. The value is rounded to the millisecond first.
QString formatDateTime(const QString& pattern, TDateTime value, const TFormatSettings& settings);

// The general floating-point format: up to `precision` significant digits, trailing zeros and a
// bare point dropped, scientific ("1.5E-7", "1E20") where fixed notation cannot show the value.
QString floatToStrGeneral(double value, int precision, const TFormatSettings& settings);

// A Qt date or time format ("dd.MM.yyyy", "HH:mm:ss") in the system's pattern language.
QString qtFormatToPattern(const QString& qtFormat);
