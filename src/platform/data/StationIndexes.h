#pragma once

#include <QStringList>

// The indexes on the station's date-time and join columns, in the one form every server kind
// accepts. Kept apart from the tables so that a bulk load can build them at the end.
namespace StationIndexes {

QStringList fuel();
QStringList goods();

} // namespace StationIndexes
