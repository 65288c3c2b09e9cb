#include "export/CsvExport.h"

#include "export/ChartTable.h"
#include "export/ExportFile.h"

#include <charconv>
#include <cstdio>

namespace {

struct TDialect {
    char separator;
    char decimal;
    const char* lineEnd;
};

TDialect dialectOf(TCsvDialect dialect) {
    return dialect == TCsvDialect::Spreadsheet ? TDialect{';', ',', "\r\n"}
                                               : TDialect{',', '.', "\n"};
}

void appendTwoDigits(QByteArray& line, int value) {
    line += char('0' + value / 10 % 10);
    line += char('0' + value % 10);
}

void appendDate(QByteArray& line, TDateTime value, TCsvDialect dialect) {
    const DateTimeParts t = decodeDateTime(value);
    char year[8];
    std::snprintf(year, sizeof year, "%04d", t.year);
    if (dialect == TCsvDialect::Spreadsheet) {
        appendTwoDigits(line, t.day);
        line += '.';
        appendTwoDigits(line, t.month);
        line += '.';
        line += year;
        line += ' ';
        appendTwoDigits(line, t.hour);
        line += ':';
        appendTwoDigits(line, t.minute);
        return;
    }
    line += year;
    line += '-';
    appendTwoDigits(line, t.month);
    line += '-';
    appendTwoDigits(line, t.day);
    line += 'T';
    appendTwoDigits(line, t.hour);
    line += ':';
    appendTwoDigits(line, t.minute);
    line += ':';
    appendTwoDigits(line, t.second);
}

void appendNumber(QByteArray& line, double value, char decimal) {
    char text[400];
    const auto result =
        std::to_chars(text, text + sizeof text, CentValue(value), std::chars_format::fixed, 2);
    for (char* c = text; c != result.ptr; ++c)
        line += *c == '.' ? decimal : *c;
}

} // namespace

QString CsvField(const QString& text, TCsvDialect dialect) {
    const QChar separator = QLatin1Char(dialectOf(dialect).separator);
    QString field = text;
    if (dialect == TCsvDialect::Spreadsheet && !field.isEmpty() &&
        QStringLiteral("=+-@").contains(field.front()))
        field.prepend(QLatin1Char('\''));
    const bool quoted = field.contains(separator) || field.contains(QLatin1Char('"')) ||
                        field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r')) ||
                        field != field.trimmed();
    if (!quoted)
        return field;
    field.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}

void WriteChartCsv(const QString& path, const TChartTable& table, TCsvDialect dialect) {
    const TDialect form = dialectOf(dialect);
    TExportFile file(path);
    QByteArray line;
    if (dialect == TCsvDialect::Spreadsheet)
        line += "\xEF\xBB\xBF";
    line += CsvField(QStringLiteral("Дата"), dialect).toUtf8();
    for (const TChartColumn& column : table.columns()) {
        line += form.separator;
        line += CsvField(column.name, dialect).toUtf8();
    }
    line += form.lineEnd;
    file.write(line);
    const int columns = int(table.columns().size());
    for (int row = 0; row < table.rowCount(); ++row) {
        line.clear();
        appendDate(line, table.rowTime(row), dialect);
        for (int column = 0; column < columns; ++column) {
            line += form.separator;
            if (table.hasValue(column, row))
                appendNumber(line, table.value(column, row), form.decimal);
        }
        line += form.lineEnd;
        file.write(line);
    }
    file.commit();
}
