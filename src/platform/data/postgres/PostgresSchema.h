#pragma once

#include <QString>
#include <QStringList>

// The station databases on a PostgreSQL server: the same tables, columns and indexes as the
// station's SQLite files, with date-times as timestamp(3). Unquoted names fold to lower case
// there, so the queries find them however they spell them; "COUNT" and "TYPE" stay quoted, as
// the queries write them.
namespace PostgresSchema {

QStringList fuelStatements();
QStringList goodsStatements();

// A new station database. Byte order for texts, so that ORDER BY GsmName sorts as on SQLite.
QString createDatabase(const QString& name);
// Splits "host" or "host:port" (also "[v6-address]:port"); port -1 when none is given. False for
// a port that is not a number from 1 to 65535.
bool splitServerName(const QString& name, QString& host, int& port);
// The text for a server name that splitServerName refused.
QString badServerName(const QString& name);

// One server of a list; port -1 for the default.
struct ServerAddress {
    QString host;
    int port = -1;
};
// A reader may name several servers of one chain, a primary and its standbys, as
// "HOST1[:PORT],HOST2[:PORT],..."; libpq tries them in order.
constexpr int kMaxServerHosts = 16;
// The servers of "HOST[:PORT]" or of such a list. Empty, with the Russian reason in `error`, for
// an empty entry, a bad port or more than kMaxServerHosts entries.
QList<ServerAddress> splitServerList(const QString& name, QString& error);

// A database name as an SQL identifier.
QString quotedName(const QString& name);

// The station's column names as the station spells them; the server reports unquoted names in
// lower case, and the data sets and the charts should see the same names from either server.
QString stationSpelling(const QString& lowerCaseName);

} // namespace PostgresSchema
