#pragma once

#include "platform/core/DateTime.h"

#include <QString>

#include <string_view>

// The station database's one date-time form, shared by every server kind and the data sets.
namespace StationDateTime {

// A date-time as the station stores it: 'yyyy-mm-dd hh:nn:ss.zzz' without the apostrophes. The
// fixed width makes text order equal time order, so the quoted literals of the queries compare
// correctly with plain text comparison.
QString toText(TDateTime value);

// Reads "yyyy-mm-dd", "yyyy-mm-dd hh:nn", "yyyy-mm-dd hh:nn:ss" or with ".z", ".zz", ".zzz" (a 'T'
// in place of the blank too). False for anything else, including an impossible date.
bool parse(std::string_view text, TDateTime& value);
bool parse(const QString& text, TDateTime& value);

// The date-time of a day counted from 1970-01-01 and the milliseconds into it, computed the way
// parse() computes it, so that a server handing over binary time stamps gives the same values.
TDateTime fromUnixDay(qint64 day, qint64 msecOfDay);
// The same for a time stamp counted in milliseconds from 1970-01-01, and its text in the form
// toText() writes, taken from the milliseconds themselves, not from a date-time rounded back.
TDateTime fromUnixMsec(qint64 msec);
QString unixMsecText(qint64 msec);

} // namespace StationDateTime
