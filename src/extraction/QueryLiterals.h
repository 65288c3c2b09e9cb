#pragma once

#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "platform/core/FormatSettings.h"

#include <memory>

// Literals that go into the SQL sent to the statistics server. The server parses them, so their
// form is fixed and never follows the workstation's regional settings.

// Filled when the library is loaded and only read afterwards, so worker threads need no lock.
const TFormatSettings& QueryFormatSettings();

// 2009-08-24 07:05:03.045 (with milliseconds) or 2009-08-24 07:05:03; no quotes.
QString DateTimeToQueryText(bool withMsec, TDateTime value);

// General format with 15 significant digits and "." as the point: 5, 12.5, 1E20; no quotes.
QString FloatToQueryText(double value);

// The SQL text literal of a value: apostrophes around it, inner apostrophes doubled.
QString QuotedSqlString(const QString& value);
