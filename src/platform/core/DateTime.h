#pragma once

#include <QDateTime>

// The system's date-time: days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;

struct DateTimeParts {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int msec = 0;
    int dayOfWeek = 6; // 1 = Monday … 7 = Sunday, as QDate counts
};

// Rounds to the nearest millisecond first, so 23:59:59.9996 is the next day at midnight.
DateTimeParts decodeDateTime(TDateTime value);
TDateTime encodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int msec = 0);
// The whole days of a value, rounded to the millisecond like decodeDateTime.
QDate dateOf(TDateTime value);
TDateTime fromQDateTime(const QDateTime& value);
TDateTime fromQDate(const QDate& value);
QDateTime toQDateTime(TDateTime value);
// Milliseconds since the start of the day, after rounding; 0 for exactly midnight.
int msecOfDay(TDateTime value);

constexpr double kMsecPerDay = 86400000.0;
