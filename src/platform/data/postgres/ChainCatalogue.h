#pragma once

#include "platform/data/ChainStation.h"

#include <QString>

// The chain's catalogue on its central PostgreSQL server: the database torvi_chain with one table
// of the stations whose database pairs have been put in place there. The loader registers a
// station once its pair carries its names; the statistics read the list.
namespace ChainCatalogue {

inline constexpr char kDatabase[] = "torvi_chain";
// The table, created with the database; what the tools and the README rely on.
QString tableStatement();

// Creates the catalogue when missing and writes the station's entry, replacing an entry of the
// same name in the same statement. EDatabaseError with the reason, in Russian, on any failure.
// server is "host" or "host:port"; the login comes from PGUSER, PGPASSWORD or ~/.pgpass.
void registerStation(const QString& server, const TChainStation& station);

// Every registered station, by region and then name. A server without a catalogue has no
// stations yet: an empty list. EDatabaseError when the server cannot be read.
TChainStations readStations(const QString& server);

} // namespace ChainCatalogue
