#include "common/WindowTestSupport.h"

#include "platform/ui/ReportPrinter.h"
#include "report_viewer/ReportPages.h"
#include "report_viewer/RptForm.h"

#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QtTest>

// The plain-text pages: rules drawn from box characters, page counting, printing to PDF and the
// page preview of the viewer.
class TestReportPages : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void boxDrawing_data();
    void boxDrawing();
    void pageCount_data();
    void pageCount();
    void pdfPrint_data();
    void pdfPrint();
    void previewPages();

private:
    QTemporaryDir m_root;
};

namespace {

// "col,row-col,row": from the centre of one cell to the centre of another.
struct Segment {
    QPoint from, to;
};

QList<Segment> segments(const QString& text, int lineHeight, int cellWidth) {
    QList<Segment> result;
    const auto centre = [&](const QString& cell) {
        const QStringList xy = cell.split(QLatin1Char(','));
        return QPoint(kReportMargin + xy.at(0).toInt() * cellWidth + cellWidth / 2,
                      kReportMargin + xy.at(1).toInt() * lineHeight + lineHeight / 2);
    };
    for (const QString& part : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        result.append({centre(part.section(QLatin1Char('-'), 0, 0)),
                       centre(part.section(QLatin1Char('-'), 1, 1))});
    return result;
}

QList<QPoint> pixels(const Segment& s, int trim) {
    QList<QPoint> result;
    const QPoint step((s.to.x() > s.from.x()) - (s.to.x() < s.from.x()),
                      (s.to.y() > s.from.y()) - (s.to.y() < s.from.y()));
    const int length = std::max(std::abs(s.to.x() - s.from.x()), std::abs(s.to.y() - s.from.y()));
    for (int i = trim; i <= length - trim; ++i)
        result << s.from + step * i;
    return result;
}

int pdfPages(const QString& pdf) {
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {pdf});
    info.waitForFinished(20000);
    return QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
        .match(QString::fromUtf8(info.readAll()))
        .captured(1)
        .toInt();
}

QString pdfText(const QString& pdf, int page) {
    QProcess text;
    text.start(QStringLiteral("pdftotext"),
               {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(page),
                QStringLiteral("-l"), QString::number(page), pdf, QStringLiteral("-")});
    text.waitForFinished(20000);
    return QString::fromUtf8(text.readAll());
}

bool dark(const QImage& image, QPoint p) {
    return qGray(image.pixel(p)) < 128;
}

QStringList numberedLines(int count) {
    QStringList lines{QStringLiteral("+-----+--------+"), QStringLiteral("|АИ-92| 1500,00|"),
                      QStringLiteral("+-----+--------+")};
    for (int i = int(lines.size()); i < count; ++i)
        lines << QStringLiteral("Строка %1").arg(i, 4, 10, QLatin1Char('0'));
    return lines;
}

TPrintSettings courier() {
    TPrintSettings settings;
    settings.fontName = QStringLiteral("Courier");
    settings.fontSize = 11;
    return settings;
}

} // namespace

void TestReportPages::initTestCase() {
    qputenv("DARA_ROOT", QFile::encodeName(m_root.path()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_root.path()));
}

void TestReportPages::boxDrawing_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("lastLine");
    // Rules that must be drawn, joins that must not be, cells whose character is printed.
    QTest::addColumn<QString>("rules");
    QTest::addColumn<QString>("noJoins");
    QTest::addColumn<QString>("textCells");

    QTest::newRow("three-line box")
        << QStringList{"+--+", "|  |", "+--+"} << 2 << "0,0-3,0 0,2-3,2 0,0-0,2 3,0-3,2"
        << ""
        << "";
    QTest::newRow("bars side by side") << QStringList{"||"} << 0 << ""
                                       << "0,0-1,0"
                                       << "0,0 1,0";
    QTest::newRow("two minus rows") << QStringList{"--", "--"} << 1 << "0,0-1,0 0,1-1,1"
                                    << "0,0-0,1 1,0-1,1"
                                    << "";
    QTest::newRow("lone minus") << QStringList{" - "} << 0 << ""
                                << ""
                                << "1,0";
    QTest::newRow("rule across a page break") << QStringList{"|", "|", "|"} << 0 << "0,0-0,1"
                                              << ""
                                              << "";
    QTest::newRow("table row") << QStringList{"+---+", "|A-B|", "+---+"} << 2
                               << "0,0-4,0 0,2-4,2 0,0-0,2 4,0-4,2"
                               << ""
                               << "1,1 2,1 3,1";
}

