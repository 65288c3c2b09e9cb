// The plug-in library loaded by the back-office host: its four entry points and what happens
// when it is loaded and unloaded.

#include "extraction/QueryLiterals.h"
#include "extraction/StatReport.h"
#include "platform/core/DaraPaths.h"
#include "platform/core/QtTranslations.h"
#include "platform/ui/UserTempFolder.h"
#include "plugin/HostBoundary.h"
#include "plugin/HostFunctions.h"
#include "plugin/StatInternal.h"
#include "plugin/StatisticsWindows.h"
#include "report_viewer/ReportSettings.h"
#include "report_viewer/RptForm.h"
#include "windows/ChainStat.h"
#include "windows/GSMStat.h"
#include "windows/StatWindow.h"
#include "windows/TovarStat.h"

#include "torvistat/plugin_abi.h"

#include <memory>

class QAction;

namespace {

// Qt's dialogs that the plug-in opens speak Russian from the first menu it hangs until it is
// unloaded; a host in another language gets its own dialogs back then.
// Defined before the module's initialisation, so that it outlives the finalisation that resets it.
std::unique_ptr<RussianQtTranslations> qtTranslations;

// Loading the library fills the process-wide format settings before any window can build a
// query. Unloading frees what InitReportMenu created while the code that owns it is still
// mapped: a QObject of ours outliving dlclose would leave the host with connections into
// unmapped code.
struct ModuleInitialisation {
    ModuleInitialisation() {
        QueryFormatSettings();
        StatisticsWindows::registerFactory(
            StatisticsWindows::Kind::Fuel,
            [](QWidget* parent, TdmStatistic& dm) { return CreateFuelStatistics(parent, dm); });
        StatisticsWindows::registerFactory(
            StatisticsWindows::Kind::Goods,
            [](QWidget* parent, TdmStatistic& dm) { return CreateGoodsStatistics(parent, dm); });
        StatisticsWindows::registerFactory(
            StatisticsWindows::Kind::Chain,
            [](QWidget* parent, TdmStatistic& dm) { return CreateChainStatistics(parent, dm); });
        // The report reaches the viewer through this entry, so extraction never links it.
        SetReportViewerEntry(&ShowReport);
        // The chart's numbers go where the viewer's exports go.
        SetDataFolderSource([] { return mapDaraPath(ReadExportFolder()); });
        try {
            SetTempHtmlFileName(userTempFolder() + QStringLiteral("torvihtmlreport.html"));
        } catch (const std::exception&) {
            // Asked again when a report is shown, where the operator can be told why it fails.
        }
    }
    ~ModuleInitialisation() {
        qtTranslations.reset();
        SetReportViewerEntry({});
        SetDataFolderSource({});
        FinalizeReportViewer();
        FinalizeStatistics();
        HostFunctions::reset();
    }
    ModuleInitialisation(const ModuleInitialisation&) = delete;
    ModuleInitialisation& operator=(const ModuleInitialisation&) = delete;
};

const ModuleInitialisation moduleInitialisation;

} // namespace

extern "C" {

void InitReports(int32_t, TorviGetValueFn getValue, int32_t) {
    HostFunctions::GetValue = getValue;
}

void SetGetValue(TorviGetValueFn getValue) {
    HostFunctions::GetValue = getValue;
}

void SetNewUserPriv(int32_t, TorviGetPrivValueFn getPrivValue) {
    HostFunctions::GetPrivValue = getPrivValue;
}

void InitReportMenu(void* applicationWindow, TorviMenuItem parent,
                    TorviCreateMenuItemFn createMenuItem, int32_t) {
    callAtHostBoundary([&] {
        // The host's application exists by now; a missing catalogue leaves Qt's English texts.
        if (!qtTranslations)
            qtTranslations = std::make_unique<RussianQtTranslations>();
        InitStatMenu(static_cast<QWidget*>(applicationWindow), static_cast<QAction*>(parent),
                     createMenuItem);
    });
}

} // extern "C"
