#pragma once

#include "report_viewer/ReportSettings.h"

#include <QFont>
#include <QImage>
#include <QList>
#include <QStringList>

#include <algorithm>

class QPainter;
class QPrinter;
class QWidget;

// The plain-text side of the report viewer: fixed-pitch report lines cut into pages by the
// printer's page height, tables whose "+", "-" and "|" are drawn as continuous rules, printing of
// page ranges, the page preview and saving the lines as a text file.

// The offset of the first line and the first column on whatever is drawn on, in its pixels.
constexpr int kReportMargin = 20;

// "+", "-" and "|"; nothing else takes part in rules.
bool IsBoxChar(QChar c);

// The print font of the settings, with a fixed-pitch fallback where the font itself is missing.
QFont ReportPrintFont(const TPrintSettings& settings);

// How many lines fit a page of `pageHeight`: never less than one, so a font taller than the page
// still prints, one line to a page.
int LinesPerPage(int pageHeight, int lineHeight);
// Pages for `lineCount` lines, a partial last page included; 0 for no lines.
int PageCount(int lineCount, int linesPerPage);

// The pages of the report as the printer cuts them, in its device pixels.
struct TReportPages {
    int lineHeight = 1;
    int cellWidth = 1;
    int linesPerPage = 1;
    int pageCount = 0;
    int firstLine(int page) const { return (page - 1) * linesPerPage; }
    int lastLine(int page, int lineCount) const {
        return std::min(page * linesPerPage, lineCount) - 1;
    }
};
// Gives the printer the orientation of the settings and counts the pages of `lineCount` lines in
// the settings' font.
TReportPages PrinterPages(QPrinter& printer, const TPrintSettings& settings, int lineCount);

// Draws lines first..last of `lines` with the painter's font, pen and brush, the first at the top
// margin; rules of box characters become lines, and a rule joins the lines before and after the
// range as it would on one long sheet. A painter brush other than none fills behind the text.
// Returns the drawing time in milliseconds.
qint64 DrawReportLines(QPainter& canvas, const QStringList& lines, int firstLine, int lastLine,
                       int lineHeight, int cellWidth);

// The blank and "ss.zzz" that each drawing adds to the viewer's caption.
QString DrawTimeSuffix(qint64 milliseconds);

// Prints pages fromPage..toPage (-1: the first, -1: the last) in `copies` copies. A printer that
// cannot make copies itself gets the range that many times. Returns the drawing time of each
// page printed. Throws when the range holds no page of the report (nothing is printed then), when
// the printer does not start or takes no further page.
QList<qint64> PrintReportLines(QPrinter& printer, const TPrintSettings& settings,
                               const QStringList& lines, int fromPage, int toPage, int copies);

// One page of the preview: the printer's sheet scaled to the screen by the font's metrics, with
// its margins, and the lines the printer puts on page `page` (limited to 1..pageCount).
struct TPreviewPage {
    QImage image;
    int page = 1;
    int pageCount = 1;
    qint64 drawMs = 0;
};
TPreviewPage RenderPreviewPage(QPrinter& printer, const TPrintSettings& settings,
                               const QStringList& lines, int page);

// The print dialog's answer.
struct TPrintChoice {
    bool confirmed = false;
    bool toFile = false;
    int fromPage = 1;
    int toPage = -1;
    int copies = 1;
    // The file named in the dialog for printing to a file; the text file is proposed after it.
    QString fileName;
};
// The print dialog of the plain text: page numbers, copies, printing to a file; the printer's
// orientation is preset from `portrait` and read back afterwards by the caller.
TPrintChoice AskPrintRange(QPrinter& printer, bool portrait, QWidget* parent);

// Writes every line followed by CR LF, in code page 1251, replacing the file. Throws on error.
void WriteReportTextFile(const QString& path, const QStringList& lines);
// Asks for a text file name, proposing `proposed` with the text's extension, and writes the lines
// there; false when the operator cancelled.
bool SaveReportToTextFile(const QStringList& lines, QWidget* parent,
                          const QString& proposed = QString());
