#include "platform/ui/ReportPrinter.h"

#include "platform/core/Exceptions.h"
#include "platform/core/StagedFile.h"
#include "platform/ui/HtmlView.h"

#include <QFile>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QScopeGuard>

namespace ReportPrinter {

namespace {

// The file the environment named for the last print: the next print without it goes to the
// printer again, not silently into that file.
QString& overrideInUse() {
    static QString file;
    return file;
}

// The PDF writer does not report a failed write. A complete file ends with the offset of its
// cross-reference table and "%%EOF", and the table starts at that offset: a file cut short has no
// such end, and one that lost a piece on the way has its table elsewhere.
bool pdfComplete(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 64 || !file.seek(file.size() - 64))
        return false;
    static const QRegularExpression trailer(QStringLiteral("startxref\\s+(\\d+)\\s+%%EOF\\s*$"));
    const QRegularExpressionMatch match = trailer.match(QString::fromLatin1(file.read(64)));
    bool ok = false;
    const qint64 table = match.captured(1).toLongLong(&ok);
    return match.hasMatch() && ok && file.seek(table) && file.read(4) == "xref";
}

} // namespace

void requirePrinter() {
    if (printFileOverride().isEmpty() && QPrinterInfo::availablePrinters().isEmpty())
        throw Exception(QStringLiteral("Принтер не установлен: отчет не напечатан"));
}

void runPrintJob(QPrinter& printer, const std::function<void()>& job) {
    const QString file =
        printer.outputFormat() == QPrinter::PdfFormat ? printer.outputFileName() : QString();
    if (file.isEmpty()) {
        job();
        return;
    }
    StagedFile staged(file);
    {
        printer.setOutputFileName(staged.temporaryPath());
        const auto restore = qScopeGuard([&] { printer.setOutputFileName(file); });
        job();
    }
    if (!pdfComplete(staged.temporaryPath()))
        staged.failIncomplete();
    staged.commit();
}

void choosePrinterOutput(QPrinter& printer) {
    const QString file = printFileOverride();
    if (!file.isEmpty()) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file);
        overrideInUse() = file;
        return;
    }
    if (!overrideInUse().isEmpty() && printer.outputFileName() == overrideInUse()) {
        printer.setOutputFileName(QString());
        printer.setOutputFormat(QPrinter::NativeFormat);
    }
    overrideInUse().clear();
    if (printer.outputFormat() != QPrinter::PdfFormat || printer.outputFileName().isEmpty())
        requirePrinter();
}

QPrinter& applicationPrinter() {
    static QPrinter printer(QPrinter::HighResolution);
    return printer;
}

QString printFileOverride() {
    return qEnvironmentVariable("TORVI_PRINT_TO_FILE");
}

void printHtml(HtmlView& view, QPageLayout::Orientation orientation, bool printBackground) {
    QPrinter& printer = applicationPrinter();
    choosePrinterOutput(printer);
    printer.setPageOrientation(orientation);
    runPrintJob(printer, [&] { view.printDocument(&printer, printBackground); });
}

void previewHtml(HtmlView& view, bool printBackground, QWidget* parent) {
    QPrinter& printer = applicationPrinter();
    QPrintPreviewDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("Предварительный просмотр"));
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                     [&view, printBackground](QPrinter* target) {
                         view.printDocument(target, printBackground);
                     });
    dialog.exec();
}

bool pageSetup(QWidget* parent) {
    QPageSetupDialog dialog(&applicationPrinter(), parent);
    dialog.setWindowTitle(QStringLiteral("Параметры страницы"));
    return dialog.exec() == QDialog::Accepted;
}

bool printerSetup(QWidget* parent) {
    QPrintDialog dialog(&applicationPrinter(), parent);
    dialog.setWindowTitle(QStringLiteral("Настройка печати"));
    dialog.setOptions(QAbstractPrintDialog::PrintToFile);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace ReportPrinter
