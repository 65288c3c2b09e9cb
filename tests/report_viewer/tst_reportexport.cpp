#include "common/WindowTestSupport.h"

#include "platform/core/CodePage1251.h"
#include "platform/ui/HtmlView.h"
#include "report_viewer/ReportExport.h"
#include "report_viewer/ReportSettings.h"
#include "report_viewer/RptForm.h"
#include "support/SafeIniFile.h"

#include <QButtonGroup>
#include <QClipboard>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

namespace {

// Records every call; converts by copying the source under the asked extension, or fails; as
// "broken" it cannot even be started.
const char kStandIn[] = R"(#!/bin/sh
printf '%s\n' "$*" >> "$SOFFICE_LOG"
[ "$SOFFICE_MODE" = fail ] && { echo "Error: source file could not be loaded"; exit 1; }
prev= outdir= ext= src=
for a; do
    [ "$prev" = --outdir ] && outdir=$a
    [ "$prev" = --convert-to ] && ext=${a%%:*}
    prev=$a src=$a
done
[ -n "$outdir" ] && { b=${src##*/}; /bin/cp "$src" "$outdir/${b%.html}.$ext"; }
exit 0
)";

} // namespace

// Export of the HTML report: the office targets through a stand-in `soffice` that records its
// calls (and once through the real LibreOffice), the clipboard and the HTML file.
class TestReportExport : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    QByteArray m_path;
    std::unique_ptr<WindowTestEnvironment> m_env;
    std::unique_ptr<TRptFrm> m_window;

    QString path(const QString& name) const { return m_root.filePath(name); }

    // Opens the report in the viewer's HTML view and, unless -1, runs the export to `target`.
    TRptFrm* exportTo(int target) {
        const QString html =
            "<html><head><title>Отчет по ГСМ</title><meta http-equiv=Content-Type "
            "content=\"text/html; "
            "charset=windows-1251\"></head><body><b>Отчет по ГСМ</b><table><tr><td>ИТОГО:<br><nobr>"
            "АИ-92 : 1500,00</nobr></td><td><img src=\"C:\\DARA\\TEMP\\chartimage.bmp\"></td></tr>"
            "</table></body></html>";
        m_window = std::make_unique<TRptFrm>();
        m_window->Configure(QString(), CodePage1251::encode(html), "Отчет");
        m_window->show();
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

private slots:
    void initTestCase() {
        m_path = qgetenv("PATH");
        qputenv("DARA_ROOT", QFile::encodeName(m_root.path()));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_root.path()));
        qputenv("SOFFICE_LOG", QFile::encodeName(path("soffice.log")));
        qunsetenv("WAYLAND_DISPLAY");
        SetTempHtmlFileName(path("torvihtmlreport.html"));
        SetExportClock([] { return QDateTime(QDate(2009, 8, 24), QTime(15, 30)); });
        for (const char* folder : {"TEMP", "etc", "none", "ok", "broken"})
            QVERIFY(QDir().mkpath(path(folder)));
        QImage picture(40, 30, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        QVERIFY(picture.save(path("TEMP/chartimage.bmp"), "BMP"));
        for (const QString mode : {"ok", "broken"}) {
            QFile script(path(mode + "/soffice"));
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write(mode == "ok" ? kStandIn : "#!/x\n");
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }

    void init() {
        m_env = std::make_unique<WindowTestEnvironment>();
        QFile::remove(CnfIniPath());
        QDir(path("EXPORT")).removeRecursively();
        QFile::remove(path("soffice.log"));
        QGuiApplication::clipboard()->clear();
    }

    void cleanup() {
        m_window.reset();
        m_env.reset();
        qputenv("PATH", m_path);
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
            << "--convert-to ods:calc8";
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

        qputenv("PATH", QFile::encodeName(path(soffice == "fail" ? "ok" : soffice)));
        qputenv("SOFFICE_MODE", soffice.toUtf8());
        qputenv("DISPLAY", screen ? ":77" : "");
        TRptFrm* w = exportTo(target);

        const auto& boxes = m_env->boxes;
        const QString shown = boxes.isEmpty() ? QString() : boxes[0].caption + ": " + boxes[0].text;
        QVERIFY2(boxes.size() <= 1 && shown.contains(QRegularExpression(box)), qPrintable(shown));
        // LibreOffice is left to open the document on its own: its call comes a moment later.
        const auto recorded = [this] {
            QFile log(path("soffice.log"));
            return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()).trimmed()
                                                 : QString();
        };
        QTRY_VERIFY2(recorded().contains(QRegularExpression(calls)), qPrintable(recorded()));
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
        QFile file(folder + "/ОТЧЕТ 240809 1530.html");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), w->htmlText());
        QCOMPARE(m_env->boxes.size(), 1);
        QCOMPARE(m_env->boxes.at(0).text, "Отчет сохранен в файл \"" + file.fileName() + "\"");

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
        exportTo(0);
        const QString docx = path("EXPORT/ОТЧЕТ 240809 1530.docx");
        QCOMPARE(m_env->boxes.size(), 1);
        QCOMPARE(m_env->boxes.at(0).text.section('"', 1, 1), docx);
        // The report's text and its chart picture are inside the document LibreOffice wrote.
        QProcess unzip;
        unzip.start("unzip", {"-c", docx, "word/document.xml", "word/media/*"});
        QVERIFY(unzip.waitForFinished(20000));
        const QString contents = QString::fromUtf8(unzip.readAll());
        QVERIFY2(contents.contains("Отчет по ГСМ") && contents.contains("АИ-92 : 1500,00") &&
                     contents.contains(QRegularExpression("inflating: word/media/\\S+\\.png")),
                 qPrintable(contents.left(500)));
    }
};

QTEST_MAIN(TestReportExport)
#include "tst_reportexport.moc"
