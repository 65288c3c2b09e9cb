#pragma once

#include <QString>
#include <QStringList>

class QSqlDatabase;

// The station databases as the statistics server reads them. The generator and the tests build
// their files from these statements, so the SQL the windows send always meets the same tables.
namespace StationSchema {

// Fuel database (fuel.sqlite): LogTran, SmSilo, GSM.
QStringList fuelStatements();
// Goods database (goods.sqlite): Category, Goods, Batches, Documents, GoodsMotion.
QStringList goodsStatements();

// Runs the statements on an open database; an error names the statement and the server's text.
void execute(QSqlDatabase& db, const QStringList& statements);

} // namespace StationSchema
