#include "common/CaptionFit.h"
#include "common/TestFiles.h"
#include "common/WindowTestSupport.h"

#include "platform/core/CodePage1251.h"
#include "platform/ui/HtmlView.h"
#include "platform/ui/OfficeLauncher.h"
#include "platform/ui/ReportPrinter.h"
#include "report_viewer/ReportExport.h"
#include "report_viewer/ReportPages.h"
#include "report_viewer/ReportSettings.h"
#include "report_viewer/RptForm.h"
#include "support/SafeIniFile.h"

#include <QButtonGroup>
#include <QClipboard>
#include <QFileDialog>
#include <QFontDialog>
#include <QGroupBox>
#include <QMimeData>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QScrollBar>
#include <QStandardPaths>

#include <csignal>
#include <memory>
#include <sys/file.h>
#include <sys/resource.h>

namespace {

// Records every call; converts by copying the source under the asked extension, or fails; as
// "broken" it cannot even be started. A conversion first waits (10 s at most) for $SOFFICE_GO,
// which the test makes once it has seen the busy cursor meanwhile.
const char kStandIn[] = R"(#!/bin/sh
printf '%s\n' "$*" >> "$SOFFICE_LOG"
prev= outdir= ext= src= i=0
for a; do
    [ "$prev" = --outdir ] && outdir=$a
    [ "$prev" = --convert-to ] && ext=${a%%:*}
    prev=$a src=$a
done
while [ -n "$outdir" ] && [ $i -lt 200 ] && [ ! -e "$SOFFICE_GO" ]; do /bin/sleep 0.05; i=$((i+1)); done
[ "$SOFFICE_MODE" = fail ] && { echo "Error: source file could not be loaded"; exit 1; }
[ -n "$outdir" ] && { b=${src##*/}; /bin/cp "$src" "$outdir/${b%.*}.$ext"; }
exit 0
)";

QStringList numberedLines(int count) {
    QStringList lines{"+-----+--------+", "|АИ-92| 1500,00|", "+-----+--------+"};
    for (int i = int(lines.size()); i < count; ++i)
        lines << QStringLiteral("Строка %1").arg(i, 4, 10, QLatin1Char('0'));
    return lines;
}

} // namespace

// The report viewer over a private suite root: its settings file, registry and temporary folder;
// the plain-text pages with rules drawn from box characters, page counting, printing to PDF and
// the page preview. Its exports reach the office targets through a stand-in `soffice` that records
// its calls (and once through the real LibreOffice), the clipboard and the HTML file.
class TestReportViewer : public QObject {
    Q_OBJECT
    QTemporaryDir m_root;
    std::unique_ptr<WindowTestEnvironment> m_env;
    std::unique_ptr<TRptFrm> m_window;
    QByteArray m_report;
    QByteArray m_path;

    QString path(const QString& name) const { return m_root.filePath(name); }
    QString pdfPath() const { return path("print.pdf"); }

    TRptFrm* open(const QByteArray& report) {
        m_window = std::make_unique<TRptFrm>();
        m_window->Configure(QString(), report, "СТАТИСТИКА: Отчет по ГСМ");
        m_window->show();
        return m_window.get();
    }

    // Opens the report in the viewer's HTML view and, unless -1, runs the export to `target`.
    // The picture is named in the suite's own spelling, which the office documents resolve.
    TRptFrm* exportTo(int target) {
        open(QByteArray(m_report).replace(QFile::encodeName(path("TEMP/chartimage.bmp")),
                                          "C:\\DARA\\TEMP\\chartimage.bmp"));
        if (!m_window->NewFormat())
            m_window->bbtRepForm->click();
        if (!QTest::qWaitFor([this] { return m_window->wb->isDocumentLoaded(); }))
            qWarning("the report was not loaded into the HTML view");
        if (target >= 0) {
            m_window->rgChooseExportItems->button(target)->click();
            m_window->btnExport->click();
        }
        return m_window.get();
    }

