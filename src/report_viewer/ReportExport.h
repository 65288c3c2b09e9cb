#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

class HtmlView;
class QWidget;

// Export of a finished HTML report from the viewer: into a new document of the office suite
// (LibreOffice stands in for every office application the operator can choose), into the
// clipboard, or into an HTML file.

// The targets in the order the viewer offers them; the index is what the settings file keeps.
enum TExportTarget { etWord, etExcel, etWriter, etCalc, etClipboard, etHtmlFile };
QStringList ExportTargetCaptions();

// "ОТЧЕТ ddmmyy hhnn": the name proposed for an exported file, without extension.
QString ExportFileBaseName(const QDateTime& at);

// Where the export takes the current time from; a test puts its own clock here. An empty clock
// restores the system's. Returns the previous one.
using ExportClock = std::function<QDateTime()>;
ExportClock SetExportClock(ExportClock clock);

// The report's HTML as LibreOffice reads it best: UTF-8, and its pictures (named by the suite's
// own paths) in the form the import keeps. The text documents' import keeps pictures inside the
// page; the spreadsheet import drops those and keeps only pictures it reads from files: with a
// `pictureFolder` the pictures are written there as PNG files and named by their file names.
QByteArray OfficeHtml(const QByteArray& htmlText, const QString& pictureFolder = QString());

// Runs the export to target `index` (its caption `name`) of the report shown in `view`, whose
// text is `htmlText` (code page 1251). Everything after the copy into the clipboard is reported
// to the operator by message boxes; the view's selection is cleared afterwards.
void ExportReport(int index, const QString& name, HtmlView& view, const QByteArray& htmlText,
                  QWidget* parent);
