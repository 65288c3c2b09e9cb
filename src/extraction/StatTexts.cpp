#include "extraction/StatTexts.h"

QString PointLabelText(TDateTime value, const TFormatSettings& settings) {
    return formatDateTime(QStringLiteral("dd.mm.yy hh:mm"), value, settings);
}

QString PeriodBoundText(TDateTime value, const TFormatSettings& settings) {
    return formatDateTime(QStringLiteral("c"), value, settings);
}
