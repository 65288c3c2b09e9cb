#pragma once

#include "extraction/ChainRun.h"
#include "extraction/GraphExtractor.h"

#include <QStringList>

#include <mutex>

// The chain window's extractor: the chosen stations of the chain's catalogue, each read by a
// TChainRun over its own connection, drawn as one line per station (MultiGraph) or one line for
// their sum. FuelMode picks the fuel statement with the grades of Items by name, or the goods one
// with the categories of Items by id.
class TChainExtractor : public TGraphExtractor {
public:
    TChainExtractor(int stepUnit, TDateTime dateFrom, TDateTime dateTo, double stepMultiplier,
                    ChartModel* chart, QWidget* ownerWindow, QSlider* pageBar);
    ~TChainExtractor() override;

    // The central server and how a connection makes its server; set while the worker waits.
    void SetServer(const QString& computerName, TDCOMConnection::ServerFactory factory);
    const TChainStations& Stations() const { return m_stations; }
    void SetStations(const TChainStations& value);
    // The stations the last run could not read, each with its reason.
    QStringList Failures() const;
    // Any thread: stops the run under way, every connection of it.
    void Cancel() override;

    // The report's and the chart's name of the stations: "Сеть: 20 АЗС", or their names when
    // they are few.
    static QString ChainTitle(const QStringList& stationNames);
    static constexpr int kNamedStations = 3;

protected:
    void Execute() override;
    int OpenPeriod(TDateTime dateFrom, TDateTime dateTo) override;
    QString BuildQuery(TDateTime dateFrom, TDateTime dateTo) override;
    void FillSeries() override;
    void ReportError(const QString& message) override;
    QString SeriesName(int seriesIndex) const override;

private:
    QString m_computerName;
    TDCOMConnection::ServerFactory m_factory;
    TChainStations m_stations;
    // The pass under way: each station's sums; the names of the lines of the period's pass.
    QList<TChainStationSums> m_results;
    QStringList m_seriesNames;
    QStringList m_failures;
    int m_progressBase = 0;
    mutable std::mutex m_mutex;
    TChainRun* m_run = nullptr;
};
