#pragma once

#include "platform/data/ClientDataSet.h"
#include "platform/data/DCOMConnection.h"
#include "platform/data/DataSetModel.h"

#include <QList>
#include <QObject>
#include <QString>

#include <initializer_list>

// The data module shared by every window and extractor: the two connections to the statistics
// server, one data set per provider, and the database folders the server is told about.
class TdmStatistic : public QObject {
    Q_OBJECT

public:
    TdmStatistic();
    ~TdmStatistic() override;

    // In the module's component order; CloseAllData closes the sets in this order.
    TClientDataSet cdsLogtran;
    TClientDataSet cdsSmSilo;
    TDCOMConnection DCOMConnection1;
    TClientDataSet cdsGSM;
    TClientDataSet cdsGoods;
    TClientDataSet cdsCategory;
    TClientDataSet cdsTovarStat;
    // The goods extractor's own connection, so that its thread never shares one with the windows.
    TDCOMConnection DCOMConnectionThread;

    // The grids' views of the sets the windows show. The sales sets get none: they are filled on
    // the extractor threads, and a model on the user interface thread must not follow them there.
    TDataSetModel dsSmSilo;
    TDataSetModel dsGSM;
    TDataSetModel dsGoods;
    TDataSetModel dsCategory;

    // Written by the menu handlers on the user interface thread while no extractor runs.
    QString GoodsDbPath;
    QString FuelDbPath;

    // Just before either connection connects: the computer of the statistics server.
    void DCOMConnection1BeforeConnect(TDCOMConnection& sender);
    // Just after either connection has connected: tells the server where the databases are.
    void DCOMConnection1AfterConnect(TDCOMConnection& sender);
    void CloseAllData();
    void DataModuleDestroy();
};

// One user action of a window on the main connection (a list to load, a picker to fill): ending
// the use closes the data sets named and then the connection, on every way out, errors included,
// so that nothing holds the server between the operator's actions. Opening stays with the
// window: a set opened on the closed connection connects it, with the folders of the module.
class TStatConnectionUse {
public:
    explicit TStatConnectionUse(TdmStatistic& dm, std::initializer_list<TClientDataSet*> sets = {});
    ~TStatConnectionUse();
    TStatConnectionUse(const TStatConnectionUse&) = delete;
    TStatConnectionUse& operator=(const TStatConnectionUse&) = delete;

private:
    TdmStatistic& m_dm;
    QList<TClientDataSet*> m_sets;
};

// The one instance: null until the host first builds the menu, freed when the library unloads.
extern TdmStatistic* dmStatistic;

// Creates dmStatistic unless it exists; returns it.
TdmStatistic* CreateDmStatistic();
// Frees dmStatistic (its destroy event closes the main connection) and clears the reference.
void FreeDmStatistic();
