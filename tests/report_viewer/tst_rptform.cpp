#include "common/WindowTestSupport.h"

#include "platform/core/CodePage1251.h"
#include "platform/ui/HtmlView.h"
#include "platform/ui/ReportPrinter.h"
#include "report_viewer/ReportSettings.h"
#include "report_viewer/RptForm.h"
#include "support/SafeIniFile.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFontDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>

#include <memory>

// The report viewer over a private suite root: its settings file, registry and temporary folder.
class TestRptForm : public QObject {
    Q_OBJECT
    QTemporaryDir m_root;
    std::unique_ptr<WindowTestEnvironment> m_env;
    std::unique_ptr<TRptFrm> m_window;
    QByteArray m_report;

    QString pdfPath() const { return m_root.filePath("print.pdf"); }

    TRptFrm* open() {
        m_window = std::make_unique<TRptFrm>();
        m_window->Configure(QString(), m_report, "СТАТИСТИКА: Отчет по ГСМ");
        m_window->show();
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
        qputenv("DARA_ROOT", QFile::encodeName(m_root.path()));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_root.path()));
        qputenv("TORVI_PRINT_TO_FILE", QFile::encodeName(pdfPath()));
        SetTempHtmlFileName(m_root.filePath("torvihtmlreport.html"));
        QVERIFY(QDir().mkpath(QFileInfo(CnfIniPath()).path()));

        // The report as the builder writes it: its totals and the chart's picture beside them.
        QImage chart(550, 400, QImage::Format_RGB32);
        chart.fill(Qt::darkGreen);
        QVERIFY(chart.save(m_root.filePath("chart.bmp"), "BMP"));
        m_report = CodePage1251::encode(
            "<html><head><meta http-equiv=Content-Type content=\"text/html; charset=windows-1251\">"
            "</head><body><b>Отчет по ГСМ</b><table><tr><td>ИТОГО:<br><nobr>АИ-92 : 1500,00</nobr>"
            "</td><td><img src=\"" +
            m_root.filePath("chart.bmp") +
            "\" width=550 height=400></td></tr></table></body></html>");
    }

    void init() {
        m_env = std::make_unique<WindowTestEnvironment>();
        QFile::remove(CnfIniPath());
        QFile::remove(TRegistry::rootFilePath(TRegistry::LocalMachine));
        QFile::remove(pdfPath());
    }

    void cleanup() {
        m_window.reset();
        m_env.reset();
    }

    void htmlView() {
        TRptFrm* w = open();
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
        const QString prefix = m_root.filePath("page");
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
        TRptFrm* w = open();
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
        TRptFrm* w = open();
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
};

QTEST_MAIN(TestRptForm)
#include "tst_rptform.moc"
