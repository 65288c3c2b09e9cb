#pragma once

#include "platform/core/FormatSettings.h"

#include <QString>

// A statistics number as the operator reads it in the labels, the value window, the report and the
// chart's marks: rounded to at most 8 significant digits and 2 decimals, half-way cases away from
// zero on the number's shortest decimal form (1000.125 gives 1000,13), written with exactly two
// decimals, the workstation's decimal separator and no thousands separator; beyond 8 integer
// digits in scientific form (1,2345679E8).
QString StatValueText(double value, const TFormatSettings& settings);
// The same with `significant` digits instead of 8; the report's totals use 10.
QString StatNumberText(double value, int significant, const TFormatSettings& settings);
