#pragma once

#include <QPageLayout>

#include <functional>

class HtmlView;
class QPrinter;
class QWidget;

// Printing of HTML reports. The process keeps one printer, the application's current one, so that
// a page set-up chosen once holds for every later report of the session.
namespace ReportPrinter {

QPrinter& applicationPrinter();

// Where printing goes instead of a printer when the environment names a file
// (TORVI_PRINT_TO_FILE): a PDF file. Empty when it does not.
QString printFileOverride();

// Points the printer at the file named by the environment, or checks that it has a real one.
void choosePrinterOutput(QPrinter& printer);

// Throws "Принтер не установлен" when printing has nowhere to go: no printer is installed and the
// environment names no print file.
void requirePrinter();

// Runs one print job on `printer`. A printer that writes a PDF file writes it under a temporary
// name beside the file; only a complete PDF takes the file's name, so a job that fails or is cut
// short (a full disk) leaves no partial file and throws an error naming the file and the reason.
void runPrintJob(QPrinter& printer, const std::function<void()>& job);

// Prints the view's document without a dialog in the given orientation. Throws when there is no
// printer to print on or the print file could not be written, instead of letting the report
// vanish unprinted.
void printHtml(HtmlView& view, QPageLayout::Orientation orientation, bool printBackground);

// The print preview of the document, modal.
void previewHtml(HtmlView& view, bool printBackground, QWidget* parent);

// The page set-up dialog of the application's printer; true when confirmed.
bool pageSetup(QWidget* parent);

// The printer set-up dialog (printer choice, paper, orientation); true when confirmed.
bool printerSetup(QWidget* parent);

} // namespace ReportPrinter
