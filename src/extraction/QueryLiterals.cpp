#include "extraction/QueryLiterals.h"

namespace {

// Built at load time rather than on the first query, which may come from a worker thread.
[[maybe_unused]] const TFormatSettings& loadedAtStartup = QueryFormatSettings();

} // namespace

const TFormatSettings& QueryFormatSettings() {
    static const TFormatSettings settings =
        TFormatSettings::fixed(QStringLiteral("yyyy/mm/dd"), QStringLiteral("hh:nn:ss.zzz"),
                               QLatin1Char('-'), QLatin1Char(':'));
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