    static QString run(const QString& program, const QStringList& arguments) {
        QProcess process;
        process.start(program, arguments);
        process.waitForFinished(20000);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

private slots:
    void initTestCase() {
        m_path = qgetenv("PATH");
        qputenv("DARA_ROOT", QFile::encodeName(m_root.path()));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_root.path()));
        qputenv("TORVI_PRINT_TO_FILE", QFile::encodeName(pdfPath()));
        qputenv("SOFFICE_LOG", QFile::encodeName(path("soffice.log")));
        qputenv("SOFFICE_GO", QFile::encodeName(path("go")));
        OfficeLauncher::setInstallLocations({path("opt/libreoffice*/program/soffice")});
        qunsetenv("WAYLAND_DISPLAY");
        SetTempHtmlFileName(path("torvihtmlreport.html"));
        SetExportClock([] { return QDateTime(QDate(2009, 8, 24), QTime(15, 30)); });
        for (const char* folder :
             {"TEMP", "etc", "none", "ok", "broken", "opt/libreoffice7.6/program"})
            QVERIFY(QDir().mkpath(path(folder)));
        for (const QString mode : {"ok", "broken"})
            QVERIFY(writeBytes(path(mode + "/soffice"), mode == "ok" ? kStandIn : "#!/x\n") &&
                    QFile::setPermissions(path(mode + "/soffice"),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        // The report as the builder writes it: its totals and the chart's picture beside them.
        QImage chart(550, 400, QImage::Format_RGB32);
        chart.fill(Qt::darkGreen);
        QVERIFY(chart.save(path("TEMP/chartimage.bmp"), "BMP"));
        m_report = CodePage1251::encode(
            "<html><head><title>Отчет по ГСМ</title><meta http-equiv=Content-Type content=\"text/"
            "html; charset=windows-1251\"></head><body><b>Отчет по ГСМ</b><table><tr><td>ИТОГО:<br>"
            "<nobr>АИ-92 : 1500,00</nobr></td><td><img src=\"" +
            path("TEMP/chartimage.bmp") +
            "\" width=550 height=400></td></tr></table></body></html>");
    }

    void init() {
        m_env = std::make_unique<WindowTestEnvironment>();
        QFile::remove(CnfIniPath());
        QFile::remove(TRegistry::rootFilePath(TRegistry::LocalMachine));
        QFile::remove(pdfPath());
        QDir(path("EXPORT")).removeRecursively();
        QFile::remove(path("soffice.log"));
        QGuiApplication::clipboard()->clear();
    }

    void cleanup() {
        m_window.reset();
        m_env.reset();
        qputenv("PATH", m_path);
    }

    void htmlView() {
        TRptFrm* w = open(m_report);
        QCOMPARE(w->bbtRepForm->text(), "Новый формат");
        QVERIFY(w->RptMemo->toPlainText().isEmpty());
        for (int i = 0; i < 5; ++i)
            w->bbtRepForm->click();
        QCOMPARE(w->HtmlLoads(), 1);
        QVERIFY(w->NewFormat() && w->wb->toPlainText().contains("ИТОГО:"));
        QCOMPARE(w->bbtRepForm->text(), "Старый формат");
        QTRY_VERIFY(w->wb->isDocumentLoaded());
        // The zoom and text size are applied when the view says the document is complete.
        QTest::qWait(20);

        w->rgOrientationItems->button(1)->click(); // landscape
        w->activateWindow();
        w->wb->setFocus();
        QTest::keyClick(w->wb, Qt::Key_F5);
        QCOMPARE(w->HtmlPrints(), 1);
        QVERIFY(m_env->boxes.isEmpty());
        const QString printed = run("pdftotext", {"-layout", pdfPath(), "-"});
        QVERIFY2(printed.contains("Отчет по ГСМ") && printed.contains("АИ-92 : 1500,00"),
                 qPrintable(printed));
        // The chart's picture is the only saturated colour on the page.
        const QString prefix = path("page");
        run("pdftoppm", {"-png", "-r", "72", "-f", "1", "-singlefile", pdfPath(), prefix});
        const QImage page(prefix + ".png");
        QVERIFY2(page.width() > page.height(), "не в выбранной альбомной ориентации");
        int coloured = 0;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x)
                coloured += page.pixelColor(x, y).hsvSaturation() > 100 ? 1 : 0;
        QVERIFY2(coloured > 50, qPrintable(QString::number(coloured)));

        // Without the file and without a printer the operator is told, not left believing it
        // printed.
        if (QPrinterInfo::availablePrinters().isEmpty()) {
            qunsetenv("TORVI_PRINT_TO_FILE");
            w->PrintButton->click();
            qputenv("TORVI_PRINT_TO_FILE", QFile::encodeName(pdfPath()));
            QCOMPARE(m_env->boxes.size(), 1);
            QCOMPARE(m_env->boxes.at(0).text, "Принтер не установлен: отчет не напечатан");
        }

        // Page keys move the view by half its height, also while it has the focus.
        w->edScale->editor()->setText("300");
        QTRY_VERIFY(w->wb->verticalScrollBar()->maximum() > w->wb->height());
        QTest::keyClick(w->wb, Qt::Key_PageDown);
        QCOMPARE(w->wb->verticalScrollBar()->value(), w->wb->height() / 2);
        QTest::keyClick(w->wb, Qt::Key_PageUp);
        QCOMPARE(w->wb->verticalScrollBar()->value(), 0);

        // The typed scale is kept within 20..500 per cent.
        for (const auto& [typed, zoom] :
             {std::pair{"150", 1.5}, {"10", 0.2}, {"900", 5.0}, {"abc", 0.2}}) {
            w->edScale->editor()->setText(typed);
            QCOMPARE(w->wb->zoom(), zoom);
        }

        // The temporary file goes about a second after the document is complete.
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(TempHtmlFileName()), 3000);

