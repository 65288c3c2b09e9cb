#include "report_viewer/ReportPages.h"

#include "platform/core/CodePage1251.h"
#include "platform/core/Exceptions.h"
#include "platform/core/StagedFile.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTime>
#include <QtMath>

#include <algorithm>

namespace {

// A box character at 1-based position `pos` of `line`, if the line is that long.
QChar boxAt(const QString& line, int pos) {
    return pos >= 1 && pos <= line.size() && IsBoxChar(line.at(pos - 1)) ? line.at(pos - 1)
                                                                         : QChar();
}

// A text run, each character in its own cell: a proportional fallback font or a fractional
// advance must not let the text drift off the grid the rules are drawn on.
void drawRun(QPainter& canvas, const QString& text, const QRect& rect, int cellWidth) {
    if (text.isEmpty())
        return;
    if (canvas.brush().style() != Qt::NoBrush)
        canvas.fillRect(rect, canvas.brush());
    canvas.save();
    canvas.setClipRect(rect);
    const int baseline = rect.top() + canvas.fontMetrics().ascent();
    for (int i = 0; i < text.size(); ++i)
        if (!text.at(i).isSpace())
            canvas.drawText(QPoint(rect.left() + i * cellWidth, baseline), QString(text.at(i)));
    canvas.restore();
}

void orientPrinter(QPrinter& printer, const TPrintSettings& settings) {
    printer.setPageOrientation(settings.portrait ? QPageLayout::Portrait : QPageLayout::Landscape);
}

int printableHeight(const QPrinter& printer) {
    return qFloor(printer.pageRect(QPrinter::DevicePixel).height());
}

} // namespace

bool IsBoxChar(QChar c) {
    return c == QLatin1Char('+') || c == QLatin1Char('-') || c == QLatin1Char('|');
}

QFont ReportPrintFont(const TPrintSettings& settings) {
    QFont font(settings.fontName);
    font.setPointSize(std::max(settings.fontSize, 1));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return font;
}

int LinesPerPage(int pageHeight, int lineHeight) {
    return std::max(1, pageHeight / std::max(lineHeight, 1));
}

int PageCount(int lineCount, int linesPerPage) {
    const int perPage = std::max(linesPerPage, 1);
    return lineCount / perPage + (lineCount % perPage > 0 ? 1 : 0);
}

TReportPages PrinterPages(QPrinter& printer, const TPrintSettings& settings, int lineCount) {
    orientPrinter(printer, settings);
    const QFontMetrics metrics(ReportPrintFont(settings), &printer);
    TReportPages pages;
    pages.lineHeight = metrics.height() + 2;
    pages.cellWidth = std::max(metrics.horizontalAdvance(QLatin1Char('A')), 1);
    pages.linesPerPage = LinesPerPage(printableHeight(printer), pages.lineHeight);
    pages.pageCount = PageCount(lineCount, pages.linesPerPage);
    return pages;
}

qint64 DrawReportLines(QPainter& canvas, const QStringList& lines, int firstLine, int lastLine,
                       int lineHeight, int cellWidth) {
    QElapsedTimer clock;
    clock.start();
    const int last = std::min(lastLine, int(lines.size()) - 1);
    int y = kReportMargin;
    for (int i = std::max(firstLine, 0); i <= last; ++i, y += lineHeight) {
        const QString& s = lines.at(i);
        if (s.isEmpty())
            continue;
        const QString* below = i + 1 < lines.size() ? &lines.at(i + 1) : nullptr;
        const QString* above = i > 0 ? &lines.at(i - 1) : nullptr;
        const int length = int(s.size());
        QString buffer;
        int runStart = 0;
        int prevPos = 0;
        bool prevGraphic = true;
        for (int pos = 1; pos <= length + 1; ++pos) {
            bool graphic;
            if (pos > length) {
                // Forces the last transition, so that a text run at the end of the line is drawn.
                graphic = !prevGraphic;
            } else {
                const QChar c = s.at(pos - 1);
                graphic = false;
                if (IsBoxChar(c)) {
                    const bool bar = c == QLatin1Char('|');
                    const bool minus = c == QLatin1Char('-');
                    const int cx = (pos - 1) * cellWidth + kReportMargin + cellWidth / 2;
                    const int cy = y + lineHeight / 2;
                    // Bars side by side are two rules, not one; minus rows one above the other too.
                    const QChar right = boxAt(s, pos + 1);
                    if (!right.isNull() && !(bar && right == QLatin1Char('|'))) {
                        graphic = true;
                        canvas.drawLine(cx, cy, cx + cellWidth, cy);
                    }
                    const QChar left = boxAt(s, pos - 1);
                    if (!left.isNull() && !(bar && left == QLatin1Char('|')))
                        graphic = true;
                    const QChar down = below ? boxAt(*below, pos) : QChar();
                    if (!down.isNull() && !(minus && down == QLatin1Char('-'))) {
                        graphic = true;
                        canvas.drawLine(cx, cy, cx, y + lineHeight + lineHeight / 2);
                    }
                    const QChar up = above ? boxAt(*above, pos) : QChar();
                    if (!up.isNull() && !(minus && up == QLatin1Char('-')))
                        graphic = true;
                }
                if (!graphic)
                    buffer += c;
            }
            if (graphic != prevGraphic) {
                if (!prevGraphic) {
                    const QRect run(QPoint(runStart * cellWidth + kReportMargin, y),
                                    QPoint(prevPos * cellWidth + kReportMargin + cellWidth - 1,
                                           y + lineHeight - 1));
                    drawRun(canvas, buffer, run, cellWidth);
                    buffer.clear();
                }
                runStart = pos - 1;
            }
            prevPos = pos - 1;
            prevGraphic = graphic;
        }
    }
    return clock.elapsed();
}

