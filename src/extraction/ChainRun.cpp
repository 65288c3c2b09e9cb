#include "extraction/ChainRun.h"

#include "extraction/BucketPass.h"
#include "extraction/DataSetRows.h"
#include "extraction/FoodExtractor.h"
#include "extraction/GSMExtractor.h"
#include "extraction/QueryLiterals.h"
#include "platform/core/Exceptions.h"
#include "platform/data/ClientDataSet.h"
#include "platform/data/StationDateTime.h"

#include <cmath>
#include <condition_variable>
#include <deque>
#include <limits>
#include <thread>
#include <vector>

namespace {

struct TStationCancelled {};

// The server's sums, one row per bucket in bucket order, as rows the pass reads: each at its
// bucket's start, so that it falls into that bucket and no other.
struct TServerSums {
    TClientDataSet& set;
    const TField& bucket;
    const TField& amount;
    const QList<TDateTime>& starts;

    bool AtEnd() const { return set.eof(); }
    TDateTime Time() const {
        // The rows past the last bucket's end: the pass never reaches them, as it never reaches
        // the fetched rows there.
        const qint64 k = bucket.isNull() ? -1 : bucket.asLargeInt();
        return k >= 0 && k < starts.size() ? starts[k] : std::numeric_limits<double>::infinity();
    }
    double Amount() const { return amount.asFloat(); }
    void Next() { set.next(); }
};

// The station's pass over `rows`, its sums in `sums`; a cancel ends it at the next bucket.
template <class Rows>
void SumBuckets(const TChainQuery& query, Rows& rows, const std::atomic<bool>& cancelled,
                QList<double>& sums) {
    RunBucketPass(query.from, query.to, query.stepLength, rows, [&](TDateTime, double sum, int) {
        if (cancelled)
            throw TStationCancelled();
        sums.append(sum);
    });
}

constexpr qint64 kMsecInDay = 86400000;
// Days from the calendar's day zero, 1899-12-30, to 1970-01-01.
constexpr qint64 kUnixEpochDay = 25569;
// The milliseconds a time stamp's text can name, 0001-01-01 to the end of 9999-12-31, from
// 1970-01-01.
constexpr qint64 kFirstUnixMsec = -719162 * kMsecInDay;
constexpr qint64 kLastUnixMsec = (2932896 + 1) * kMsecInDay - 1;

// The station statement's rows cut into the buckets ending at `ends` and summed, on the server:
// the station windows' own statement, unchanged but for its order, is the source, so the rows are
// the same; the amount is the one the pass adds per row, a null adding nothing as it does there.
QString ServerSumsText(const TChainQuery& query, const QList<qint64>& ends) {
    QString rows = query.fuel ? TGSMExtractor::QueryText(query.from, query.to, 0, 0)
                              : TFoodExtractor::QueryText(query.items, true, query.from, query.to);
    // The order is the statement's last clause; the buckets need none.
    rows.truncate(rows.lastIndexOf(QLatin1String("ORDER BY")));
    QString amount;
    switch (query.schema) {
    case 0:
        amount = query.fuel ? QStringLiteral("r.Liter") : QStringLiteral("r.RPrice * r.\"COUNT\"");
        break;
    case 1:
        amount = query.fuel ? QStringLiteral("r.Summa") : QStringLiteral("r.\"COUNT\"");
        break;
    default:
        amount = QStringLiteral("1");
        break;
    }
    QStringList bounds;
    bounds.reserve(ends.size());
    for (qint64 end : ends)
        bounds << QLatin1Char('"') + StationDateTime::unixMsecText(end) + QLatin1Char('"');
    QString sql = QStringLiteral("SELECT width_bucket(r.Data, '{") + bounds.join(QLatin1Char(',')) +
                  QStringLiteral("}'::timestamp[]) AS Bucket, SUM(") + amount +
                  QStringLiteral(") AS Amount FROM (") + rows + QStringLiteral(") AS r");
    if (query.fuel) {
        QStringList grades;
        for (const TQueryItem& item : query.items)
            grades << QuotedSqlString(item.Name);
        sql += QStringLiteral(" WHERE r.GsmName IN (") + grades.join(QLatin1Char(',')) +
               QLatin1Char(')');
    }
    return sql + QStringLiteral(" GROUP BY 1 ORDER BY 1");
}

} // namespace

