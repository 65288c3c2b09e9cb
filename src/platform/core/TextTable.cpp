#include "platform/core/TextTable.h"

#include <algorithm>

QStringList ItemTotalsTable(const QString& heading, const QString& period,
                            const QStringList& header, const QList<QStringList>& rows,
                            const QStringList& total) {
    QList<int> widths;
    for (int column = 0; column < header.size(); ++column) {
        qsizetype width = std::max(header.at(column).size(), total.value(column).size());
        for (const QStringList& row : rows)
            width = std::max(width, row.value(column).size());
        widths << int(width);
    }
    const auto rule = [&] {
        QString line = QStringLiteral("+");
        for (const int width : widths)
            line += QString(width + 2, QLatin1Char('-')) + QLatin1Char('+');
        return line;
    };
    const auto line = [&](const QStringList& cells) {
        QString text = QStringLiteral("|");
        for (int column = 0; column < widths.size(); ++column)
            text += QLatin1Char(' ') +
                    (column == 0 ? cells.value(column).leftJustified(widths.at(column))
                                 : cells.value(column).rightJustified(widths.at(column))) +
                    QStringLiteral(" |");
        return text;
    };
    QStringList table{heading, period, QString(), rule(), line(header), rule()};
    for (const QStringList& row : rows)
        table << line(row);
    table << rule() << line(total) << rule();
    return table;
}
