#pragma once

#include "extraction/QueryItems.h"
#include "platform/core/DateTime.h"
#include "platform/data/ChainStation.h"
#include "platform/data/DCOMConnection.h"

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>

// What every station of a chain run is asked: the statement and the bucket pass of the station
// windows, fuel (grades by name) or goods (categories by id).
struct TChainQuery {
    bool fuel = true;
    TQueryItems items;
    int schema = 0;
    TDateTime from = 0;
    TDateTime to = 0;
    double stepLength = 0;
};

// One station's outcome: a sum per bucket, or the Russian reason it has none.
struct TChainStationSums {
    QString station;
    QList<double> sums;
    QString error;
    bool failed() const { return !error.isEmpty(); }
};

// Points `connection` at the chain's statistics server and, once it connects, at the station's
// pair of databases (goods as StatParameter 1, fuel as 2), as the plug-in points a station
// window's connection at its folders.
void ConnectToStation(TDCOMConnection& connection, const QString& computerName,
                      const TChainStation& station);

// Reads the stations of a chain, each over a connection of its own on a thread of its own, at
// most `connections` of them at a time, and cuts each station's rows into buckets as a station
// window does. A station that fails (its database missing, say) fails alone: the others run.
class TChainRun {
public:
    static constexpr int kDefaultConnections = 4;
    static constexpr int kMostConnections = 64;
    // TORVI_CHAIN_CONNECTIONS when it is a number from 1 to kMostConnections, otherwise the
    // default.
    static int ConnectionsFromEnvironment();

    TChainRun(const QString& computerName, TDCOMConnection::ServerFactory factory,
              int connections = ConnectionsFromEnvironment());
    TChainRun(const TChainRun&) = delete;
    TChainRun& operator=(const TChainRun&) = delete;

    // The stations' sums in the stations' order. `stationDone(index)` runs on the calling
    // thread once a station has ended, in the order they end. After Cancel, the stations not yet
    // read carry no sums and Cancelled() is true.
    QList<TChainStationSums> Run(const TChainStations& stations, const TChainQuery& query,
                                 const std::function<void(int index)>& stationDone = {});
    // Any thread: no station starts any more, the statements under way are stopped on their
    // servers and the passes under way at their next bucket.
    void Cancel();
    bool Cancelled() const { return m_cancelled.load(); }
    // How many buckets each station's pass gives for the query.
    static int BucketCount(const TChainQuery& query);
    // The most buckets a station is asked to sum on its server; a longer list of bounds would
    // make one statement of megabytes, and at that size the rows are about as few as the buckets.
    static constexpr int kMostServerBuckets = 100000;
    // The end of each bucket of the query's pass as the first millisecond since 1970-01-01 whose
    // date-time, read as the pass reads a row's, is not before the bucket's end: a row belongs to
    // bucket k exactly when its time stamp is at least end k-1 and before end k, so the server
    // can cut the rows into the very buckets of the pass. Empty when it cannot: a period before
    // the calendar's day zero (where date-times and time run in opposite directions within a
    // day) or more than kMostServerBuckets buckets.
    static QList<qint64> ServerBucketEnds(const TChainQuery& query);

private:
    TChainStationSums RunStation(const TChainStation& station, const TChainQuery& query);
    // The station's pass over its own rows, fetched, or over its server's sums per bucket.
    void SumRows(TDCOMConnection& connection, const TChainQuery& query, QList<double>& sums);
    void SumOnServer(TDCOMConnection& connection, const TChainQuery& query,
                     const QList<qint64>& ends, QList<double>& sums);

    QString m_computerName;
    TDCOMConnection::ServerFactory m_factory;
    int m_connections;
    std::atomic<bool> m_cancelled{false};
    std::mutex m_mutex;
    // The connections of the stations being read, so that a cancel can reach each of them.
    QList<TDCOMConnection*> m_active;
};