void TestReportPages::boxDrawing() {
    QFETCH(QStringList, lines);
    QFETCH(int, lastLine);
    QFETCH(QString, rules);
    QFETCH(QString, noJoins);
    QFETCH(QString, textCells);

    QFont font = ReportPrintFont(courier());
    font.setStyleStrategy(QFont::NoAntialias);
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter canvas(&image);
    canvas.setFont(font);
    canvas.setPen(Qt::black);
    canvas.setBrush(Qt::NoBrush);
    const QFontMetrics metrics(font, &image);
    const int lineHeight = metrics.height() + 2;
    const int cellWidth = metrics.horizontalAdvance(QLatin1Char('A'));
    DrawReportLines(canvas, lines, 0, lastLine, lineHeight, cellWidth);
    canvas.end();

    QSet<QPoint> onRules;
    for (const Segment& rule : segments(rules, lineHeight, cellWidth)) {
        for (const QPoint& p : pixels(rule, 1))
            QVERIFY2(dark(image, p), "a rule has a gap");
        for (const QPoint& p : pixels(rule, -1))
            onRules.insert(p);
    }
    for (const Segment& join : segments(noJoins, lineHeight, cellWidth)) {
        const QList<QPoint> inside = pixels(join, 3);
        QVERIFY2(!std::all_of(inside.begin(), inside.end(),
                              [&](const QPoint& p) { return dark(image, p); }),
                 "two cells that must stay apart are joined");
    }
    QList<QRect> cells;
    for (const QString& cell : textCells.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        cells << QRect(kReportMargin + cell.section(QLatin1Char(','), 0, 0).toInt() * cellWidth,
                       kReportMargin + cell.section(QLatin1Char(','), 1, 1).toInt() * lineHeight,
                       cellWidth, lineHeight);
    QList<int> inkPerCell(cells.size(), 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QPoint p(x, y);
            if (!dark(image, p) || onRules.contains(p))
                continue;
            const auto cell = std::find_if(cells.begin(), cells.end(),
                                           [&](const QRect& r) { return r.contains(p); });
            QVERIFY2(
                cell != cells.end(),
                qPrintable(QStringLiteral("ink at %1,%2 is neither rule nor text").arg(x).arg(y)));
            ++inkPerCell[cell - cells.begin()];
        }
    QVERIFY2(!inkPerCell.contains(0), "a character that is text was not printed");
}

void TestReportPages::pageCount_data() {
    QTest::addColumn<int>("pageHeight");
    QTest::addColumn<int>("lineHeight");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("pages");
    QTest::newRow("120 lines, 50 a page") << 5000 << 100 << 120 << 3;
    QTest::newRow("100 lines, 50 a page") << 5000 << 100 << 100 << 2;
    QTest::newRow("no lines") << 5000 << 100 << 0 << 0;
    QTest::newRow("line taller than the page") << 100 << 300 << 3 << 3;
}

void TestReportPages::pageCount() {
    QFETCH(int, pageHeight);
    QFETCH(int, lineHeight);
    QFETCH(int, lines);
    QFETCH(int, pages);
    QCOMPARE(PageCount(lines, LinesPerPage(pageHeight, lineHeight)), pages);
}

void TestReportPages::pdfPrint_data() {
    QTest::addColumn<int>("fromPage");
    QTest::addColumn<int>("toPage");
    QTest::addColumn<int>("copies");
    QTest::addColumn<QList<int>>("printed");
    QTest::newRow("all pages") << -1 << -1 << 1 << QList<int>{1, 2, 3};
    QTest::newRow("from page 2") << 2 << -1 << 1 << QList<int>{2, 3};
    QTest::newRow("page 1 twice") << 1 << 1 << 2 << QList<int>{1, 1};
    QTest::newRow("past the end") << 4 << 9 << 1 << QList<int>{};
}

void TestReportPages::pdfPrint() {
    QFETCH(int, fromPage);
    QFETCH(int, toPage);
    QFETCH(int, copies);
    QFETCH(QList<int>, printed);

    const QString pdf = m_root.filePath(QStringLiteral("pages.pdf"));
    QFile::remove(pdf);
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
    const int perPage = PrinterPages(printer, courier(), 0).linesPerPage;
    const QStringList lines = numberedLines(2 * perPage + 3);
    PrintReportLines(printer, courier(), lines, fromPage, toPage, copies);
    if (printed.isEmpty()) {
        QVERIFY2(!QFile::exists(pdf), "an empty range still printed a sheet");
        return;
    }
    QCOMPARE(pdfPages(pdf), printed.size());
    for (int sheet = 1; sheet <= printed.size(); ++sheet) {
        const QString page = pdfText(pdf, sheet);
        const int first = (printed.at(sheet - 1) - 1) * perPage;
        // The table's rules are lines, not characters; the grade keeps its minus.
        const QString expected = first == 0 ? QStringLiteral("АИ-92") : lines.at(first);
        QVERIFY2(page.trimmed().startsWith(expected), qPrintable(page.left(200)));
        QVERIFY2(page.contains(lines.at(std::min(first + perPage, int(lines.size())) - 1)),
                 "the page's last line is missing");
        QVERIFY2(!page.contains(QLatin1Char('+')) && !page.contains(QLatin1Char('|')),
                 qPrintable(page.left(200)));
    }
}

void TestReportPages::previewPages() {
    WindowTestEnvironment environment;
    const QString pdf = m_root.filePath(QStringLiteral("viewer.pdf"));
    qputenv("TORVI_PRINT_TO_FILE", QFile::encodeName(pdf));
    const auto unset = qScopeGuard([] { qunsetenv("TORVI_PRINT_TO_FILE"); });
    const int perPage =
        PrinterPages(ReportPrinter::applicationPrinter(), PrinterSettings(), 0).linesPerPage;
    const QStringList lines = numberedLines(2 * perPage + 1);
    TRptFrm w;
    w.Configure(lines.join(QLatin1Char('\n')), QByteArray(), QStringLiteral("Отчет"));
    w.show();

    w.bbtPreview->click();
    QVERIFY(w.Panel3->isVisible() && !w.Panel4->isVisible());
    QCOMPARE(w.StaticText2->text(), QStringLiteral("3"));
    QCOMPARE(w.StaticText4->text(), QStringLiteral("1"));
    QVERIFY(!w.PrevBtn->isEnabled() && w.NextBtn->isEnabled());
    QVERIFY(w.Image1->pixmap().width() > 2 * kReportMargin);
    w.LastBtn->click();
    QCOMPARE(w.CurrentPage(), 3);
    QCOMPARE(w.StaticText4->text(), QStringLiteral("3"));
    QVERIFY(w.PrevBtn->isEnabled() && !w.NextBtn->isEnabled());
    QVERIFY2(w.windowTitle().contains(
                 QRegularExpression(QStringLiteral("^Отчет( \\d\\d\\.\\d\\d\\d){2}$"))),
             qPrintable(w.windowTitle()));

    w.PrintButton->click();
    QVERIFY2(environment.boxes.isEmpty(), qPrintable(environment.boxes.value(0).text));
    QCOMPARE(pdfPages(pdf), 3);
    QVERIFY(pdfText(pdf, 3).trimmed().startsWith(lines.at(2 * perPage)));
}

QTEST_MAIN(TestReportPages)
#include "tst_reportpages.moc"
