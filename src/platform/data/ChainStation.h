#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// A station of a chain as its catalogue on the central server lists it: the names of its fuel and
// goods databases on that server and the region it is counted in.
struct TChainStation {
    QString name;
    QString region;
    QString fuelDb;
    QString goodsDb;
    QDateTime registered;
};

using TChainStations = QList<TChainStation>;
