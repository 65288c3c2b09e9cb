#include "common/WindowTestSupport.h"

#include "platform/ui/ReportPrinter.h"
#include "report_viewer/ReportPages.h"
#include "report_viewer/RptForm.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

QStringList numberedLines(int count) {
    QStringList lines{"+-----+--------+", "|АИ-92| 1500,00|", "+-----+--------+"};
    for (int i = int(lines.size()); i < count; ++i)
        lines << QStringLiteral("Строка %1").arg(i, 4, 10, QLatin1Char('0'));
    return lines;
}

} // namespace

// The plain-text pages: rules drawn from box characters, page counting, printing to PDF and the
// page preview of the viewer.
class TestReportPages : public QObject {
    Q_OBJECT
    QTemporaryDir m_root;

private slots:
    void initTestCase() {
        qputenv("DARA_ROOT", QFile::encodeName(m_root.path()));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_root.path()));
    }

    void boxDrawing_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("lastLine");
        // Rules from the centre of cell "col,row" to the centre of another; cells printed as text.
        QTest::addColumn<QStringList>("rules");
        QTest::addColumn<QStringList>("textCells");

        QTest::newRow("three-line box")
            << QStringList{"+--+", "|  |", "+--+"} << 2
            << QStringList{"0,0-3,0", "0,2-3,2", "0,0-0,2", "3,0-3,2"} << QStringList{};
        QTest::newRow("bars side by side")
            << QStringList{"||"} << 0 << QStringList{} << QStringList{"0,0", "1,0"};
        QTest::newRow("two minus rows")
            << QStringList{"--", "--"} << 1 << QStringList{"0,0-1,0", "0,1-1,1"} << QStringList{};
        QTest::newRow("lone minus")
            << QStringList{" - "} << 0 << QStringList{} << QStringList{"1,0"};
        QTest::newRow("rule across a page break")
            << QStringList{"|", "|", "|"} << 0 << QStringList{"0,0-0,1"} << QStringList{};
    }

    void boxDrawing() {
        QFETCH(QStringList, lines);
        QFETCH(int, lastLine);
        QFETCH(QStringList, rules);
        QFETCH(QStringList, textCells);

        QFont font = ReportPrintFont(TPrintSettings());
        font.setStyleStrategy(QFont::NoAntialias);
        QImage drawn(300, 200, QImage::Format_RGB32);
        drawn.fill(Qt::white);
        QImage expected = drawn;
        const QFontMetrics metrics(font, &drawn);
        const QSize cell(metrics.horizontalAdvance(QLatin1Char('A')), metrics.height() + 2);
        QPainter canvas(&drawn);
        canvas.setFont(font);
        DrawReportLines(canvas, lines, 0, lastLine, cell.height(), cell.width());
        canvas.end();

        // The same sheet drawn by hand: every rule one straight line, every text character in its
        // cell, nothing else.
        const auto corner = [&](const QString& at) {
            return QPoint(kReportMargin + at.section(QLatin1Char(','), 0, 0).toInt() * cell.width(),
                          kReportMargin +
                              at.section(QLatin1Char(','), 1, 1).toInt() * cell.height());
        };
        const QPoint centre(cell.width() / 2, cell.height() / 2);
        QPainter hand(&expected);
        hand.setFont(font);
        for (const QString& rule : rules)
            hand.drawLine(corner(rule.section(QLatin1Char('-'), 0, 0)) + centre,
                          corner(rule.section(QLatin1Char('-'), 1, 1)) + centre);
        for (const QString& at : textCells)
            hand.drawText(corner(at) + QPoint(0, metrics.ascent()),
                          QString(lines.at(at.section(QLatin1Char(','), 1, 1).toInt())
                                      .at(at.section(QLatin1Char(','), 0, 0).toInt())));
        hand.end();
        QCOMPARE(drawn, expected);
    }

    void pageCount_data() {
        QTest::addColumn<int>("pageHeight");
        QTest::addColumn<int>("lineHeight");
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("pages");
        QTest::newRow("120 lines, 50 a page") << 5000 << 100 << 120 << 3;
        QTest::newRow("100 lines, 50 a page") << 5000 << 100 << 100 << 2;
        QTest::newRow("no lines") << 5000 << 100 << 0 << 0;
        QTest::newRow("line taller than the page") << 100 << 300 << 3 << 3;
    }

    void pageCount() {
        QFETCH(int, pageHeight);
        QFETCH(int, lineHeight);
        QFETCH(int, lines);
        QFETCH(int, pages);
        QCOMPARE(PageCount(lines, LinesPerPage(pageHeight, lineHeight)), pages);
    }

    void pdfPrint_data() {
        QTest::addColumn<int>("fromPage");
        QTest::addColumn<int>("toPage");
        QTest::addColumn<int>("copies");
        QTest::addColumn<QList<int>>("printed");
        QTest::newRow("all pages") << -1 << -1 << 1 << QList<int>{1, 2, 3};
        QTest::newRow("from page 2") << 2 << -1 << 1 << QList<int>{2, 3};
        QTest::newRow("page 1 twice") << 1 << 1 << 2 << QList<int>{1, 1};
        QTest::newRow("past the end") << 4 << 9 << 1 << QList<int>{};
    }

    void pdfPrint() {
        QFETCH(int, fromPage);
        QFETCH(int, toPage);
        QFETCH(int, copies);
        QFETCH(QList<int>, printed);

        const QString pdf = m_root.filePath("pages.pdf");
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        {
            // The printer's previous job was scaled, as an HTML print is.
            QPainter earlier(&printer);
            earlier.scale(12.5, 12.5);
            earlier.drawLine(0, 0, 10, 10);
        }
        QFile::remove(pdf);
        const int perPage = PrinterPages(printer, TPrintSettings(), 0).linesPerPage;
        const QStringList lines = numberedLines(2 * perPage + 3);
        PrintReportLines(printer, TPrintSettings(), lines, fromPage, toPage, copies);
        if (printed.isEmpty()) {
            QVERIFY2(!QFile::exists(pdf), "an empty range still printed a sheet");
            return;
        }
        QProcess text;
        text.start("pdftotext", {"-layout", pdf, "-"});
        text.waitForFinished(20000);
        // Every page ends with a form feed.
        const QStringList pages = QString::fromUtf8(text.readAll()).split('\f');
        QCOMPARE(pages.size(), printed.size() + 1);
        for (int sheet = 0; sheet < printed.size(); ++sheet) {
            const QString& page = pages.at(sheet);
            const int first = (printed.at(sheet) - 1) * perPage;
            // The table's rules are lines, not characters; the grade keeps its minus.
            QVERIFY2(
                page.trimmed().startsWith(first == 0 ? QStringLiteral("АИ-92") : lines.at(first)) &&
                    page.contains(lines.at(std::min(first + perPage, int(lines.size())) - 1)) &&
                    !page.contains(QLatin1Char('+')) && !page.contains(QLatin1Char('|')),
                qPrintable(page.left(300)));
        }
    }

    void previewPages() {
        WindowTestEnvironment environment;
        const int perPage =
            PrinterPages(ReportPrinter::applicationPrinter(), PrinterSettings(), 0).linesPerPage;
        const QStringList lines = numberedLines(2 * perPage + 1);
        TRptFrm w;
        w.Configure(lines.join('\n'), QByteArray(), "Отчет");
        w.show();
        // Without HTML only the text is shown, and none of the HTML view's controls.
        for (QWidget* hidden : std::initializer_list<QWidget*>{
                 w.bbtRepForm, w.sbtnAdditional, w.panWBParams, w.edScale, w.lbScale, w.cBcPrint,
                 w.gbExportData, w.rgOrientation})
            QVERIFY2(!hidden->isVisible(), qPrintable(hidden->objectName()));
        QVERIFY(!w.NewFormat() && w.RptMemo->isVisible());
        QCOMPARE(w.RptMemo->toPlainText(), lines.join('\n'));

        w.bbtPreview->click();
        QVERIFY(w.Panel3->isVisible() && !w.Panel4->isVisible());
        QVERIFY(w.StaticText2->text() == "3" && w.StaticText4->text() == "1");
        QVERIFY(!w.PrevBtn->isEnabled() && w.NextBtn->isEnabled());
        QVERIFY(w.Image1->pixmap().width() > 2 * kReportMargin);
        w.LastBtn->click();
        QVERIFY(w.CurrentPage() == 3 && w.StaticText4->text() == "3");
        QVERIFY(w.PrevBtn->isEnabled() && !w.NextBtn->isEnabled());
        // Each drawing adds its time to the caption.
        QVERIFY2(w.windowTitle().contains(QRegularExpression("^Отчет( \\d\\d\\.\\d{3}){2}$")),
                 qPrintable(w.windowTitle()));
    }

    // The operator names the file in the save dialog; the text lands there in code page 1251 with
    // CR LF, and a cancelled dialog writes nothing.
    void saveToTextFile() {
        const QString path = m_root.filePath(QStringLiteral("отчет.txt"));
        for (const bool accept : {false, true}) {
            QTimer::singleShot(0, [&] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                dialog->selectFile(path);
                accept ? static_cast<QDialog*>(dialog)->accept() : dialog->reject();
            });
            QCOMPARE(SaveReportToTextFile({"|АИ-92|", "Итого"}, nullptr), accept);
            QCOMPARE(QFile::exists(path), accept);
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("|\xc0\xc8-92|\r\n\xc8\xf2\xee\xe3\xee\r\n"));
    }

    // "Print to file" in the print dialog means the text itself: the choice says so and the
    // printer is left printing to paper, not into the file.
    void printDialogToFile() {
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(m_root.filePath(QStringLiteral("dialog.pdf")));
        QTimer::singleShot(0, [] {
            QDialog* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->accept();
        });
        const TPrintChoice choice = AskPrintRange(printer, false, nullptr);
        QVERIFY(choice.confirmed && choice.toFile);
        QVERIFY(printer.outputFileName().isEmpty());
        QCOMPARE(printer.pageLayout().orientation(), QPageLayout::Landscape);
    }
};

QTEST_MAIN(TestReportPages)
#include "tst_reportpages.moc"