        // Escape closes the parameters panel first, the window only then, and the format is kept
        // for the next report.
        w->sbtnAdditional->click();
        QVERIFY(w->panWBParams->isVisible());
        QCOMPARE(w->panWBParams->geometry().bottom() + 1, w->Panel1->y());
        // Every caption of the HTML view and its options is whole at the smallest size.
        const QStringList clipped = CaptionFit::clippedAtSmallest(w);
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1Char('\n'))));
        QTest::keyClick(w->wb, Qt::Key_Escape);
        QVERIFY(!w->panWBParams->isVisible() && !w->sbtnAdditional->isChecked() && w->isVisible());
        QTest::keyClick(w->wb, Qt::Key_Escape);
        QVERIFY(!w->isVisible());
        QCOMPARE(w->result(), int(QDialog::Rejected));
        QVERIFY(ReadViewerSettings().newFormat);
    }

    void settings() {
        const TViewerSettings fresh = ReadViewerSettings();
        QVERIFY(!fresh.newFormat && fresh.printBackground && ReadAllowExportReports());
        // The close writes its keys in the order the suite's other programs expect them.
        WriteViewerSettings(TViewerSettings());
        QStringList keys;
        for (const QByteArray& line : readBytes(CnfIniPath()).split('\n'))
            if (line.contains('='))
                keys << QString::fromLatin1(line.left(line.indexOf('=')));
        QCOMPARE(keys, QStringList({"OSP", "FNP", "SFP", "FCP", "Format", "PrintBackground",
                                    "RepExportType"}));
        // The print background goes only into the HTML view's own key, which it never creates.
        ApplyPrintBackground(false);
        QVERIFY(!readBytes(TRegistry::rootFilePath(TRegistry::LocalMachine)).contains("Print_") &&
                PrintBackgroundSetting(true));
        TRegistry(TRegistry::LocalMachine)
            .writeValue("\\Software\\Torvi\\HtmlView\\Main\\", "Print_Background", "yes");
        ApplyPrintBackground(false);
        QVERIFY(!PrintBackgroundSetting(true));
        // An export type out of range falls back to the first target.
        for (const auto& [written, read] : {std::pair{"", 0}, {"7", 0}, {"-1", 0}, {"5", 5}}) {
            if (*written)
                TSafeIniFile(CnfIniPath()).WriteString("Misc", "RepExportType", written);
            QCOMPARE(ReadViewerSettings().exportType, read);
        }
        // The font dialog's choice is written as soon as it is confirmed.
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<QFontDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QFont font = dialog->currentFont();
            font.setPointSize(17);
            dialog->setCurrentFont(font);
            static_cast<QDialog*>(dialog)->accept();
        });
        TRptFrm* w = open(m_report);
        w->bbtSetupFont->click();
        QCOMPARE(TSafeIniFile(CnfIniPath()).ReadInteger("Misc", "SFP", 0), 17);
        // So is the orientation the printer set-up leaves on the printer.
        ReportPrinter::applicationPrinter().setPageOrientation(QPageLayout::Landscape);
        QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
        w->BitBtn2->click();
        QTimer::singleShot(
            0, [] { static_cast<QDialog*>(QApplication::activeModalWidget())->accept(); });
        w->BitBtn2->click();
        QCOMPARE(TSafeIniFile(CnfIniPath()).ReadString("Misc", "OSP", "?"), "0");
    }

    void printOptionsPerTitle() {
        SavePrintOptions("СТАТИСТИКА: Отчет по ГСМ", TPrintOptions{1, 4, 150});
        const TPrintOptions other = LoadPrintOptions("СТАТИСТИКА: Отчет по товарам");
        QCOMPARE(QList<int>({other.orientation, other.fontSize, other.scale}),
                 QList<int>({0, 2, 100}));
        TRptFrm* w = open(m_report);
        QCOMPARE(QList<int>({w->rgOrientationItems->checkedId(), w->ComboBox1->currentIndex(),
                             w->Scale()}),
                 QList<int>({1, 4, 150}));
        // The right-hand buttons keep their distance from the right edge.
        w->resize(1000, 600);
        QCOMPARE(QList<int>({w->bbtPreview->x(), w->PrintButton->x(), w->CloseButton->x()}),
                 QList<int>({1000 - 348, 1000 - 236, 1000 - 120}));
    }

    void engineVersion() {
        QVERIFY(CheckEngineVersion(nullptr, HtmlEngineVersion()) && m_env->boxes.isEmpty());
        for (const char* version : {"6.1", ""}) {
            QVERIFY(!CheckEngineVersion(nullptr, version));
            QCOMPARE(m_env->boxes.takeFirst().text,
                     QString("Установленная версия Qt %1 не допускает использования данной "
                             "функции.\n\rУстановите Qt версии не ниже 6.2.")
                         .arg(version));
        }
    }
    void office_data() {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("soffice");
        QTest::addColumn<bool>("screen");
        QTest::addColumn<QString>("box");   // "caption: text", a pattern
        QTest::addColumn<QString>("calls"); // the stand-in's calls, a pattern

        const QString failed = "^Ошибка: В ходе выполнения данной операции произошла ошибка:";
        QTest::newRow("clipboard") << 4 << "none" << true << "^$"
                                   << "^$";
        QTest::newRow("Word not installed") << 0 << "none" << true
                                            << "^Информация: Microsoft Word не установлен на вашем "
                                               "компьютере:\r\nПрограмма LibreOffice"
                                            << "^$";
        QTest::newRow("Writer not installed")
            << 2 << "none" << true
            << "^Информация: OpenOffice не установлен на вашем компьютере\r\nПрограмма LibreOffice"
            << "^$";
        QTest::newRow("Excel conversion fails")
            << 1 << "fail" << true
            << "^Ошибка: Ошибка экспорта в Microsoft Excel: \r\nLibreOffice не создал документ "
               ".*could not be loaded$"
            << "--convert-to xlsx:Calc MS Excel 2007 XML";
        QTest::newRow("Calc conversion fails")
            << 3 << "fail" << true
            << failed + "Экспорт в OpenOffice Calc -> LibreOffice не создал .* <# EOSError #>$"
            << "StarCalc\\) --convert-to xlsx:";
        QTest::newRow("Writer cannot start")
            << 2 << "broken" << true
            << failed + "Экспорт в OpenOffice Writer -> Возникли проблемы при подключении к "
                        "OpenOffice! <# Exception #>$"
            << "^$";
        QTest::newRow("Word opened") << 0 << "ok" << true << "^$"
                                     << "\n--nologo .*/EXPORT/ОТЧЕТ 240809 1530\\.docx$";
        QTest::newRow("Calc new document")
            << 3 << "ok" << true << "^$"
            << "\n--nologo -n .*/torvi-office-documents/ОТЧЕТ 240809 1530\\.ods$";
        QTest::newRow("Word outside PATH") << 0 << "opt" << true << "^$"
                                           << "\n--nologo .*/EXPORT/ОТЧЕТ 240809 1530\\.docx$";
        QTest::newRow("profile in use") << 0 << "busy" << true << "^$"
                                        << "UserInstallation=\\S+/torvi-office-profile-1 ";
        QTest::newRow("Word without a screen")
            << 0 << "ok" << false
            << "^Информация: Документ сохранен в файл \".*/EXPORT/ОТЧЕТ 240809 1530\\.docx\""
            << "--convert-to docx";
    }

    void office() {
        QFETCH(int, target);
        QFETCH(QString, soffice);
        QFETCH(bool, screen);
        QFETCH(QString, box);
        QFETCH(QString, calls);

        const QString opt = path("opt/libreoffice7.6/program/soffice");
        QFile::remove(opt);
        QVERIFY(soffice != "opt" || QFile::copy(path("ok/soffice"), opt));
        // Another export holds the usual office profile.
        QFile held(path("torvi-office-profile.lock"));
        QVERIFY(soffice != "busy" ||
                (held.open(QIODevice::ReadWrite) && ::flock(held.handle(), LOCK_EX) == 0));
        qputenv("PATH",
                QFile::encodeName(path(soffice == "fail" || soffice == "busy" ? "ok" : soffice)));
        qputenv("SOFFICE_MODE", soffice.toUtf8());
        qputenv("DISPLAY", screen ? ":77" : "");
        QFile::remove(path("go"));
        QTimer probe;
        probe.callOnTimeout([this] {
            if (QApplication::overrideCursor() &&
                QApplication::overrideCursor()->shape() == Qt::WaitCursor)
                writeBytes(path("go"), "");
        });
        probe.start(10);
        TRptFrm* w = exportTo(target);

        const auto& boxes = m_env->boxes;
        const QString shown = boxes.isEmpty() ? QString() : boxes[0].caption + ": " + boxes[0].text;
        QVERIFY2(boxes.size() <= 1 && shown.contains(QRegularExpression(box)), qPrintable(shown));
        // LibreOffice is left to open the document on its own: its call comes a moment later.
        const auto recorded = [this] {
            return QString::fromUtf8(readBytes(path("soffice.log"))).trimmed();
        };
        QTRY_VERIFY2(recorded().contains(QRegularExpression(calls)), qPrintable(recorded()));
        QVERIFY2(!recorded().contains("--convert-to") || QFile::exists(path("go")),
                 "no busy cursor while LibreOffice converted");
        // Every target but the file goes through the clipboard, and leaves nothing selected.
        const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
        QVERIFY(copied && copied->hasHtml() && copied->text().contains("АИ-92 : 1500,00"));
        QVERIFY(!w->wb->textCursor().hasSelection());
    }

    void htmlFile() {
        const QString folder = path("Экспорт отчетов");
        TSafeIniFile(CnfIniPath())
            .WriteString("TovarExports", "Каталог экспорта", "  " + folder + "  ");
        QString shownFolder, shownName;
        whenModalShown<QFileDialog>([&](QFileDialog* dialog) {
            shownFolder = dialog->directory().absolutePath();
            shownName = dialog->findChild<QLineEdit*>("fileNameEdit")->text();
            QMetaObject::invokeMethod(dialog, "accept");
        });
        TRptFrm* w = exportTo(5);

        QCOMPARE(shownFolder, folder);
        QCOMPARE(shownName, "ОТЧЕТ 240809 1530");
        const QString file = folder + "/ОТЧЕТ 240809 1530.html";
        QCOMPARE(readBytes(file), w->htmlText());
        QCOMPARE(m_env->boxes.size(), 1);
        QCOMPARE(m_env->boxes.at(0).text, "Отчет сохранен в файл \"" + file + "\"");

        // With export forbidden the chosen target is still kept for the next report.
        TSafeIniFile(CnfIniPath()).WriteBool("Reports", "AllowExportReports", false);
        w = exportTo(-1);
        QVERIFY(!w->btnExport->isEnabled());
        w->rgChooseExportItems->button(3)->click();
        w->close();
        QCOMPARE(TSafeIniFile(CnfIniPath()).ReadInteger("Misc", "RepExportType", -1), 3);
    }

    void realLibreOffice() {
        if (QStandardPaths::findExecutable("soffice").isEmpty())
            QSKIP("LibreOffice (soffice) is not installed");
        qunsetenv("DISPLAY");
        // The report's text and its chart picture are inside each document LibreOffice wrote.
        for (const auto& [target, pictures] :
             {std::pair{0, "word/media/"}, {1, "xl/media/"}, {3, "Pictures/"}}) {
            m_env->boxes.clear();
            exportTo(target);
            const QString document = m_env->boxes.value(0).text.section('"', 1, 1);
            const QString contents = run("unzip", {"-c", document});
            QVERIFY2(document.startsWith(path("EXPORT/ОТЧЕТ 240809 1530.")) &&
                         contents.contains("АИ-92 : 1500,00") &&
                         contents.contains(QRegularExpression(QString("(inflating|extracting): ") +
                                                              pictures + "\\S+\\.png")),
                     qPrintable(document + contents.left(500)));
        }
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

        const QString pdf = path("pages.pdf");
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
        QString refused;
        try {
            PrintReportLines(printer, TPrintSettings(), lines, fromPage, toPage, copies);
        } catch (const Exception& e) {
            refused = e.message();
        }
        // An empty range prints no blank sheet, and says so.
        QVERIFY2(refused.isEmpty() != printed.isEmpty() && QFile::exists(pdf) != printed.isEmpty(),
                 qPrintable(refused));
        if (printed.isEmpty())
            return;
        // Every page ends with a form feed.
        const QStringList pages = run("pdftotext", {"-layout", pdf, "-"}).split('\f');
        QCOMPARE(pages.size(), printed.size() + 1);
        for (int sheet = 0; sheet < printed.size(); ++sheet) {
            const QString& page = pages.at(sheet);
            const int first = (printed.at(sheet) - 1) * perPage;
            // The table's rules are lines, not characters; the grade keeps its minus.
            QVERIFY2(
                page.trimmed().startsWith(first == 0 ? QStringLiteral("АИ-92") : lines.at(first)) &&
                    page.contains(lines.at(std::min(first + perPage, int(lines.size())) - 1)) &&
                    (first + perPage >= lines.size() ||
                     !page.contains(lines.at(first + perPage))) &&
                    !page.contains(QLatin1Char('+')) && !page.contains(QLatin1Char('|')),
                qPrintable(page.left(300)));
        }
    }

    void previewPages() {
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
        // Below the page's last line the sheet is blank: the next page's first line is not there.
        const QImage sheet = w.Image1->pixmap().toImage();
        QImage probe(1, 1, QImage::Format_RGB32);
        const int lineHeight =
            QFontMetrics(ReportPrintFont(PrinterSettings()), &probe).height() + 2;
        for (int y = kReportMargin + perPage * lineHeight; y < sheet.height() - 1; ++y)
            for (int x = kReportMargin + 1; x < sheet.width() - kReportMargin - 1; ++x)
                QVERIFY2(qGray(sheet.pixel(x, y)) > 160 || qBlue(sheet.pixel(x, y)) > 200,
                         qPrintable(QString("%1,%2").arg(x).arg(y)));
        w.LastBtn->click();
        QVERIFY(w.CurrentPage() == 3 && w.StaticText4->text() == "3");
        QVERIFY(w.PrevBtn->isEnabled() && !w.NextBtn->isEnabled());
        // Each drawing adds its time to the caption.
        QVERIFY2(w.windowTitle().contains(QRegularExpression("^Отчет( \\d\\d\\.\\d{3}){2}$")),
                 qPrintable(w.windowTitle()));
        // Without a printer the print dialog is not offered: the operator is told, as by F5.
        if (QPrinterInfo::availablePrinters().isEmpty()) {
            qunsetenv("TORVI_PRINT_TO_FILE");
            // A dialog shown all the same is closed; the timer goes with this block.
            QTimer answer;
            answer.callOnTimeout([] {
                if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                    dialog->reject();
            });
            answer.start(0);
            QTest::keyClick(&w, Qt::Key_F6);
            qputenv("TORVI_PRINT_TO_FILE", QFile::encodeName(pdfPath()));
            QCOMPARE(m_env->boxes.value(0).text, "Принтер не установлен: отчет не напечатан");
        }
    }

    // The operator names the file in the save dialog; the text lands there in code page 1251 with
    // CR LF, and a cancelled dialog writes nothing.
    void saveToTextFile() {
        const QString file = path(QStringLiteral("отчет.txt"));
        for (const bool accept : {false, true}) {
            QTimer::singleShot(0, [&] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                dialog->selectFile(file);
                accept ? static_cast<QDialog*>(dialog)->accept() : dialog->reject();
            });
            QCOMPARE(SaveReportToTextFile({"|АИ-92|", "Итого"}, nullptr), accept);
            QCOMPARE(QFile::exists(file), accept);
        }
        QCOMPARE(readBytes(file), QByteArray("|\xc0\xc8-92|\r\n\xc8\xf2\xee\xe3\xee\r\n"));
    }

    void failedWrites_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("reason");
        const QString full = QStringLiteral("Файл слишком велик");
        QTest::newRow("HTML print, disk full") << "print" << full;
        QTest::newRow("text print, disk full") << "text" << full;
        QTest::newRow("HTML file, disk full") << "file" << full;
        QTest::newRow("folder at the print file")
            << "print" << QStringLiteral("На месте файла находится папка");
    }

    // A print or save that did not complete names the file and the reason and leaves nothing.
    void failedWrites() {
        QFETCH(QString, action);
        QFETCH(QString, reason);
        const QString folder = path("out");
        const QString file = folder + (action == "file" ? "/ОТЧЕТ 240809 1530.html" : "/print.pdf");
        const bool full = reason == "Файл слишком велик";
        QVERIFY(QDir(folder).removeRecursively() && QDir().mkpath(full ? folder : file));
        qputenv("TORVI_PRINT_TO_FILE", QFile::encodeName(file));
        TSafeIniFile(CnfIniPath()).WriteString("TovarExports", "Каталог экспорта", folder);
        TRptFrm* w = exportTo(-1);
        if (action == "text") {
            w->bbtRepForm->click();
            w->RptMemo->setPlainText(numberedLines(5).join('\n'));
        }
        if (action == "file") {
            w->rgChooseExportItems->button(5)->click();
            whenModalShown<QFileDialog>(
                [](QFileDialog* dialog) { QMetaObject::invokeMethod(dialog, "accept"); });
        }
        // The disk fills up after the first hundred bytes of any file.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
        const rlimit unlimited = limit;
        limit.rlim_cur = full ? 100 : limit.rlim_cur;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        (action == "file" ? w->btnExport : w->PrintButton)->click();
        ::setrlimit(RLIMIT_FSIZE, &unlimited);
        qputenv("TORVI_PRINT_TO_FILE", QFile::encodeName(pdfPath()));
        const QString shown = m_env->boxes.value(0).text;
        QVERIFY2(shown.contains(file + ": " + reason), qPrintable(shown));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // "Print to file" in the print dialog means the text itself: the choice says so and the
    // printer is left printing to paper, not into the file.
    void printDialogToFile() {
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path(QStringLiteral("dialog.pdf")));
        QTimer::singleShot(0, [] {
            QDialog* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->accept();
        });
        const TPrintChoice choice = AskPrintRange(printer, false, nullptr);
        QVERIFY(choice.confirmed && choice.toFile && choice.fileName == path("dialog.pdf"));
        QVERIFY(printer.outputFileName().isEmpty());
        QCOMPARE(printer.pageLayout().orientation(), QPageLayout::Landscape);
    }

    // Every caption whole in Debian's fonts at the viewer's smallest size in the text's page
    // preview too, the face htmlView does not show.
    void previewCaptionsWhole() {
        TRptFrm* w = open(m_report);
        w->bbtPreview->click();
        QVERIFY(w->Panel3->isVisible() && !w->NewFormat());
        const QStringList clipped = CaptionFit::clippedAtSmallest(w);
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1Char('\n'))));
        QVERIFY(m_env->boxes.isEmpty());
    }
};

QTEST_MAIN(TestReportViewer)
#include "tst_reportviewer.moc"
