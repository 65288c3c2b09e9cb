#include "platform/core/DateTime.h"

#include <cmath>

namespace {

// A constant expression, so that other files' constants built at load time may use it.
constexpr QDate kEpoch = QDate::fromJulianDay(2415019); // 1899-12-30

struct DayAndTime {
    qint64 day;
    qint64 msec;
};

// Negative values keep the time of day in the absolute value of the fraction: -1.25 is
// 1899-12-29 06:00, which is how the stored values of the suite are to be read.
DayAndTime split(TDateTime value) {
    if (!std::isfinite(value))
        return {0, 0};
    if (value >= 0) {
        const auto total = static_cast<qint64>(std::llround(value * kMsecPerDay));
        return {total / qint64(kMsecPerDay), total % qint64(kMsecPerDay)};
    }
    double whole = std::trunc(value);
    auto msec = static_cast<qint64>(std::llround(std::fabs(value - whole) * kMsecPerDay));
    if (msec >= qint64(kMsecPerDay)) {
        msec -= qint64(kMsecPerDay);
        whole -= 1;
    }
    return {static_cast<qint64>(whole), msec};
}

} // namespace

DateTimeParts decodeDateTime(TDateTime value) {
    const DayAndTime dt = split(value);
    const QDate date = kEpoch.addDays(dt.day);
    DateTimeParts p;
    p.year = date.year();
    p.month = date.month();
    p.day = date.day();
    p.dayOfWeek = date.dayOfWeek();
    p.hour = int(dt.msec / 3600000);
    p.minute = int(dt.msec / 60000 % 60);
    p.second = int(dt.msec / 1000 % 60);
    p.msec = int(dt.msec % 1000);
    return p;
}

TDateTime encodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
    const double days = double(kEpoch.daysTo(QDate(year, month, day)));
    const double time =
        (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / kMsecPerDay;
    return days >= 0 ? days + time : days - time;
}

QDate dateOf(TDateTime value) {
    return kEpoch.addDays(split(value).day);
}

int msecOfDay(TDateTime value) {
    return int(split(value).msec);
}

TDateTime fromQDateTime(const QDateTime& value) {
    const QTime t = value.time();
    const QDate d = value.date();
    return encodeDateTime(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec());
}

TDateTime fromQDate(const QDate& value) {
    return double(kEpoch.daysTo(value));
}

QDateTime toQDateTime(TDateTime value) {
    const DayAndTime dt = split(value);
    return QDateTime(kEpoch.addDays(dt.day), QTime::fromMSecsSinceStartOfDay(int(dt.msec)));
}
