#pragma once

#include "torvistat/plugin_abi.h"

#include <QObject>
#include <QString>

class QAction;
class QWidget;

// The menu handler object: it carries the two click handlers of the statistics menu, so that
// the host's menu items can be connected to it. Deleting it disconnects the items, which is
// what lets the library be unloaded while the host keeps its menu.
class TStatinternal : public QObject {
    Q_OBJECT

public slots:
    // "ГСМ": fuel statistics over the folder FuelDbPathFromHost() decides.
    void GSMClick();
    // "Товары": goods statistics over the folder GetGoodsDbPath() reports.
    void TovarClick();
    // "Сеть АЗС…": the chain's statistics over the stations of the central server's catalogue.
    void ChainClick();
};

using StatClickHandler = void (TStatinternal::*)();

// The handler object, created on the first call; null before it and after FinalizeStatistics.
TStatinternal* statInternal();
TStatinternal* ensureStatInternal();

// Creates an item through the host's CreateMenuItem under parent at index and sets caption,
// hint (status and tool tip), help-context number (property "helpContext"), shortcut value
// (property "shortCut", the number as given) and, unless onClick is null, the click handler.
// Raises when the host has no CreateMenuItem or creates no item.
QAction* AddStatMenuItem(const QString& caption, const QString& hint, int helpContext, int shortCut,
                         StatClickHandler onClick, QAction* parent, int index);

// The statistics server's computer name as the host gives it (empty: the station's own files).
// Raises EConvertError when the host's answer cannot be read.
QString StatServerComputerName();

// What InitReportMenu does: takes over the host's main window, creates the handler object once,
// stores CreateMenuItem and hangs "Статистика" with "ГСМ" and "Товары" before the last entry of
// parent, and "Сеть АЗС…" after them when the statistics server keeps a chain's catalogue. Each
// call adds one more, equal menu.
void InitStatMenu(QWidget* applicationWindow, QAction* parent,
                  TorviCreateMenuItemFn createMenuItem);

// Frees everything the plug-in created for the host, in reverse order of creation: windows still
// referenced, then the handler object. Runs when the library is unloaded; safe to run twice.
void FinalizeStatistics();
