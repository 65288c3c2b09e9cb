#pragma once

#include "platform/core/DateTime.h"
#include "platform/core/FormatSettings.h"
#include "platform/core/StatValueText.h"

#include <QString>

// Texts the operator reads off a chart, its labels and its report. They follow the workstation's
// regional settings, unlike the literals sent to the server. Their numbers are StatValueText's,
// which the chart's marks share.

// A point's label: "dd.mm.yy hh:mm" with the workstation's time separator.
QString PointLabelText(TDateTime value, const TFormatSettings& settings);

// A period bound in a title: short date and long time, the time left out at midnight.
QString PeriodBoundText(TDateTime value, const TFormatSettings& settings);
