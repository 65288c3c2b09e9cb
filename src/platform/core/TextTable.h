#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The plain-text table of the items' totals under the three schemas, drawn with "+", "-" and
// "|" as the suite's plain-text reports are; counts stand without decimals.
QStringList ItemTotalsTable(const QString& heading, const QString& period,
                            const QStringList& header, const QList<QStringList>& rows,
                            const QStringList& total);