int TChainRun::ConnectionsFromEnvironment() {
    bool ok = false;
    const int value = qEnvironmentVariable("TORVI_CHAIN_CONNECTIONS").trimmed().toInt(&ok);
    return ok && value >= 1 && value <= kMostConnections ? value : kDefaultConnections;
}

TChainRun::TChainRun(const QString& computerName, TDCOMConnection::ServerFactory factory,
                     int connections)
    : m_computerName(computerName)
    , m_factory(std::move(factory))
    , m_connections(qBound(1, connections, kMostConnections)) {}

void TChainRun::Cancel() {
    // The flag first: a station that registers its connection after the loop below finds it.
    m_cancelled = true;
    std::lock_guard lock(m_mutex);
    for (TDCOMConnection* connection : m_active)
        connection->cancel();
}

int TChainRun::BucketCount(const TChainQuery& query) {
    return int(
        ::BucketCount(query.from, query.to, query.stepLength, std::numeric_limits<int>::max()));
}

QList<qint64> TChainRun::ServerBucketEnds(const TChainQuery& query) {
    const int count = BucketCount(query);
    if (count == 0 || count > kMostServerBuckets || !(query.from >= 0))
        return {};
    QList<qint64> ends;
    ends.reserve(count);
    // The ends as the pass makes them: each start plus the step, in double precision.
    for (TDateTime start = query.from; start <= query.to; start += query.stepLength) {
        const TDateTime end = start + query.stepLength;
        const double day = std::floor(end);
        qint64 msec =
            (qint64(day) - kUnixEpochDay) * kMsecInDay + std::llround((end - day) * kMsecPerDay);
        // The estimate is off by a rounding at most; the date-time of a millisecond grows with
        // it, so a step either way finds the first one not before the end.
        while (StationDateTime::fromUnixMsec(msec) < end)
            ++msec;
        while (StationDateTime::fromUnixMsec(msec - 1) >= end)
            --msec;
        if (msec > kLastUnixMsec || msec < kFirstUnixMsec)
            return {};
        ends.append(msec);
    }
    return ends;
}

QList<TChainStationSums> TChainRun::Run(const TChainStations& stations, const TChainQuery& query,
                                        const std::function<void(int)>& stationDone) {
    CheckBucketStep(query.from, query.to, query.stepLength);
    QList<TChainStationSums> results(stations.size());
    for (qsizetype i = 0; i < stations.size(); ++i)
        results[i].station = stations[i].name;
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    std::deque<int> done;
    int running = 0;
    std::atomic<int> next{0};
    const auto worker = [&] {
        for (;;) {
            const int index = next.fetch_add(1);
            if (index >= stations.size() || m_cancelled)
                break;
            results[index] = RunStation(stations[index], query);
            std::lock_guard lock(doneMutex);
            done.push_back(index);
            doneSignal.notify_one();
        }
        std::lock_guard lock(doneMutex);
        --running;
        doneSignal.notify_one();
    };
    std::vector<std::thread> threads;
    const int count = int(std::min<qsizetype>(m_connections, stations.size()));
    running = count;
    threads.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        threads.emplace_back(worker);
    // The caller hears of every station here, on its own thread, while the pool reads on.
    std::unique_lock lock(doneMutex);
    for (;;) {
        doneSignal.wait(lock, [&] { return !done.empty() || running == 0; });
        while (!done.empty()) {
            const int index = done.front();
            done.pop_front();
            if (stationDone) {
                lock.unlock();
                try {
                    stationDone(index);
                } catch (...) {
                    // The pool must be ended before the error may leave.
                    Cancel();
                    lock.lock();
                    doneSignal.wait(lock, [&] { return running == 0; });
                    lock.unlock();
                    for (std::thread& t : threads)
                        t.join();
                    throw;
                }
                lock.lock();
            }
        }
        if (running == 0)
            break;
    }
    lock.unlock();
    for (std::thread& t : threads)
        t.join();
    if (m_cancelled)
        for (TChainStationSums& result : results)
            if (!result.failed() && result.sums.isEmpty())
                result.error = QStringLiteral("АЗС «%1»: построение отменено").arg(result.station);
    return results;
}

