#include "windows/StatWindowInput.h"

#include <QLocale>

#include <cmath>

double LiterBoundFromText(const QString& text, QChar decimalSeparator) {
    QString number = text.trimmed();
    if (number.isEmpty())
        return 0;
    // Only the workstation's separator makes a fraction; a point or comma of another notation,
    // like a thousands separator, makes the text no number.
    if (decimalSeparator != QLatin1Char('.')) {
        if (number.contains(QLatin1Char('.')))
            return 0;
        number.replace(decimalSeparator, QLatin1Char('.'));
    }
    for (const QChar c : number) {
        if (!c.isDigit() && c != QLatin1Char('.') && c != QLatin1Char('-') &&
            c != QLatin1Char('+') && c != QLatin1Char('e') && c != QLatin1Char('E'))
            return 0;
    }
    bool ok = false;
    const double value = QLocale::c().toDouble(number, &ok);
    return ok && std::isfinite(value) ? value : 0;
}

quint32 GradeColorValue(int index) {
    return 0x01000000u | (quint32(19 - index) & 0xFFFFu);
}
