#pragma once

#include <QChar>
#include <QString>
#include <QtGlobal>

// What the statistics windows read out of their controls before a run, kept apart from the
// windows so that it can be checked without one.

// A litre bound typed or chosen by the operator, as a number in the workstation's notation
// ("12,5" with a comma separator). Anything that is not a plain finite number, "Нет" included,
// is 0: no bound.
double LiterBoundFromText(const QString& text, QChar decimalSeparator);

// The colour value of the grade in row `index` of the server's grade list: palette entry
// 19 − index (0x01000000 | entry), the entry kept to its low 16 bits as the system stores it.
quint32 GradeColorValue(int index);
