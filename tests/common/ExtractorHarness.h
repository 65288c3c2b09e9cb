#pragma once

// What a statistics window gives its extractor, without the window: the station's files behind
// an embedded server, a data set on its own connection, a chart, the labels and the track bar.
// Message boxes are answered here and recorded.

#include "common/StationFixture.h"
#include "common/WindowTestSupport.h"

#include "extraction/Extractor.h"
#include "platform/chart/ChartModel.h"
#include "platform/data/ClientDataSet.h"
#include "platform/data/DCOMConnection.h"
#include "platform/data/servers/StatServerChoice.h"
#include "platform/ui/MessageBoxes.h"

#include <QLabel>
#include <QSlider>
#include <QtTest>

#include <memory>

class ExtractorHarness {
public:
    explicit ExtractorHarness(const QString& providerName) {
        connection.setComputerName(station.computerName());
        connection.setAfterConnect([this](TDCOMConnection& sender) {
            sender.setStatParameter(1, goodsFolder);
            sender.setStatParameter(2, fuelFolder);
        });
        dataSet.setProviderName(providerName);
        dataSet.setRemoteServer(&connection);
        MessageBoxes::setHandler([this](const MessageBoxes::Shown& box) {
            // What the operator would see at that moment, besides the box itself.
            boxes << box;
            windowEnabledAtBox = owner.isEnabled();
            return QMessageBox::Ok;
        });
    }
    ~ExtractorHarness() { MessageBoxes::setHandler({}); }

    // Wakes the worker and serves its synchronised calls until it waits again.
    static void run(TExtractor& extractor) {
        extractor.Resume();
        QTRY_VERIFY_WITH_TIMEOUT(extractor.Suspended(), 20000);
    }

    QList<double> values(int seriesIndex) const {
        QList<double> out;
        if (const ChartSeries* series = chart.series(seriesIndex))
            for (const ChartPoint& p : series->points())
                out << p.y;
        return out;
    }
    // Rounded to cents, as the labels show them.
    QList<double> cents(int seriesIndex) const { return centValues(chart.series(seriesIndex)); }

    StationFixture station;
    QString goodsFolder = station.goodsParameter();
    QString fuelFolder = station.fuelParameter();
    TDCOMConnection connection{chooseStatServer};
    TClientDataSet dataSet;
    ChartModel chart;
    QWidget owner;
    QLabel minLabel;
    QLabel maxLabel;
    QLabel countLabel;
    QSlider pageBar;
    QList<MessageBoxes::Shown> boxes;
    bool windowEnabledAtBox = false;
};
