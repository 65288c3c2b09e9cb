#pragma once

#include "platform/DateTime.h"

#include <QString>
#include <QStringList>

#include <string_view>

class QSqlDatabase;

// The station databases as the statistics server reads them. The generator and the tests build
// their files from these statements, so the SQL the windows send always meets the same tables.
namespace StationSchema {

// Fuel database (fuel.sqlite): LogTran, SmSilo, GSM.
QStringList fuelStatements();
// Goods database (goods.sqlite): Category, Goods, Batches, Documents, GoodsMotion.
QStringList goodsStatements();
// The indexes on the date-time columns. Kept apart so that a bulk load can build them at the end.
QStringList fuelIndexStatements();
QStringList goodsIndexStatements();

// Runs the statements on an open database; an error names the statement and the server's text.
void execute(QSqlDatabase& db, const QStringList& statements);

// A date-time as the station stores it: 'yyyy-mm-dd hh:nn:ss.zzz' without the apostrophes. The
// fixed width makes text order equal time order, so the quoted literals of the queries compare
// correctly with plain text comparison.
QString dateTimeText(TDateTime value);

// Reads "yyyy-mm-dd", "yyyy-mm-dd hh:nn", "yyyy-mm-dd hh:nn:ss" or with ".z", ".zz", ".zzz" (a 'T'
// in place of the blank too). False for anything else, including an impossible date.
bool parseDateTime(std::string_view text, TDateTime& value);
bool parseDateTime(const QString& text, TDateTime& value);

} // namespace StationSchema
