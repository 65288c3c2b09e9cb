#pragma once

#include "platform/data/ChainStation.h"
#include "platform/data/StatServer.h"

#include <QString>

#include <memory>

// The one place that decides which statistics server a computer name means: empty is the local
// computer, served in-process over the station's SQLite files; any other name is a chain's
// central PostgreSQL server, "host" or "host:port", or a list of them (a primary and its
// standbys). Connections are handed this function, so the connection itself knows no server
// kind.
std::unique_ptr<TStatServer> chooseStatServer(const QString& computerName);

// Whether the computer name means a server that keeps a chain's catalogue of stations: only the
// central server does, never a station's own files.
bool hasChainCatalogue(const QString& computerName);
// The stations of that catalogue; EDatabaseError for a computer name without one or a server
// that cannot be read.
TChainStations readChainStations(const QString& computerName);