QString DrawTimeSuffix(qint64 milliseconds) {
    return QLatin1Char(' ') +
           QTime(0, 0).addMSecs(int(milliseconds % 60000)).toString(QStringLiteral("ss.zzz"));
}

QList<qint64> PrintReportLines(QPrinter& printer, const TPrintSettings& settings,
                               const QStringList& lines, int fromPage, int toPage, int copies) {
    const TReportPages pages = PrinterPages(printer, settings, int(lines.size()));
    const int from = fromPage == -1 ? 1 : std::max(fromPage, 1);
    const int to = std::min(toPage == -1 ? pages.pageCount : toPage, pages.pageCount);
    // Nothing to print: no job, rather than a blank sheet out of the printer, and the operator is
    // told so instead of waiting for a page that never comes.
    if (pages.pageCount == 0)
        throw Exception(QStringLiteral("Отчет пуст: печатать нечего"));
    if (from > to)
        throw Exception(
            QStringLiteral(
                "Ничего не напечатано: в отчете страниц %1, а выбраны страницы с %2 по %3")
                .arg(pages.pageCount)
                .arg(from)
                .arg(toPage == -1 ? pages.pageCount : toPage));
    QList<qint64> times;
    int rounds = 1;
    if (printer.supportsMultipleCopies()) {
        printer.setCopyCount(std::max(copies, 1));
    } else {
        printer.setCopyCount(1);
        rounds = std::max(copies, 1);
    }
    QPainter canvas;
    if (!canvas.begin(&printer))
        throw EOSError(QStringLiteral("Принтер не готов к печати"));
    // The PDF engine keeps the transformation of the printer's previous job (an HTML print scales
    // its page) unless the painter sends one: an identity is sent explicitly.
    canvas.setWorldTransform(QTransform());
    canvas.setFont(ReportPrintFont(settings));
    const int cellWidth = std::max(canvas.fontMetrics().horizontalAdvance(QLatin1Char('A')), 1);
    // A hairline at the printer's resolution all but vanishes; about a fifth of a millimetre.
    canvas.setPen(QPen(Qt::black, std::max(1, printer.resolution() / 127)));
    canvas.setBrush(Qt::white);
    bool firstPage = true;
    for (int round = 0; round < rounds; ++round)
        for (int page = from; page <= to; ++page) {
            if (!firstPage && !printer.newPage())
                throw EOSError(QStringLiteral("Принтер не принял следующую страницу"));
            firstPage = false;
            times << DrawReportLines(canvas, lines, pages.firstLine(page),
                                     pages.lastLine(page, int(lines.size())), pages.lineHeight,
                                     cellWidth);
        }
    if (!canvas.end())
        throw EOSError(QStringLiteral("Печать не завершена: принтер не принял задание"));
    return times;
}

