#include "common/WindowTestSupport.h"

#include "extraction/StatReport.h"
#include "platform/chart/ChartModel.h"
#include "platform/ui/HtmlView.h"
#include "report_viewer/ReportSettings.h"
#include "report_viewer/RptForm.h"
#include "support/SafeIniFile.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

#include <memory>

// The report viewer over a private suite root: its settings file, registry and temporary folder.
class TestRptForm : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void emptyHtml();
    void htmlLoadedOnce();
    void f5PrintsOnce();
    void escapeClosesPanelFirst();
    void scale_data();
    void scale();
    void rightButtonsKeepDistance();
    void settings_data();
    void settings();
    void printOptionsPerTitle();
    void engineVersion_data();
    void engineVersion();
    void pdfOfReport();

private:
    TRptFrm* open(const QByteArray& html, const QString& plain = QString());
    void toNewFormat();
    QString pdfPath() const { return m_root.filePath(QStringLiteral("print.pdf")); }

    QTemporaryDir m_root;
    std::unique_ptr<WindowTestEnvironment> m_env;
    std::unique_ptr<TRptFrm> m_window;
    QByteArray m_report;
};

void TestRptForm::initTestCase() {
    qputenv("DARA_ROOT", QFile::encodeName(m_root.path()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_root.path()));
    qputenv("TORVI_PRINT_TO_FILE", QFile::encodeName(pdfPath()));
    SetTempHtmlFileName(m_root.filePath(QStringLiteral("torvihtmlreport.html")));

    // A split fuel run as the report builder makes it, chart picture included.
    ChartModel chart;
    chart.setTitleLines({QStringLiteral("Время - Литры c 01.08.2009 по 02.08.2009"),
                         QStringLiteral("Страница 1 из 1")});
    const QList<QPair<QString, double>> grades{{QStringLiteral("АИ-92"), 500},
                                               {QStringLiteral("АИ-95"), 0}};
    for (const auto& [name, value] : grades) {
        ChartSeries* series = chart.addSeries();
        series->setTitle(name);
        series->setLineWidth(3);
        series->setMarkerVisible(true);
        for (int i = 0; i < 3; ++i)
            series->addPoint(i, value, QStringLiteral("0%1.08.09").arg(i + 1));
    }
    TStatReportFacts facts;
    facts.subject = QStringLiteral("Отчет по ГСМ");
    facts.titleLines = chart.titleLines();
    facts.maxValue = 500;
    facts.maxName = QStringLiteral("АИ-92");
    facts.minName = QStringLiteral("АИ-95");
    facts.chart = &chart;
    facts.picturePath = StatReportPicturePath();
    facts.pictureSize =
        StatReportPictureSize(WriteChartPicture(&chart, nullptr, facts.picturePath));
    m_report = StatReportDocument(
        StatReportLines(facts, TFormatSettings::fromLocale(QLocale(QStringLiteral("ru_RU")))));
}

void TestRptForm::init() {
    m_env = std::make_unique<WindowTestEnvironment>();
    QFile::remove(CnfIniPath());
    QFile::remove(TRegistry::rootFilePath(TRegistry::LocalMachine));
    QFile::remove(pdfPath());
}

void TestRptForm::cleanup() {
    m_window.reset();
    m_env.reset();
}

TRptFrm* TestRptForm::open(const QByteArray& html, const QString& plain) {
    m_window = std::make_unique<TRptFrm>();
    m_window->Configure(plain, html, QStringLiteral("СТАТИСТИКА: Отчет по ГСМ"));
    m_window->show();
    return m_window.get();
}

void TestRptForm::toNewFormat() {
    m_window->bbtRepForm->click();
    QTRY_VERIFY(m_window->wb->isDocumentLoaded());
    // The zoom and text size are applied when the view says the document is complete.
    QTest::qWait(20);
}

void TestRptForm::emptyHtml() {
    TRptFrm* w = open(QByteArray(), QStringLiteral("+---+\n|1 |\n"));
    for (QWidget* hidden : std::initializer_list<QWidget*>{
             w->bbtRepForm, w->sbtnAdditional, w->panWBParams, w->edScale, w->lbScale, w->cBcPrint,
             w->gbExportData, w->rgOrientation})
        QVERIFY2(!hidden->isVisible(), qPrintable(hidden->objectName()));
    QVERIFY(!w->NewFormat());
    QVERIFY(w->RptMemo->isVisible());
    QCOMPARE(w->RptMemo->toPlainText(), QStringLiteral("+---+\n|1 |\n"));
}