void ConnectToStation(TDCOMConnection& connection, const QString& computerName,
                      const TChainStation& station) {
    connection.setComputerName(computerName);
    connection.setAfterConnect([station](TDCOMConnection& sender) {
        sender.setStatParameter(1, station.goodsDb);
        sender.setStatParameter(2, station.fuelDb);
    });
}

TChainStationSums TChainRun::RunStation(const TChainStation& station, const TChainQuery& query) {
    TChainStationSums result;
    result.station = station.name;
    try {
        // Made, used and closed on this thread, as the station windows' connections are on
        // their workers.
        TDCOMConnection connection(m_factory);
        ConnectToStation(connection, m_computerName, station);
        {
            std::lock_guard lock(m_mutex);
            m_active.append(&connection);
            if (m_cancelled)
                connection.cancel();
        }
        struct Leave {
            TChainRun& run;
            TDCOMConnection& connection;
            ~Leave() {
                std::lock_guard lock(run.m_mutex);
                run.m_active.removeOne(&connection);
            }
        } leave{*this, connection};
        connection.open();
        // The fuel statement of a station with no grade chosen is refused as the station
        // windows refuse it, by the fetched rows' filter.
        const bool summable =
            query.schema >= 0 && query.schema <= 2 && !(query.fuel && query.items.isEmpty());
        const QList<qint64> ends = summable && connection.server().bucketsRowsItself()
                                       ? ServerBucketEnds(query)
                                       : QList<qint64>();
        if (ends.isEmpty())
            SumRows(connection, query, result.sums);
        else
            SumOnServer(connection, query, ends, result.sums);
        connection.close();
    } catch (const TStationCancelled&) {
        result.sums.clear();
    } catch (const std::exception& e) {
        result.sums.clear();
        result.error = QStringLiteral("АЗС «%1»: %2").arg(station.name, ExceptionMessage(e));
    }
    return result;
}

void TChainRun::SumRows(TDCOMConnection& connection, const TChainQuery& query,
                        QList<double>& sums) {
    TClientDataSet set;
    set.setRemoteServer(&connection);
    if (query.fuel) {
        set.setProviderName(QStringLiteral("dspLogtran"));
        set.setCommandText(TGSMExtractor::QueryText(query.from, query.to, 0, 0));
    } else {
        set.setProviderName(QStringLiteral("dspGoodsStat"));
        set.setCommandText(TFoodExtractor::QueryText(query.items, true, query.from, query.to));
    }
    set.open();
    if (query.fuel) {
        // As the fuel window's summed line: the grades are chosen among the fetched rows.
        QStringList grades;
        for (const TQueryItem& item : query.items)
            grades << item.Name;
        set.setFilter(TGSMExtractor::GradeFilter(grades));
        set.setFiltered(true);
    }
    const TGraphExtractor::TRowAmount amount = query.fuel
                                                   ? TGSMExtractor::RowAmount(set, query.schema)
                                                   : TFoodExtractor::RowAmount(set, query.schema);
    set.first();
    TDataSetRows<TGraphExtractor::TRowAmount> rows{set, set.fieldByName(QStringLiteral("Data")),
                                                   amount};
    SumBuckets(query, rows, m_cancelled, sums);
    set.close();
}

void TChainRun::SumOnServer(TDCOMConnection& connection, const TChainQuery& query,
                            const QList<qint64>& ends, QList<double>& sums) {
    TClientDataSet set;
    set.setRemoteServer(&connection);
    set.setProviderName(query.fuel ? QStringLiteral("dspLogtran") : QStringLiteral("dspGoodsStat"));
    set.setCommandText(ServerSumsText(query, ends));
    set.open();
    QList<TDateTime> starts;
    starts.reserve(ends.size());
    for (TDateTime start = query.from; start <= query.to; start += query.stepLength)
        starts.append(start);
    set.first();
    TServerSums rows{set, set.fieldByName(QStringLiteral("Bucket")),
                     set.fieldByName(QStringLiteral("Amount")), starts};
    // The same pass over the sums keeps its checks of every bucket and of the running total.
    SumBuckets(query, rows, m_cancelled, sums);
    set.close();
}
