#include "platform/data/StationDateTime.h"

#include <QDate>

#include <cmath>

namespace StationDateTime {

QString toText(TDateTime value) {
    const DateTimeParts p = decodeDateTime(value);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day,
                  p.hour, p.minute, p.second, p.msec);
    return QString::fromLatin1(buf);
}

namespace {

// Julian day of 1899-12-30, the system's day zero.
constexpr qint64 kEpochJulianDay = 2415019;
constexpr qint64 kUnixEpochJulianDay = 2440588;

bool digits(std::string_view s, size_t pos, size_t count, int& out) {
    if (pos + count > s.size())
        return false;
    int v = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        const char c = s[i];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

// The day of a millisecond from 1970-01-01, rounded down also before 1970.
qint64 floorDay(qint64 msec) {
    const auto perDay = qint64(kMsecPerDay);
    return msec / perDay - (msec % perDay < 0 ? 1 : 0);
}

TDateTime fromJulianDay(qint64 julianDay, qint64 msecOfDay) {
    const double days = double(julianDay - kEpochJulianDay);
    const double time = double(msecOfDay) / kMsecPerDay;
    return days >= 0 ? days + time : days - time;
}

} // namespace

TDateTime fromUnixDay(qint64 day, qint64 msecOfDay) {
    return fromJulianDay(day + kUnixEpochJulianDay, msecOfDay);
}

TDateTime fromUnixMsec(qint64 msec) {
    const qint64 day = floorDay(msec);
    return fromUnixDay(day, msec - day * qint64(kMsecPerDay));
}

QString unixMsecText(qint64 msec) {
    const qint64 day = floorDay(msec);
    const qint64 ms = msec - day * qint64(kMsecPerDay);
    const QDate date = QDate::fromJulianDay(day + kUnixEpochJulianDay);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", date.year(), date.month(),
                  date.day(), int(ms / 3600000), int(ms / 60000 % 60), int(ms / 1000 % 60),
                  int(ms % 1000));
    return QString::fromLatin1(buf);
}

// Hand-written because it runs once per fetched row of every sales query; QDateTime::fromString
// costs more than the rest of the fetch together.
bool parse(std::string_view s, TDateTime& value) {
    int year, month, day, hour = 0, minute = 0, second = 0, msec = 0;
    if (s.size() < 10 || !digits(s, 0, 4, year) || s[4] != '-' || !digits(s, 5, 2, month) ||
        s[7] != '-' || !digits(s, 8, 2, day))
        return false;
    size_t pos = 10;
    if (pos < s.size()) {
        if ((s[pos] != ' ' && s[pos] != 'T') || !digits(s, pos + 1, 2, hour) ||
            pos + 3 >= s.size() || s[pos + 3] != ':' || !digits(s, pos + 4, 2, minute))
            return false;
        pos += 6;
        if (pos < s.size()) {
            if (s[pos] != ':' || !digits(s, pos + 1, 2, second))
                return false;
            pos += 3;
            if (pos < s.size()) {
                if (s[pos] != '.' || pos + 1 == s.size() || s.size() - pos - 1 > 3)
                    return false;
                int fraction = 0;
                const size_t count = s.size() - pos - 1;
                if (!digits(s, pos + 1, count, fraction))
                    return false;
                msec = fraction * (count == 1 ? 100 : count == 2 ? 10 : 1);
            }
        }
    }
    if (hour > 23 || minute > 59 || second > 59)
        return false;
    const QDate date(year, month, day);
    if (!date.isValid())
        return false;
    value = fromJulianDay(date.toJulianDay(),
                          hour * 3600000ll + minute * 60000ll + second * 1000ll + msec);
    return true;
}

bool parse(const QString& text, TDateTime& value) {
    const QByteArray latin = text.trimmed().toLatin1();
    return parse(std::string_view(latin.constData(), size_t(latin.size())), value);
}

} // namespace StationDateTime
