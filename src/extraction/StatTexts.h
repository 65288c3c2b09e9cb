#pragma once

#include "platform/core/DateTime.h"
#include "platform/core/FormatSettings.h"

#include <QString>

// Texts the operator reads off a chart, its labels and its report. They follow the workstation's
// regional settings, unlike the literals sent to the server.

// A statistics number: rounded to at most 8 significant digits and 2 decimals, half-way cases
// away from zero on the number's shortest decimal form (1000.125 gives 1000,13), written with
// exactly two decimals and no thousands separator; beyond 8 integer digits in scientific form
// (1,2345679E8).
QString StatValueText(double value, const TFormatSettings& settings);
// The same with `digits` significant digits instead of 8; the report's totals use 10.
QString StatNumberText(double value, int digits, const TFormatSettings& settings);

// A point's label: "dd.mm.yy hh:mm" with the workstation's time separator.
QString PointLabelText(TDateTime value, const TFormatSettings& settings);

// A period bound in a title: short date and long time, the time left out at midnight.
QString PeriodBoundText(TDateTime value, const TFormatSettings& settings);