TPreviewPage RenderPreviewPage(QPrinter& printer, const TPrintSettings& settings,
                               const QStringList& lines, int page) {
    TPreviewPage result;
    const QFont font = ReportPrintFont(settings);
    orientPrinter(printer, settings);
    // The sheet is the printer's, shrunk to the screen by how much smaller the font is there.
    QImage probe(1, 1, QImage::Format_RGB32);
    const QFontMetrics onImage(font, &probe);
    const QFontMetrics onPrinter(font, &printer);
    const double ratioH = (onImage.height() + 2.0) / (onPrinter.height() + 2.0);
    const double ratioW = double(onImage.horizontalAdvance(QStringLiteral("Width"))) /
                          std::max(onPrinter.horizontalAdvance(QStringLiteral("Width")), 1);

    const TReportPages pages = PrinterPages(printer, settings, int(lines.size()));
    result.pageCount = std::max(pages.pageCount, 1);
    result.page = std::clamp(page, 1, result.pageCount);

    const QRectF sheet = printer.pageRect(QPrinter::DevicePixel);
    const int width = qRound(sheet.width() * ratioW) + 2 * kReportMargin;
    const int height = qRound(sheet.height() * ratioH) + 2 * kReportMargin;
    result.image = QImage(width, height, QImage::Format_RGB32);
    result.image.setDotsPerMeterX(probe.dotsPerMeterX());
    result.image.setDotsPerMeterY(probe.dotsPerMeterY());

    QPainter canvas(&result.image);
    canvas.fillRect(result.image.rect(), Qt::white);
    canvas.setPen(Qt::black);
    canvas.drawRect(0, 0, width - 1, height - 1);
    canvas.setPen(QPen(Qt::blue, 1, Qt::DotLine));
    canvas.drawLine(kReportMargin, 0, kReportMargin, height);
    canvas.drawLine(width - kReportMargin, 0, width - kReportMargin, height);
    canvas.drawLine(0, kReportMargin, width, kReportMargin);
    canvas.drawLine(0, height - kReportMargin, width, height - kReportMargin);
    canvas.setPen(QPen(Qt::black, 1, Qt::SolidLine));
    canvas.setFont(font);
    canvas.setBrush(Qt::NoBrush);
    if (!lines.isEmpty())
        result.drawMs =
            DrawReportLines(canvas, lines, pages.firstLine(result.page),
                            pages.lastLine(result.page, int(lines.size())), onImage.height() + 2,
                            std::max(onImage.horizontalAdvance(QLatin1Char('A')), 1));
    return result;
}

TPrintChoice AskPrintRange(QPrinter& printer, bool portrait, QWidget* parent) {
    printer.setPageOrientation(portrait ? QPageLayout::Portrait : QPageLayout::Landscape);
    printer.setPrintRange(QPrinter::AllPages);
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("Печать"));
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintPageRange |
                      QAbstractPrintDialog::PrintShowPageSize);
    // The pages are counted only when printing: the range has no upper limit here.
    dialog.setMinMax(1, 99999);
    printer.setFromTo(1, 99999);
    TPrintChoice choice;
    choice.confirmed = dialog.exec() == QDialog::Accepted;
    if (!choice.confirmed)
        return choice;
    if (printer.printRange() == QPrinter::PageRange) {
        choice.fromPage = std::max(printer.fromPage(), 1);
        choice.toPage = printer.toPage() > 0 ? printer.toPage() : -1;
    }
    choice.copies = std::max(printer.copyCount(), 1);
    choice.toFile =
        printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty();
    if (choice.toFile) {
        choice.fileName = printer.outputFileName();
        // "To a file" means the text itself; the printer must not keep printing into the file.
        printer.setOutputFileName(QString());
        printer.setOutputFormat(QPrinter::NativeFormat);
    }
    return choice;
}

void WriteReportTextFile(const QString& path, const QStringList& lines) {
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += CodePage1251::encode(line) + "\r\n";
    writeWholeFile(path, bytes);
}

bool SaveReportToTextFile(const QStringList& lines, QWidget* parent, const QString& proposed) {
    const QFileInfo name(proposed);
    QFileDialog dialog(parent, QStringLiteral("Сохранить отчет в файл"),
                       proposed.isEmpty() ? QString() : name.absolutePath(),
                       QStringLiteral("Text files (*.txt *.TXT)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    if (!proposed.isEmpty())
        dialog.selectFile(name.completeBaseName() + QStringLiteral(".txt"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    WriteReportTextFile(dialog.selectedFiles().constFirst(), lines);
    return true;
}
