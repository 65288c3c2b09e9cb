#include "platform/core/FormatSettings.h"

#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

namespace {

QString pad(int value, int width) {
    return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
}

int runLength(const QString& s, int i) {
    const QChar c = s.at(i).toLower();
    int n = 1;
    while (i + n < s.size() && s.at(i + n).toLower() == c)
        ++n;
    return n;
}

void appendFormatted(QString& out, const QString& pattern, const DateTimeParts& p, TDateTime value,
                     const TFormatSettings& fs, int depth) {
    bool lastWasHour = false;
    int i = 0;
    while (i < pattern.size()) {
        const QChar ch = pattern.at(i);
        const QChar lower = ch.toLower();
        if (ch == QLatin1Char('\'') || ch == QLatin1Char('"')) {
            const int end = pattern.indexOf(ch, i + 1);
            const int stop = end < 0 ? pattern.size() : end;
            out += pattern.mid(i + 1, stop - i - 1);
            i = stop + 1;
            continue;
        }
        if (ch == QLatin1Char('/')) {
            out += fs.dateSeparator;
            ++i;
            continue;
        }
        if (ch == QLatin1Char(':')) {
            out += fs.timeSeparator;
            ++i;
            continue;
        }
        const int n = runLength(pattern, i);
        // Nested formats (c, ddddd, t) stop after one level so a settings pattern that names
        // itself cannot recurse without end.
        const bool nest = depth < 2;
        switch (lower.unicode()) {
        case 'y':
            out += n <= 2 ? pad(p.year % 100, 2) : pad(p.year, 4);
            break;
        case 'm':
            if (lastWasHour && n <= 2)
                out += n == 1 ? QString::number(p.minute) : pad(p.minute, 2);
            else if (n == 1)
                out += QString::number(p.month);
            else if (n == 2)
                out += pad(p.month, 2);
            else
                out += fs.locale.monthName(p.month,
                                           n == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
            break;
        case 'd':
            if (n == 1)
                out += QString::number(p.day);
            else if (n == 2)
                out += pad(p.day, 2);
            else if (n == 3 || n == 4)
                out += fs.locale.dayName(p.dayOfWeek,
                                         n == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
            else if (nest)
                appendFormatted(out, n == 5 ? fs.shortDateFormat : fs.longDateFormat, p, value, fs,
                                depth + 1);
            break;
        case 'h':
            out += n == 1 ? QString::number(p.hour) : pad(p.hour, 2);
            break;
        case 'n':
            out += n == 1 ? QString::number(p.minute) : pad(p.minute, 2);
            break;
        case 's':
            out += n == 1 ? QString::number(p.second) : pad(p.second, 2);
            break;
        case 'z':
            out += n < 3 ? QString::number(p.msec) : pad(p.msec, 3);
            break;
        case 't':
            if (nest)
                appendFormatted(out, n == 1 ? fs.shortTimeFormat : fs.longTimeFormat, p, value, fs,
                                depth + 1);
            break;
        case 'c':
            if (nest) {
                appendFormatted(out, fs.shortDateFormat, p, value, fs, depth + 1);
                if (p.hour || p.minute || p.second || p.msec) {
                    out += QLatin1Char(' ');
                    appendFormatted(out, fs.longTimeFormat, p, value, fs, depth + 1);
                }
            }
            break;
        default:
            out += pattern.mid(i, n);
            break;
        }
        if (lower != QLatin1Char(' '))
            lastWasHour = lower == QLatin1Char('h');
        i += n;
    }
}

} // namespace

TFormatSettings TFormatSettings::fromLocale(const QLocale& locale) {
    TFormatSettings fs;
    fs.locale = locale;
    const QString dp = locale.decimalPoint();
    fs.decimalSeparator = dp.isEmpty() ? QLatin1Char('.') : dp.at(0);
    const QString gs = locale.groupSeparator();
    fs.thousandSeparator = gs.isEmpty() ? QLatin1Char(' ') : gs.at(0);
    const QString qtShortDate = locale.dateFormat(QLocale::ShortFormat);
    for (QChar c : qtShortDate)
        if (!c.isLetter() && c != QLatin1Char('\'')) {
            fs.dateSeparator = c;
            break;
        }
    const QString qtLongTime = locale.timeFormat(QLocale::LongFormat);
    for (QChar c : qtLongTime)
        if (!c.isLetter() && c != QLatin1Char('\'') && !c.isSpace()) {
            fs.timeSeparator = c;
            break;
        }
    // Years keep the width the workstation gives them: "dd.MM.yy" shows 24.08.09.
    fs.shortDateFormat = qtFormatToPattern(qtShortDate);
    fs.longDateFormat = qtFormatToPattern(locale.dateFormat(QLocale::LongFormat));
    fs.shortTimeFormat = qtFormatToPattern(locale.timeFormat(QLocale::ShortFormat));
    fs.longTimeFormat = qtFormatToPattern(qtLongTime);
    return fs;
}

QString qtFormatToPattern(const QString& qt) {
    QString out;
    int i = 0;
    while (i < qt.size()) {
        const QChar c = qt.at(i);
        if (c == QLatin1Char('\'')) {
            const int end = qt.indexOf(QLatin1Char('\''), i + 1);
            const int stop = end < 0 ? qt.size() : end;
            out += QLatin1Char('"') + qt.mid(i + 1, stop - i - 1) + QLatin1Char('"');
            i = stop + 1;
            continue;
        }
        int n = 1;
        while (i + n < qt.size() && qt.at(i + n) == c)
            ++n;
        switch (c.unicode()) {
        case 'd':
            out += QString(n, QLatin1Char('d'));
            break;
        case 'M':
            out += QString(qMin(n, 4), QLatin1Char('m'));
            break;
        case 'y':
            out += n <= 2 ? QStringLiteral("yy") : QStringLiteral("yyyy");
            break;
        case 'h':
        case 'H':
            out += QString(qMin(n, 2), QLatin1Char('h'));
            break;
        case 'm':
            out += QString(qMin(n, 2), QLatin1Char('n'));
            break;
        case 's':
            out += QString(qMin(n, 2), QLatin1Char('s'));
            break;
        case 'z':
            out += QStringLiteral("zzz");
            break;
        case 't':
        case 'A':
        case 'a':
        case 'P':
        case 'p':
            break; // time zones and am/pm markers have no place in the system's formats
        case '.':
        case '-':
            // A separator between date fields is the date separator; elsewhere it is literal.
            out += QString(n, QLatin1Char('/'));
            break;
        case ':':
            out += QString(n, QLatin1Char(':'));
            break;
        default:
            out += qt.mid(i, n);
            break;
        }
        i += n;
    }
    return out.trimmed();
}

QString formatDateTime(const QString& pattern, TDateTime value, const TFormatSettings& settings) {
    QString out;
    appendFormatted(out, pattern, decodeDateTime(value), value, settings, 0);
    return out;
}

QString floatToStrGeneral(double value, int precision, const TFormatSettings& settings) {
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (value == 0)
        return QStringLiteral("0");
    precision = qBound(1, precision, 18);
    // Every digit of the binary value (a double has at most 767 significant ones), rounded here
    // rather than by the C library: a value exactly half-way between two results rounds away
    // from zero, as the suite's runtime does, and the library would round it to even.
    char buf[800];
    const auto written =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 767);
    const std::string_view exact(buf, std::size_t(written.ptr - buf)); // "d.ddd…e±xx"
    const std::size_t e = exact.find('e');
    int exp10 = 0;
    const char* expText = exact.data() + e + 1;
    std::from_chars(expText + (*expText == '+'), exact.data() + exact.size(), exp10);
    std::string kept = exact[0] + std::string(exact.substr(2, std::size_t(precision) - 1));
    if (exact[std::size_t(precision) + 1] >= '5') {
        int i = precision - 1;
        while (i >= 0 && kept[std::size_t(i)] == '9')
            kept[std::size_t(i--)] = '0';
        if (i >= 0) {
            ++kept[std::size_t(i)];
        } else {
            kept.insert(kept.begin(), '1');
            kept.pop_back();
            ++exp10;
        }
    }
    const bool negative = value < 0;
    QString digits = QString::fromLatin1(kept.data(), qsizetype(kept.size()));
    while (digits.size() > 1 && digits.endsWith(QLatin1Char('0')))
        digits.chop(1);
    // Decimal position: the value is 0.<digits> × 10^point.
    const int point = exp10 + 1;
    QString out;
    if (negative)
        out += QLatin1Char('-');
    if (point > precision || point < -4) {
        out += digits.at(0);
        if (digits.size() > 1)
            out += settings.decimalSeparator + digits.mid(1);
        out += QLatin1Char('E');
        out += QString::number(point - 1);
    } else if (point <= 0) {
        out += QLatin1Char('0');
        out += settings.decimalSeparator;
        out += QString(-point, QLatin1Char('0'));
        out += digits;
    } else if (digits.size() <= point) {
        out += digits;
        out += QString(point - digits.size(), QLatin1Char('0'));
    } else {
        out += digits.left(point);
        out += settings.decimalSeparator;
        out += digits.mid(point);
    }
    return out;
}

TFormatSettings TFormatSettings::fixed(const QString& dateFormat, const QString& timeFormat,
                                       QChar dateSeparator, QChar timeSeparator) {
    TFormatSettings fs = workstation();
    fs.shortDateFormat = fs.longDateFormat = dateFormat;
    fs.shortTimeFormat = fs.longTimeFormat = timeFormat;
    fs.dateSeparator = dateSeparator;
    fs.timeSeparator = timeSeparator;
    fs.decimalSeparator = QLatin1Char('.');
    return fs;
}
