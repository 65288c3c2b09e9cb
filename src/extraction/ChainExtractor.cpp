#include "extraction/ChainExtractor.h"

#include "extraction/FoodExtractor.h"
#include "extraction/GSMExtractor.h"

#include "platform/core/Exceptions.h"
#include "platform/ui/MessageBoxes.h"

TChainExtractor::TChainExtractor(int stepUnit, TDateTime dateFrom, TDateTime dateTo,
                                 double stepMultiplier, ChartModel* chart, QWidget* ownerWindow,
                                 QSlider* pageBar)
    : TGraphExtractor(stepUnit, dateFrom, dateTo, stepMultiplier, nullptr, chart, ownerWindow,
                      pageBar) {}

TChainExtractor::~TChainExtractor() {
    // A window closed during a run must not wait for every station's statement.
    Cancel();
    StopThread();
}

void TChainExtractor::SetServer(const QString& computerName,
                                TDCOMConnection::ServerFactory factory) {
    m_computerName = computerName;
    m_factory = std::move(factory);
}

void TChainExtractor::SetStations(const TChainStations& value) {
    m_stations = value;
}

QStringList TChainExtractor::Failures() const {
    std::lock_guard lock(m_mutex);
    return m_failures;
}

void TChainExtractor::Cancel() {
    TExtractor::Cancel();
    std::lock_guard lock(m_mutex);
    if (m_run)
        m_run->Cancel();
}

QString TChainExtractor::ChainTitle(const QStringList& stationNames) {
    if (!stationNames.isEmpty() && stationNames.size() <= kNamedStations)
        return QStringLiteral("Сеть: ") + stationNames.join(QStringLiteral(", "));
    return QStringLiteral("Сеть: %1 АЗС").arg(stationNames.size());
}

void TChainExtractor::Execute() {
    while (!Terminated()) {
        {
            std::lock_guard lock(m_mutex);
            m_failures.clear();
        }
        RunOnce();
        // A run that drew the other stations still says which it could not read; one that
        // failed whole has said so already, and a cancelled one has nothing to say.
        const QStringList failures = Failures();
        if (!failures.isEmpty() && !Terminated() && !CancelRequested())
            ReportError(QStringLiteral("Не прочитаны АЗС (%1 из %2), на графике их нет:\n%3")
                            .arg(failures.size())
                            .arg(m_stations.size())
                            .arg(failures.join(QLatin1Char('\n'))));
        Suspend();
    }
}

int TChainExtractor::OpenPeriod(TDateTime dateFrom, TDateTime dateTo) {
    const bool periodPass = dateFrom == DateFrom() && dateTo == DateTo();
    if (m_stations.isEmpty())
        throw EDatabaseError(QStringLiteral("Не выбрано ни одной АЗС сети"));
    if (periodPass)
        m_progressBase = 0;
    const TChainQuery query{FuelMode(), Items(), Schema(), dateFrom, dateTo, StepLength()};
    const int buckets = TChainRun::BucketCount(query);
    const int units = int(m_stations.size()) * buckets;
    Progress()->SetMaxValue(m_progressBase + units + 1);
    Synchronize([this] { Progress()->ProgressApplyMax(); });
    TChainRun run(m_computerName, m_factory);
    {
        // Under the lock Cancel takes: a cancel now reaches this run, an earlier one stops it.
        std::lock_guard lock(m_mutex);
        if (CancelRequested() || Terminated())
            run.Cancel();
        m_run = &run;
    }
    QList<TChainStationSums> results;
    try {
        results = run.Run(m_stations, query, [this, buckets](int) {
            if (Terminated())
                Cancel();
            Progress()->SetStepValue(buckets);
            Synchronize([this] { Progress()->ProgressApplyStep(); });
        });
    } catch (...) {
        std::lock_guard lock(m_mutex);
        m_run = nullptr;
        throw;
    }
    {
        std::lock_guard lock(m_mutex);
        m_run = nullptr;
    }
    Progress()->SetStepValue(0);
    m_progressBase += units;
    if (run.Cancelled())
        throw EOperationCancelled();
    QStringList failures;
    for (const TChainStationSums& result : results)
        if (result.failed())
            failures << result.error;
    if (failures.size() == results.size())
        throw EDatabaseError(failures.join(QLatin1Char('\n')));
    {
        std::lock_guard lock(m_mutex);
        for (const QString& failure : failures)
            if (!m_failures.contains(failure))
                m_failures << failure;
    }
    if (periodPass) {
        m_seriesNames.clear();
        for (const TChainStationSums& result : results)
            if (!result.failed())
                m_seriesNames << result.station;
    }
    m_results = std::move(results);
    return units;
}

QString TChainExtractor::BuildQuery(TDateTime dateFrom, TDateTime dateTo) {
    // What every station is sent: the station windows' own statement.
    return FuelMode() ? TGSMExtractor::QueryText(dateFrom, dateTo, 0, 0)
                      : TFoodExtractor::QueryText(Items(), true, dateFrom, dateTo);
}

void TChainExtractor::FillSeries() {
    if (MultiGraph()) {
        // Line k is the k-th station the period's pass read; in the earlier period's pass a
        // station that failed only there keeps an empty companion, so that every line stays
        // beside its own.
        for (int k = 0; k < m_seriesNames.size(); ++k) {
            QList<double> sums;
            for (const TChainStationSums& result : m_results)
                if (result.station == m_seriesNames[k]) {
                    sums = result.sums;
                    break;
                }
            AddBucketSums(k, sums);
        }
        return;
    }
    QList<double> total;
    for (const TChainStationSums& result : m_results) {
        if (result.failed())
            continue;
        if (total.isEmpty())
            total.resize(result.sums.size());
        for (qsizetype b = 0; b < result.sums.size() && b < total.size(); ++b)
            total[b] += result.sums[b];
    }
    AddBucketSums(0, total);
}

QString TChainExtractor::SeriesName(int seriesIndex) const {
    return seriesIndex < m_seriesNames.size() ? m_seriesNames.at(seriesIndex) : QString();
}

void TChainExtractor::ReportError(const QString& message) {
    MessageBoxes::show(nullptr, QStringLiteral("Ошибка!"),
                       QStringLiteral("В ходе обработки данных произошла ошибка: ") + message,
                       MessageBoxes::Icon::Error, QMessageBox::Ok);
}
