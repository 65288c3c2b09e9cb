#include "platform/StationSchema.h"

#include "platform/Exceptions.h"

#include <QDate>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>

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

QStringList fuelIndexStatements() {
    return {
        QStringLiteral("CREATE INDEX LogTran_Data ON LogTran (Data)"),
        QStringLiteral("CREATE INDEX SmSilo_BegTime ON SmSilo (BegTime)"),
        QStringLiteral("CREATE INDEX SmSilo_EndTime ON SmSilo (EndTime)"),
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

QStringList goodsIndexStatements() {
    return {
        QStringLiteral("CREATE INDEX Documents_Data ON Documents (Data)"),
        QStringLiteral("CREATE INDEX GoodsMotion_Doc ON GoodsMotion (ID_doc)"),
        QStringLiteral("CREATE INDEX Goods_Category ON Goods (ID_Category)"),
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

QString dateTimeText(TDateTime value) {
    const DateTimeParts p = decodeDateTime(value);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day,
                  p.hour, p.minute, p.second, p.msec);
    return QString::fromLatin1(buf);
}

namespace {

// Julian day of 1899-12-30, the system's day zero.
constexpr qint64 kEpochJulianDay = 2415019;

bool digits(std::string_view s, size_t pos, size_t count, int& out) {
    if (pos + count > s.size())
        return false;
    int v = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        const char c = s[i];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

} // namespace

// Hand-written because it runs once per fetched row of every sales query; QDateTime::fromString
// costs more than the rest of the fetch together.
bool parseDateTime(std::string_view s, TDateTime& value) {
    int year, month, day, hour = 0, minute = 0, second = 0, msec = 0;
    if (s.size() < 10 || !digits(s, 0, 4, year) || s[4] != '-' || !digits(s, 5, 2, month) ||
        s[7] != '-' || !digits(s, 8, 2, day))
        return false;
    size_t pos = 10;
    if (pos < s.size()) {
        if ((s[pos] != ' ' && s[pos] != 'T') || !digits(s, pos + 1, 2, hour) ||
            pos + 3 >= s.size() || s[pos + 3] != ':' || !digits(s, pos + 4, 2, minute))
            return false;
        pos += 6;
        if (pos < s.size()) {
            if (s[pos] != ':' || !digits(s, pos + 1, 2, second))
                return false;
            pos += 3;
            if (pos < s.size()) {
                if (s[pos] != '.' || pos + 1 == s.size() || s.size() - pos - 1 > 3)
                    return false;
                int fraction = 0;
                const size_t count = s.size() - pos - 1;
                if (!digits(s, pos + 1, count, fraction))
                    return false;
                msec = fraction * (count == 1 ? 100 : count == 2 ? 10 : 1);
            }
        }
    }
    if (hour > 23 || minute > 59 || second > 59)
        return false;
    const QDate date(year, month, day);
    if (!date.isValid())
        return false;
    const double days = double(date.toJulianDay() - kEpochJulianDay);
    const double time =
        (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / kMsecPerDay;
    value = days >= 0 ? days + time : days - time;
    return true;
}

bool parseDateTime(const QString& text, TDateTime& value) {
    const QByteArray latin = text.trimmed().toLatin1();
    return parseDateTime(std::string_view(latin.constData(), size_t(latin.size())), value);
}

} // namespace StationSchema