void TestRptForm::htmlLoadedOnce() {
    TRptFrm* w = open(m_report);
    QCOMPARE(w->bbtRepForm->text(), QStringLiteral("Новый формат"));
    QVERIFY(w->RptMemo->toPlainText().isEmpty());
    for (int i = 0; i < 5; ++i)
        w->bbtRepForm->click();
    QCOMPARE(w->HtmlLoads(), 1);
    QVERIFY(w->NewFormat());
    QCOMPARE(w->bbtRepForm->text(), QStringLiteral("Старый формат"));
    QVERIFY(w->wb->toPlainText().contains(QStringLiteral("ИТОГО:")));

    // The temporary file goes about a second after the document is complete.
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(TempHtmlFileName()), 3000);
    // Closing keeps the format for the next report.
    w->reject();
    QVERIFY(ReadViewerSettings().newFormat);
}

void TestRptForm::f5PrintsOnce() {
    TRptFrm* w = open(m_report);
    toNewFormat();
    w->activateWindow();
    w->wb->setFocus();
    QTest::keyClick(w->wb, Qt::Key_F5);
    QCOMPARE(w->HtmlPrints(), 1);
    QVERIFY(QFileInfo(pdfPath()).size() > 0);
    QVERIFY(m_env->boxes.isEmpty());

    // Page keys move the view by half its height, also while it has the focus.
    w->edScale->editor()->setText(QStringLiteral("300"));
    QTRY_VERIFY(w->wb->verticalScrollBar()->maximum() > w->wb->height());
    QTest::keyClick(w->wb, Qt::Key_PageDown);
    QCOMPARE(w->wb->verticalScrollBar()->value(), w->wb->height() / 2);
    QTest::keyClick(w->wb, Qt::Key_PageUp);
    QCOMPARE(w->wb->verticalScrollBar()->value(), 0);
}

void TestRptForm::escapeClosesPanelFirst() {
    TRptFrm* w = open(m_report);
    toNewFormat();
    w->sbtnAdditional->click();
    QVERIFY(w->panWBParams->isVisible());
    QCOMPARE(w->panWBParams->geometry().bottom() + 1, w->Panel1->y());
    QTest::keyClick(w->wb, Qt::Key_Escape);
    QVERIFY(!w->panWBParams->isVisible());
    QVERIFY(!w->sbtnAdditional->isChecked());
    QVERIFY(w->isVisible());
    QTest::keyClick(w->wb, Qt::Key_Escape);
    QVERIFY(!w->isVisible());
    QCOMPARE(w->result(), int(QDialog::Rejected));
}

void TestRptForm::scale_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<double>("zoom");
    QTest::newRow("150") << "150" << 1.5;
    QTest::newRow("below the range") << "10" << 0.2;
    QTest::newRow("above the range") << "900" << 5.0;
    QTest::newRow("not a number") << "abc" << 0.2;
}

void TestRptForm::scale() {
    QFETCH(QString, typed);
    QFETCH(double, zoom);
    TRptFrm* w = open(m_report);
    toNewFormat();
    w->edScale->editor()->setText(typed);
    QCOMPARE(w->wb->zoom(), zoom);
}

void TestRptForm::rightButtonsKeepDistance() {
    TRptFrm* w = open(m_report);
    w->resize(1000, 600);
    QCOMPARE(w->bbtPreview->x(), 1000 - 348);
    QCOMPARE(w->PrintButton->x(), 1000 - 236);
    QCOMPARE(w->CloseButton->x(), 1000 - 120);
}

void TestRptForm::settings_data() {
    QTest::addColumn<QString>("exportType"); // empty: no settings file
    QTest::addColumn<int>("expected");
    QTest::newRow("no settings file") << "" << 0;
    QTest::newRow("RepExportType 7") << "7" << 0;
    QTest::newRow("RepExportType -1") << "-1" << 0;
    QTest::newRow("RepExportType 5") << "5" << 5;
}

