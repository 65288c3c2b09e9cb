#include "extraction/QueryLiterals.h"

namespace {

TFormatSettings makeQueryFormatSettings() {
    TFormatSettings fs = TFormatSettings::workstation();
    fs.decimalSeparator = QLatin1Char('.');
    fs.dateSeparator = QLatin1Char('-');
    fs.timeSeparator = QLatin1Char(':');
    fs.shortDateFormat = fs.longDateFormat = QStringLiteral("yyyy/mm/dd");
    fs.shortTimeFormat = fs.longTimeFormat = QStringLiteral("hh:nn:ss.zzz");
    return fs;
}

// Built at load time rather than on the first query, which may come from a worker thread.
[[maybe_unused]] const TFormatSettings& loadedAtStartup = QueryFormatSettings();

} // namespace

const TFormatSettings& QueryFormatSettings() {
    static const TFormatSettings settings = makeQueryFormatSettings();
    return settings;
}

QString DateTimeToQueryText(bool withMsec, TDateTime value) {
    static const QString withMs = QStringLiteral("yyyy/mm/dd hh:nn:ss.zzz");
    static const QString withoutMs = QStringLiteral("yyyy/mm/dd hh:nn:ss");
    return formatDateTime(withMsec ? withMs : withoutMs, value, QueryFormatSettings());
}

QString FloatToQueryText(double value) {
    return floatToStrGeneral(value, 15, QueryFormatSettings());
}

QString QuotedSqlString(const QString& value) {
    QString doubled = value;
    doubled.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + doubled + QLatin1Char('\'');
}
