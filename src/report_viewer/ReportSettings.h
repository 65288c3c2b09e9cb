#pragma once

#include <QString>

class QWidget;

// What the report viewer remembers between reports and sessions: the suite's settings file for
// the format, background printing, the plain-text print font and orientation and the export
// choices; the machine-wide registry for the HTML print options of each report title; the HTML
// view's own registry settings for printing backgrounds.

// The suite's settings file, cnf.INI in the system folder.
QString CnfIniPath();

// The plain-text print settings of the process: every viewer starts from what the previous one
// left, and these are the defaults when the settings file has no value.
struct TPrintSettings {
    QString fontName = QStringLiteral("Courier");
    int fontSize = 11;
    int fontCharset = 204;
    bool portrait = true;
};
TPrintSettings& PrinterSettings();

// Read by every ShowReport; never written here.
bool& AllowExportReports();

// The keys of "Misc" that belong to the viewer window rather than to the process.
struct TViewerSettings {
    bool newFormat = false;
    bool printBackground = true;
    int exportType = 0;
};

// Window creation: "Format", "PrintBackground", "OSP", "FNP", "SFP", "FCP", "RepExportType" in
// this order; the print settings are updated. An export choice outside 0..5 reads as 0.
TViewerSettings ReadViewerSettings();
// Window close: "OSP", "FNP", "SFP", "FCP", "Format", "PrintBackground", "RepExportType".
void WriteViewerSettings(const TViewerSettings& settings);
// The font dialog's keys "FNP", "SFP", "FCP", written as soon as it is confirmed.
void WritePrinterFont();
// "OSP", written as soon as a printer set-up is confirmed.
void WritePrinterOrientation();
// "Reports" "AllowExportReports", default true; also stored in AllowExportReports().
bool ReadAllowExportReports();
// "TovarExports" "Каталог экспорта", trimmed, default the suite's export folder.
QString ReadExportFolder();

// The HTML print options of one report title, kept in the machine-wide registry.
struct TPrintOptions {
    int orientation = 0;
    int fontSize = 2;
    int scale = 100;
};
TPrintOptions LoadPrintOptions(const QString& reportTitle);
void SavePrintOptions(const QString& reportTitle, const TPrintOptions& options);

// The HTML view's "Print_Background" switch: "yes" or "no", written only where the view's settings
// key exists (it is the engine's, not the viewer's, to create).
void ApplyPrintBackground(bool print);
// Whether the HTML view prints backgrounds: its own switch where it has one, else the operator's
// tick `ticked`.
bool PrintBackgroundSetting(bool ticked);

// The engine behind the HTML view and the version its zoom and print preview need.
QString HtmlEngineName();
QString HtmlEngineVersion();
QString HtmlEngineMinimumVersion();
// True when `version` is at least the minimum; otherwise the operator is told which version is
// installed and which is needed, and the answer is false.
bool CheckEngineVersion(QWidget* parent, const QString& version = HtmlEngineVersion());