void TestRptForm::settings() {
    QFETCH(QString, exportType);
    QFETCH(int, expected);
    if (!exportType.isEmpty())
        TSafeIniFile(CnfIniPath())
            .WriteString(QStringLiteral("Misc"), QStringLiteral("RepExportType"), exportType);
    PrinterSettings() = TPrintSettings();
    const TViewerSettings read = ReadViewerSettings();
    QCOMPARE(read.exportType, expected);
    QVERIFY(!read.newFormat);
    QVERIFY(read.printBackground);
    QCOMPARE(PrinterSettings().fontName, QStringLiteral("Courier"));
    QCOMPARE(PrinterSettings().fontSize, 11);
    QCOMPARE(PrinterSettings().fontCharset, 204);
    QVERIFY(PrinterSettings().portrait);
    QVERIFY(ReadAllowExportReports());
}

void TestRptForm::printOptionsPerTitle() {
    SavePrintOptions(QStringLiteral("СТАТИСТИКА: Отчет по ГСМ"), TPrintOptions{1, 4, 150});
    const TPrintOptions other = LoadPrintOptions(QStringLiteral("СТАТИСТИКА: Отчет по товарам"));
    QCOMPARE(QList<int>({other.orientation, other.fontSize, other.scale}), QList<int>({0, 2, 100}));
    TRptFrm* w = open(m_report);
    QCOMPARE(w->rgOrientationItems->checkedId(), 1);
    QCOMPARE(w->ComboBox1->currentIndex(), 4);
    QCOMPARE(w->Scale(), 150);
}

void TestRptForm::engineVersion_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("passes");
    QTest::newRow("older") << "6.1" << false;
    QTest::newRow("unknown") << "" << false;
    QTest::newRow("this one") << HtmlEngineVersion() << true;
}

void TestRptForm::engineVersion() {
    QFETCH(QString, version);
    QFETCH(bool, passes);
    QCOMPARE(CheckEngineVersion(nullptr, version), passes);
    if (passes) {
        QVERIFY(m_env->boxes.isEmpty());
        return;
    }
    QCOMPARE(m_env->boxes.size(), 1);
    QCOMPARE(m_env->boxes.at(0).text,
             QStringLiteral("Установленная версия Qt %1 не допускает использования данной "
                            "функции.\n\rУстановите Qt версии не ниже 6.2.")
                 .arg(version));
}

void TestRptForm::pdfOfReport() {
    TRptFrm* w = open(m_report);
    toNewFormat();
    w->PrintButton->click();
    QVERIFY(m_env->boxes.isEmpty());

    QProcess text;
    text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdfPath(), "-"});
    QVERIFY(text.waitForFinished(20000));
    const QString printed = QString::fromUtf8(text.readAllStandardOutput());
    for (const QString& expected :
         {QStringLiteral("Отчет по ГСМ"), QStringLiteral("Дата составления отчета"),
          QStringLiteral("Максимальное значение:"), QStringLiteral("500,00 АИ-92"),
          QStringLiteral("0,00 АИ-95"), QStringLiteral("АИ-92 : 1500,00")})
        QVERIFY2(printed.simplified().contains(expected), qPrintable(printed));
    QVERIFY(!printed.contains(QStringLiteral("АИ-95 :")));

    // The chart's lines are the only saturated colour on the page.
    const QString prefix = m_root.filePath(QStringLiteral("page"));
    QProcess raster;
    raster.start(QStringLiteral("pdftoppm"),
                 {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("72"),
                  QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-singlefile"),
                  pdfPath(), prefix});
    QVERIFY(raster.waitForFinished(20000));
    const QImage page(prefix + QStringLiteral(".png"));
    QVERIFY(!page.isNull());
    int coloured = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            coloured += page.pixelColor(x, y).hsvSaturation() > 100 ? 1 : 0;
    QVERIFY2(coloured > 50, qPrintable(QString::number(coloured)));

    // Without the file and without a printer the operator is told, not left believing it printed.
    if (!QPrinterInfo::availablePrinters().isEmpty())
        return;
    qunsetenv("TORVI_PRINT_TO_FILE");
    w->PrintButton->click();
    qputenv("TORVI_PRINT_TO_FILE", QFile::encodeName(pdfPath()));
    QCOMPARE(m_env->boxes.size(), 1);
    QCOMPARE(m_env->boxes.at(0).text, QStringLiteral("Принтер не установлен: отчет не напечатан"));
}

QTEST_MAIN(TestRptForm)
#include "tst_rptform.moc"
