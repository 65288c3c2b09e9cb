#include "report_viewer/ReportSettings.h"

#include "platform/core/DaraPaths.h"
#include "platform/settings/Registry.h"
#include "platform/ui/MessageBoxes.h"
#include "support/SafeIniFile.h"

#include <QDir>
#include <QFileInfo>
#include <QVersionNumber>

namespace {

const QString kMisc = QStringLiteral("Misc");
const QString kPrintOptionsKey = QStringLiteral("SOFTWARE\\Meltrane\\Torvi\\Reports\\PrintOptions");
// The HTML view's own settings, named as the browser engine of the suite's other programs names
// them.
const QString kHtmlViewKey = QStringLiteral("\\Software\\Torvi\\HtmlView\\Main\\");
const QString kPrintBackground = QStringLiteral("Print_Background");

int registryInteger(const TRegistry& registry, const QString& name, int defaultValue) {
    bool ok = false;
    const int value = registry.readValue(kPrintOptionsKey, name).toString().trimmed().toInt(&ok);
    return ok ? value : defaultValue;
}

} // namespace

QString CnfIniPath() {
    return daraRoot() + QStringLiteral("/etc/cnf.INI");
}

namespace {

// The system folder always exists where the suite was installed; its stand-in under the suite's
// root may not yet on a fresh station, and a write must not fail for that alone.
void makeSettingsFolder() {
    QDir().mkpath(QFileInfo(CnfIniPath()).absolutePath());
}

// The font keys, in the order the suite's programs write them wherever they are written.
void writeFont(TSafeIniFile& ini, const TPrintSettings& print) {
    ini.WriteString(kMisc, QStringLiteral("FNP"), print.fontName);
    ini.WriteInteger(kMisc, QStringLiteral("SFP"), print.fontSize);
    ini.WriteInteger(kMisc, QStringLiteral("FCP"), print.fontCharset);
}

} // namespace

TPrintSettings& PrinterSettings() {
    static TPrintSettings settings;
    return settings;
}

bool& AllowExportReports() {
    static bool allowed = true;
    return allowed;
}

TViewerSettings ReadViewerSettings() {
    TSafeIniFile ini(CnfIniPath());
    TPrintSettings& print = PrinterSettings();
    TViewerSettings settings;
    settings.newFormat = ini.ReadBool(kMisc, QStringLiteral("Format"), false);
    settings.printBackground = ini.ReadBool(kMisc, QStringLiteral("PrintBackground"), true);
    print.portrait = ini.ReadBool(kMisc, QStringLiteral("OSP"), print.portrait);
    print.fontName = ini.ReadString(kMisc, QStringLiteral("FNP"), print.fontName);
    print.fontSize = ini.ReadInteger(kMisc, QStringLiteral("SFP"), print.fontSize);
    print.fontCharset = ini.ReadInteger(kMisc, QStringLiteral("FCP"), print.fontCharset);
    const int exportType = ini.ReadInteger(kMisc, QStringLiteral("RepExportType"), 0);
    settings.exportType = exportType >= 0 && exportType <= 5 ? exportType : 0;
    return settings;
}

void WriteViewerSettings(const TViewerSettings& settings) {
    makeSettingsFolder();
    TSafeIniFile ini(CnfIniPath());
    const TPrintSettings& print = PrinterSettings();
    ini.WriteBool(kMisc, QStringLiteral("OSP"), print.portrait);
    writeFont(ini, print);
    ini.WriteBool(kMisc, QStringLiteral("Format"), settings.newFormat);
    ini.WriteBool(kMisc, QStringLiteral("PrintBackground"), settings.printBackground);
    ini.WriteInteger(kMisc, QStringLiteral("RepExportType"), settings.exportType);
}

void WritePrinterFont() {
    makeSettingsFolder();
    TSafeIniFile ini(CnfIniPath());
    writeFont(ini, PrinterSettings());
}

void WritePrinterOrientation() {
    makeSettingsFolder();
    TSafeIniFile ini(CnfIniPath());
    ini.WriteBool(kMisc, QStringLiteral("OSP"), PrinterSettings().portrait);
}

bool ReadAllowExportReports() {
    TSafeIniFile ini(CnfIniPath());
    AllowExportReports() =
        ini.ReadBool(QStringLiteral("Reports"), QStringLiteral("AllowExportReports"), true);
    return AllowExportReports();
}

QString ReadExportFolder() {
    TSafeIniFile ini(CnfIniPath());
    return ini
        .ReadString(QStringLiteral("TovarExports"), QStringLiteral("Каталог экспорта"),
                    QStringLiteral("C:\\DARA\\EXPORT\\"))
        .trimmed();
}

TPrintOptions LoadPrintOptions(const QString& reportTitle) {
    const TRegistry registry(TRegistry::LocalMachine);
    TPrintOptions options;
    options.orientation =
        registryInteger(registry, reportTitle + QStringLiteral("_Orientation"), 0);
    options.fontSize = registryInteger(registry, reportTitle + QStringLiteral("_FontSize"), 2);
    options.scale = registryInteger(registry, reportTitle + QStringLiteral("_Scale"), 100);
    return options;
}

void SavePrintOptions(const QString& reportTitle, const TPrintOptions& options) {
    TRegistry registry(TRegistry::LocalMachine);
    registry.writeValue(kPrintOptionsKey, reportTitle + QStringLiteral("_Orientation"),
                        QString::number(options.orientation));
    registry.writeValue(kPrintOptionsKey, reportTitle + QStringLiteral("_FontSize"),
                        QString::number(options.fontSize));
    registry.writeValue(kPrintOptionsKey, reportTitle + QStringLiteral("_Scale"),
                        QString::number(options.scale));
    registry.flush();
}

void ApplyPrintBackground(bool print) {
    TRegistry registry(TRegistry::LocalMachine);
    if (!registry.keyExists(kHtmlViewKey))
        return;
    registry.writeValue(kHtmlViewKey, kPrintBackground,
                        print ? QStringLiteral("yes") : QStringLiteral("no"));
    registry.flush();
}

bool PrintBackgroundSetting(bool ticked) {
    const TRegistry registry(TRegistry::LocalMachine);
    if (!registry.valueExists(kHtmlViewKey, kPrintBackground))
        return ticked;
    return registry.readValue(kHtmlViewKey, kPrintBackground).toString() != QLatin1String("no");
}

QString HtmlEngineName() {
    return QStringLiteral("Qt");
}

QString HtmlEngineVersion() {
    return QString::fromLatin1(qVersion());
}

QString HtmlEngineMinimumVersion() {
    return QStringLiteral("6.2");
}

bool CheckEngineVersion(QWidget* parent, const QString& version) {
    const QVersionNumber installed = QVersionNumber::fromString(version.trimmed());
    if (!installed.isNull() && installed >= QVersionNumber::fromString(HtmlEngineMinimumVersion()))
        return true;
    MessageBoxes::information(
        parent, QStringLiteral("Установленная версия %1 %2 не допускает использования данной "
                               "функции.\n\rУстановите %1 версии не ниже %3.")
                    .arg(HtmlEngineName(), version, HtmlEngineMinimumVersion()));
    return false;
}
