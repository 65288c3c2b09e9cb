#include "extraction/ChainRun.h"

#include "extraction/BucketPass.h"
#include "extraction/FoodExtractor.h"
#include "extraction/GSMExtractor.h"
#include "platform/core/Exceptions.h"
#include "platform/data/ClientDataSet.h"

#include <condition_variable>
#include <deque>
#include <thread>
#include <vector>

namespace {

struct TStationCancelled {};

struct TStationRows {
    TClientDataSet& set;
    const TField& data;
    const TGraphExtractor::TRowAmount& amount;

    bool AtEnd() const { return set.eof(); }
    TDateTime Time() const { return data.asDateTime(); }
    double Amount() const { return amount(); }
    void Next() { set.next(); }
};

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
    if (!BucketStepProblem(query.from, query.to, query.stepLength).isEmpty())
        return 0;
    int count = 0;
    for (TDateTime start = query.from; start <= query.to; start += query.stepLength)
        ++count;
    return count;
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
        const TGraphExtractor::TRowAmount amount =
            query.fuel ? TGSMExtractor::RowAmount(set, query.schema)
                       : TFoodExtractor::RowAmount(set, query.schema);
        set.first();
        TStationRows rows{set, set.fieldByName(QStringLiteral("Data")), amount};
        RunBucketPass(query.from, query.to, query.stepLength, rows,
                      [&](TDateTime, double sum, int) {
                          if (m_cancelled)
                              throw TStationCancelled();
                          result.sums.append(sum);
                      });
        set.close();
        connection.close();
    } catch (const TStationCancelled&) {
        result.sums.clear();
    } catch (const std::exception& e) {
        result.sums.clear();
        result.error = QStringLiteral("АЗС «%1»: %2").arg(station.name, ExceptionMessage(e));
    }
    return result;
}
