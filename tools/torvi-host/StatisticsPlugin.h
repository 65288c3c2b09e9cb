#pragma once

#include "torvistat/plugin_abi.h"

#include <QString>

class QAction;
class QWidget;

// The statistics plug-in as the back-office host loads it: dlopen, the four entry points
// through the public ABI, dlclose.
class StatisticsPlugin {
public:
    StatisticsPlugin() = default;
    ~StatisticsPlugin();
    StatisticsPlugin(const StatisticsPlugin&) = delete;
    StatisticsPlugin& operator=(const StatisticsPlugin&) = delete;

    // Loads the library and finds its entry points; on failure says why, in Russian.
    bool load(const QString& path, QString* error);
    bool isLoaded() const { return m_library != nullptr; }
    const QString& path() const { return m_path; }

    // Hands over the value functions and hangs the statistics menu under reportsItem, in the
    // order the suite's back office calls them.
    void initialise(QWidget* mainWindow, QAction* reportsItem);

    // Unloads the library; the plug-in frees what it created first. The host's menu items stay.
    void unload();

private:
    void* m_library = nullptr;
    QString m_path;
    TorviInitReportsFn m_initReports = nullptr;
    TorviSetGetValueFn m_setGetValue = nullptr;
    TorviSetNewUserPrivFn m_setNewUserPriv = nullptr;
    TorviInitReportMenuFn m_initReportMenu = nullptr;
};
