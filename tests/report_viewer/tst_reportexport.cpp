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
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

// Export of the HTML report: the office targets through a stand-in `soffice` that records its
// calls (and once through the real LibreOffice), the clipboard and the HTML file.
class TestReportExport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void office_data();
    void office();
    void htmlFile();
    void exportNotAllowed();
    void realLibreOffice();

private:
    TRptFrm* open();
    void exportTo(int target);
    QString exportFolder() const { return m_root.filePath(QStringLiteral("EXPORT")); }

    QTemporaryDir m_root;
    QByteArray m_path;
    std::unique_ptr<WindowTestEnvironment> m_env;
    std::unique_ptr<TRptFrm> m_window;
};

namespace {

const QDateTime kAt(QDate(2009, 8, 24), QTime(15, 30));

// Records every call; converts by copying the source under the asked extension, or fails, or
// cannot even be started (an interpreter that does not exist).
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

QStringList recordedCalls(const QString& log) {
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

void TestReportExport::initTestCase() {
    m_path = qgetenv("PATH");
    qputenv("DARA_ROOT", QFile::encodeName(m_root.path()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_root.path()));
    SetTempHtmlFileName(m_root.filePath(QStringLiteral("torvihtmlreport.html")));
    SetExportClock([] { return kAt; });

    QDir().mkpath(m_root.filePath(QStringLiteral("TEMP")));
    QDir().mkpath(QFileInfo(CnfIniPath()).absolutePath());
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    QVERIFY(picture.save(m_root.filePath(QStringLiteral("TEMP/chartimage.bmp")), "BMP"));
    for (const QString& mode : QStringList{"ok", "broken"}) {
        QDir().mkpath(m_root.filePath(mode));
        QFile script(m_root.filePath(mode + QStringLiteral("/soffice")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        QByteArray text(kStandIn);
        if (mode == QLatin1String("broken"))
            text.replace("#!/bin/sh", "#!/nonexistent/sh");
        script.write(text);
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QDir().mkpath(m_root.filePath(QStringLiteral("none")));
}

void TestReportExport::init() {
    m_env = std::make_unique<WindowTestEnvironment>();
    QFile::remove(CnfIniPath());
    QDir(exportFolder()).removeRecursively();
    QFile::remove(m_root.filePath(QStringLiteral("soffice.log")));
    qputenv("SOFFICE_LOG", QFile::encodeName(m_root.filePath(QStringLiteral("soffice.log"))));
    QGuiApplication::clipboard()->clear();
}

void TestReportExport::cleanup() {
    m_window.reset();
    m_env.reset();
    qputenv("PATH", m_path);
}

TRptFrm* TestReportExport::open() {
    const QString html = QStringLiteral(
        "<html><head><title>СТАТИСТИКА: Отчет по ГСМ</title>\r\n"
        "<meta http-equiv=Content-Type content=\"text/html; charset=windows-1251\">\r\n"
        "</head>\r\n<body>\r\n<center><font size=4><b>Отчет по ГСМ</b></font></center><br>\r\n"
        "<table width=100%><tr><td width=15% valign=top>ИТОГО:<br>"
        "<nobr>АИ-92 : 1500,00</nobr><br></td>\r\n"
        "<td width=85%><img src=\"C:\\DARA\\TEMP\\chartimage.bmp\" width=40 height=30 ></td>"
        "</tr></table>\r\n</body></html>\r\n");
    m_window = std::make_unique<TRptFrm>();
    m_window->Configure(QString(), CodePage1251::encode(html),
                        QStringLiteral("СТАТИСТИКА: Отчет по ГСМ"));
    m_window->show();
    if (!m_window->NewFormat())
        m_window->bbtRepForm->click();
    return m_window.get();
}

void TestReportExport::exportTo(int target) {
    QTRY_VERIFY(m_window->wb->isDocumentLoaded());
    m_window->rgChooseExportItems->button(target)->click();
    m_window->btnExport->click();
}

void TestReportExport::office_data() {
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("soffice");
    QTest::addColumn<bool>("screen");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("lastCall");

    const QString failed = QStringLiteral("В ходе выполнения данной операции произошла ошибка:");
    QTest::newRow("clipboard") << 4 << "none" << true << ""
                               << ""
                               << "";
    QTest::newRow("Word not installed")
        << 0 << "none" << true << "Информация"
        << "^Microsoft Word не установлен на вашем компьютере:\r\nПрограмма LibreOffice"
        << "";
    QTest::newRow("Writer not installed")
        << 2 << "none" << true << "Информация"
        << "^OpenOffice не установлен на вашем компьютере\r\nПрограмма LibreOffice"
        << "";
    QTest::newRow("Excel conversion fails")
        << 1 << "fail" << true << "Ошибка"
        << "^Ошибка экспорта в Microsoft Excel: \r\nLibreOffice не создал документ .*could not "
           "be loaded$"
        << "--convert-to xlsx:Calc MS Excel 2007 XML";
    QTest::newRow("Calc conversion fails")
        << 3 << "fail" << true << "Ошибка"
        << "^" + failed + "Экспорт в OpenOffice Calc -> LibreOffice не создал .* <# EOSError #>$"
        << "--convert-to ods:calc8";
    QTest::newRow("Writer cannot start")
        << 2 << "broken" << true << "Ошибка"
        << "^" + failed +
               "Экспорт в OpenOffice Writer -> Возникли проблемы при подключении к OpenOffice! "
               "<# Exception #>$"
        << "";
    QTest::newRow("Word opened") << 0 << "ok" << true << ""
                                 << ""
                                 << "^--nologo .*/EXPORT/ОТЧЕТ 240809 1530\\.docx$";
    QTest::newRow("Calc new document")
        << 3 << "ok" << true << ""
        << ""
        << "^--nologo -n .*/torvi-office-documents/ОТЧЕТ 240809 1530\\.ods$";
    QTest::newRow("Word without a screen")
        << 0 << "ok" << false << "Информация"
        << "^Документ сохранен в файл \".*/EXPORT/ОТЧЕТ 240809 1530\\.docx\""
        << "--convert-to";
}

void TestReportExport::office() {
    QFETCH(int, target);
    QFETCH(QString, soffice);
    QFETCH(bool, screen);
    QFETCH(QString, caption);
    QFETCH(QString, message);
    QFETCH(QString, lastCall);

    qputenv("PATH", QFile::encodeName(m_root.filePath(soffice == "fail" ? "ok" : soffice)));
    qputenv("SOFFICE_MODE", soffice.toUtf8());
    if (screen)
        qputenv("DISPLAY", ":77");
    else
        qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    TRptFrm* w = open();
    exportTo(target);

    if (caption.isEmpty()) {
        QVERIFY2(m_env->boxes.isEmpty(), qPrintable(m_env->boxes.value(0).text));
    } else {
        QCOMPARE(m_env->boxes.size(), 1);
        QCOMPARE(m_env->boxes.at(0).caption, caption);
        QVERIFY2(m_env->boxes.at(0).text.contains(QRegularExpression(message)),
                 qPrintable(m_env->boxes.at(0).text));
    }
    // LibreOffice is left to open the document on its own: its call comes in a moment.
    const QString log = m_root.filePath(QStringLiteral("soffice.log"));
    if (lastCall.isEmpty())
        QVERIFY2(recordedCalls(log).isEmpty(), qPrintable(recordedCalls(log).join('\n')));
    else
        QTRY_VERIFY2(!recordedCalls(log).isEmpty() &&
                         recordedCalls(log).constLast().contains(QRegularExpression(lastCall)),
                     qPrintable(recordedCalls(log).join('\n')));
    // Every target but the file goes through the clipboard, and leaves nothing selected.
    const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
    QVERIFY(copied && copied->hasHtml());
    QVERIFY(copied->text().contains(QStringLiteral("АИ-92 : 1500,00")));
    QVERIFY(!w->wb->textCursor().hasSelection());
}

void TestReportExport::htmlFile() {
    const QString folder = m_root.filePath(QStringLiteral("Экспорт отчетов"));
    TSafeIniFile(CnfIniPath())
        .WriteString(QStringLiteral("TovarExports"), QStringLiteral("Каталог экспорта"),
                     QStringLiteral("  ") + folder + QStringLiteral("  "));
    TRptFrm* w = open();
    QString shownFolder, shownName;
    whenModalShown<QFileDialog>([&](QFileDialog* dialog) {
        shownFolder = dialog->directory().absolutePath();
        shownName = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
        QMetaObject::invokeMethod(dialog, "accept");
    });
    exportTo(5);

    QCOMPARE(shownFolder, folder);
    QCOMPARE(shownName, QStringLiteral("ОТЧЕТ 240809 1530"));
    const QString saved = folder + QStringLiteral("/ОТЧЕТ 240809 1530.html");
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), w->htmlText());
    QCOMPARE(m_env->boxes.size(), 1);
    QCOMPARE(m_env->boxes.at(0).text, QStringLiteral("Отчет сохранен в файл \"%1\"").arg(saved));
}

void TestReportExport::exportNotAllowed() {
    TSafeIniFile(CnfIniPath())
        .WriteBool(QStringLiteral("Reports"), QStringLiteral("AllowExportReports"), false);
    TRptFrm* w = open();
    QVERIFY(!w->btnExport->isEnabled());
    w->rgChooseExportItems->button(5)->click();
    w->close();
    QCOMPARE(TSafeIniFile(CnfIniPath())
                 .ReadInteger(QStringLiteral("Misc"), QStringLiteral("RepExportType"), -1),
             5);
}

void TestReportExport::realLibreOffice() {
    if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty())
        QSKIP("LibreOffice (soffice) is not installed");
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    open();
    exportTo(0);
    QCOMPARE(m_env->boxes.size(), 1);
    const QString docx = exportFolder() + QStringLiteral("/ОТЧЕТ 240809 1530.docx");
    QCOMPARE(m_env->boxes.at(0).text.section(QLatin1Char('"'), 1, 1), docx);

    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-l"), docx});
    QVERIFY(unzip.waitForFinished(20000));
    QVERIFY2(unzip.readAll().contains("word/media/"), "the chart picture is not in the document");
    unzip.start(QStringLiteral("unzip"),
                {QStringLiteral("-p"), docx, QStringLiteral("word/document.xml")});
    QVERIFY(unzip.waitForFinished(20000));
    const QString body = QString::fromUtf8(unzip.readAll());
    QVERIFY2(body.contains(QStringLiteral("Отчет по ГСМ")) &&
                 body.contains(QStringLiteral("АИ-92 : 1500,00")),
             qPrintable(body.left(500)));
}

QTEST_MAIN(TestReportExport)
#include "tst_reportexport.moc"
