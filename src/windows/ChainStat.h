#pragma once

#include "extraction/QueryItems.h"
#include "platform/data/ChainStation.h"
#include "windows/StatWindow.h"

#include <memory>

class QCheckBox;
class QComboBox;
class QListWidget;
class TChainExtractor;
class TdmStatistic;

// TfmChainStat: the chain's statistics ("Статистика сети АЗС"): the stations of the catalogue on
// the central server, picked in a check list (all at once, or by region), fuel grades or goods
// categories, and one line per station or one for their sum, on the statistics window frame.
class TfmChainStat : public TStatWindow {
    Q_OBJECT

public:
    // More lines than this would make a split chart unreadable.
    static constexpr int MaxSplitStations = 50;

    explicit TfmChainStat(TdmStatistic& dm, QWidget* parent = nullptr);

    QGroupBox* gbStations;
    QComboBox* cbRegion;
    QListWidget* clbStations;
    QCheckBox* chbAllStations;
    QGroupBox* gbKind;
    QComboBox* cbKind;
    QListWidget* clbItems;
    QPushButton* bbtSelectAll;

    // Made at the first show; null before and after the window closed.
    TChainExtractor* Extractor() const;
    const TChainStations& Stations() const { return m_stations; }
    bool FuelChosen() const;

    void FormShow() override;
    void cbKindChange();
    void cbRegionChange();
    void chbAllStationsClick();
    void clbStationsChange();
    void bbtSelectAllClick();
    void bbtGoClick() override;

protected:
    QString ReportSubject() const override;

private:
    void buildControls();
    // The grades or categories of the first station chosen; `quiet` keeps the list there is
    // when that station cannot be read, instead of saying so.
    void loadItems(bool quiet = false);
    // Loads the items again when the first station chosen is no longer the one that named them.
    void followFirstStation();
    // The stations checked among those the region filter shows.
    TChainStations checkedStations() const;

    QString m_server;
    TChainStations m_stations;
    TQueryItems m_items;
    QString m_itemsStation;
};

// The "Сеть АЗС…" menu entry's window over the host's window and the data module whose
// connection names the central server.
std::unique_ptr<QDialog> CreateChainStatistics(QWidget* applicationWindow, TdmStatistic& dm);
