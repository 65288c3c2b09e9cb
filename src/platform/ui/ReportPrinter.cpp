#include "platform/ui/ReportPrinter.h"

#include "platform/core/Exceptions.h"
#include "platform/ui/HtmlView.h"

#include <QFile>
#include <QFileInfo>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>

namespace ReportPrinter {

namespace {

// The file the environment named for the last print: the next print without it goes to the
// printer again, not silently into that file.
QString& overrideInUse() {
    static QString file;
    return file;
}

} // namespace

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
    const bool toFile =
        printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty();
    if (!toFile && QPrinterInfo::availablePrinters().isEmpty())
        throw Exception(QStringLiteral("Принтер не установлен: отчет не напечатан"));
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
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat;
    if (toFile)
        QFile::remove(printer.outputFileName());
    view.printDocument(&printer, printBackground);
    // The document's printing says nothing when the printer would not start.
    if (toFile && !QFileInfo(printer.outputFileName()).isFile())
        throw EOSError(
            QStringLiteral("Не удалось записать файл печати %1").arg(printer.outputFileName()));
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
