#include "platform/data/sqlite/StationSchema.h"

#include "platform/core/Exceptions.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace StationSchema {

QStringList fuelStatements() {
    return {
        // SortOrder is the order in which the station lists its grades; the grade colours follow
        // it.
        QStringLiteral(
            "CREATE TABLE GSM (ID_GSM INTEGER PRIMARY KEY, GsmName TEXT NOT NULL UNIQUE, "
            "SortOrder INTEGER NOT NULL, Price REAL)"),
        QStringLiteral("CREATE TABLE SmSilo (SmNum INTEGER PRIMARY KEY, BegTime TEXT NOT NULL, "
                       "EndTime TEXT, Operator TEXT)"),
        QStringLiteral(
            "CREATE TABLE LogTran (ID_LogTran INTEGER PRIMARY KEY, Data TEXT NOT NULL, "
            "GsmName TEXT NOT NULL, Liter REAL NOT NULL, Price REAL, Summa REAL NOT NULL, "
            "NumTrk INTEGER, SmNum INTEGER)"),
    };
}

QStringList goodsStatements() {
    return {
        QStringLiteral("CREATE TABLE Category (ID_Category INTEGER PRIMARY KEY, "
                       "Name TEXT NOT NULL DEFAULT '', IsDelete INTEGER NOT NULL DEFAULT 0, "
                       "KKMSection INTEGER NOT NULL DEFAULT 1)"),
        QStringLiteral("CREATE TABLE Goods (ID_Goods INTEGER PRIMARY KEY, ID_Category INTEGER, "
                       "Name TEXT NOT NULL DEFAULT '')"),
        // A batch may outlive its goods record (a deleted article): ID_Goods then points nowhere.
        QStringLiteral("CREATE TABLE Batches (ID_P INTEGER PRIMARY KEY, ID_Goods INTEGER)"),
        QStringLiteral("CREATE TABLE Documents (ID_doc INTEGER PRIMARY KEY, Data TEXT NOT NULL, "
                       "\"TYPE\" INTEGER NOT NULL)"),
        QStringLiteral("CREATE TABLE GoodsMotion (ID_GoodsMotion INTEGER PRIMARY KEY, "
                       "ID_doc INTEGER NOT NULL, ID_p INTEGER, RPrice REAL, \"COUNT\" REAL)"),
    };
}

void execute(QSqlDatabase& db, const QStringList& statements) {
    QSqlQuery query(db);
    for (const QString& statement : statements) {
        if (!query.exec(statement))
            throw EDatabaseError(
                QStringLiteral("Не удалось создать структуру базы данных «%1»: %2 (%3)")
                    .arg(db.databaseName(), query.lastError().databaseText(), statement));
    }
}

} // namespace StationSchema
