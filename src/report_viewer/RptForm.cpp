#include "report_viewer/RptForm.h"

#include "platform/core/Exceptions.h"
#include "platform/core/StagedFile.h"
#include "platform/ui/HtmlView.h"
#include "platform/ui/KeyPreview.h"
#include "platform/ui/MessageBoxes.h"
#include "platform/ui/ReportPrinter.h"
#include "platform/ui/UserTempFolder.h"
#include "platform/ui/WindowPlacement.h"
#include "report_viewer/ReportExport.h"
#include "report_viewer/ReportPages.h"
#include "report_viewer/ReportSettings.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFontDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

QPointer<TRptFrm> RptFrm;

namespace {

const QString kPlacementName = QStringLiteral("RptFrm");

QString& tempHtmlFileName() {
    static QString name;
    return name;
}

template <class W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

QValidator::State TScaleEdit::validate(QString& text, int&) const {
    return text.size() <= 3 ? QValidator::Acceptable : QValidator::Invalid;
}

int TScaleEdit::valueFromText(const QString& text) const {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : 0;
}

QString TempHtmlFileName() {
    if (tempHtmlFileName().isEmpty())
        tempHtmlFileName() = userTempFolder() + QStringLiteral("torvihtmlreport.html");
    return tempHtmlFileName();
}

void SetTempHtmlFileName(const QString& path) {
    tempHtmlFileName() = path;
}

TRptFrm::TRptFrm(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("RptFrm"));
    setWindowFlags(Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowModality(Qt::ApplicationModal);
    buildControls();
    buildActions();
    resize(742, 498);
    // The smallest window is 750 x 300 with the frame.
    setMinimumSize(742, 266);

    WindowPlacement::restore(this, kPlacementName, QSize(300, 200));

    // Creation: the settings of the suite's file, then the print background they ask for.
    const TViewerSettings settings = ReadViewerSettings();
    m_newFormat = settings.newFormat;
    cBcPrint->setChecked(settings.printBackground);
    if (QAbstractButton* item = rgChooseExportItems->button(settings.exportType))
        item->setChecked(true);
    cBcPrintClick();

    // Keys reach the window before its controls: F5 must never get to the HTML view.
    new KeyPreview(this, [this](QKeyEvent* key) {
        return isVisible() && !key->isAutoRepeat() && FormKeyDown(key);
    });
}

TRptFrm::~TRptFrm() {
    if (!tempHtmlFileName().isEmpty())
        QFile::remove(tempHtmlFileName());
}

void TRptFrm::buildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The HTML view and the two plain-text panels share one place; a shown panel covers the view.
    auto* area = new QWidget(this);
    auto* stack = new QGridLayout(area);
    stack->setContentsMargins(0, 0, 0, 0);
    wb = named(new HtmlView(area), "wb");
    stack->addWidget(wb, 0, 0);

    Panel4 = named(new QWidget(area), "Panel4");
    auto* memoLayout = new QVBoxLayout(Panel4);
    memoLayout->setContentsMargins(0, 0, 0, 0);
    RptMemo = named(new QPlainTextEdit(Panel4), "RptMemo");
    RptMemo->setReadOnly(true);
    RptMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    RptMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RptMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont memoFont(QStringLiteral("Monospace"));
    memoFont.setStyleHint(QFont::TypeWriter);
    memoFont.setPixelSize(12);
    RptMemo->setFont(memoFont);
    QPalette memoPalette = RptMemo->palette();
    memoPalette.setColor(QPalette::Base, memoPalette.color(QPalette::Button));
    memoPalette.setColor(QPalette::Text, Qt::black);
    RptMemo->setPalette(memoPalette);
    memoLayout->addWidget(RptMemo);
    stack->addWidget(Panel4, 0, 0);

    Panel3 = named(new QWidget(area), "Panel3");
    auto* previewLayout = new QVBoxLayout(Panel3);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    Panel2 = named(new QWidget(Panel3), "Panel2");
    auto* bar = new QHBoxLayout(Panel2);
    FirstBtn = named(new QPushButton(QStringLiteral("|<"), Panel2), "FirstBtn");
    PrevBtn = named(new QPushButton(QStringLiteral("<"), Panel2), "PrevBtn");
    NextBtn = named(new QPushButton(QStringLiteral(">"), Panel2), "NextBtn");
    LastBtn = named(new QPushButton(QStringLiteral(">|"), Panel2), "LastBtn");
    BitBtn2 = named(new QPushButton(QStringLiteral("Настройка печати"), Panel2), "BitBtn2");
    bbtSetupFont =
        named(new QPushButton(QStringLiteral("Настройка шрифта"), Panel2), "bbtSetupFont");
    PrintBtn = named(new QPushButton(QStringLiteral("Печать..."), Panel2), "PrintBtn");
    StaticText3 = named(new QLabel(QStringLiteral("Страница:"), Panel2), "StaticText3");
    StaticText4 = named(new QLabel(QStringLiteral("1"), Panel2), "StaticText4");
    StaticText1 = named(new QLabel(QStringLiteral("Страниц:"), Panel2), "StaticText1");
    StaticText2 = named(new QLabel(QStringLiteral("1"), Panel2), "StaticText2");
    // The paging buttons are as narrow as their arrows: at the style's usual button width they
    // would squeeze the two settings buttons' captions out of a window of the smallest width.
    for (QPushButton* paging : {FirstBtn, PrevBtn, NextBtn, LastBtn})
        paging->setFixedWidth(paging->fontMetrics().horizontalAdvance(QStringLiteral(">|")) + 20);
    for (QWidget* w : std::initializer_list<QWidget*>{FirstBtn, PrevBtn, NextBtn, LastBtn, BitBtn2,
                                                      bbtSetupFont, PrintBtn, StaticText3,
                                                      StaticText4, StaticText1, StaticText2})
        bar->addWidget(w);
    bar->addStretch();
    previewLayout->addWidget(Panel2);
    ScrollBox1 = named(new QScrollArea(Panel3), "ScrollBox1");
    Image1 = named(new QLabel, "Image1");
    ScrollBox1->setWidget(Image1);
    previewLayout->addWidget(ScrollBox1, 1);
    // The preview covers the HTML view entirely, also between its bars.
    Panel3->setAutoFillBackground(true);
    Panel3->hide();
    stack->addWidget(Panel3, 0, 0);
    layout->addWidget(area, 1);

    Panel1 = named(new QWidget(this), "Panel1");
    Panel1->setFixedHeight(31);
    QFont bold = Panel1->font();
    bold.setBold(true);
    Panel1->setFont(bold);
    bbtRepForm = named(new QPushButton(QStringLiteral("Старый формат"), Panel1), "bbtRepForm");
    bbtRepForm->setGeometry(4, 3, 130, 25);
    sbtnAdditional =
        named(new QPushButton(QStringLiteral("Дополнительно >>"), Panel1), "sbtnAdditional");
    sbtnAdditional->setCheckable(true);
    sbtnAdditional->setGeometry(140, 3, 150, 25);
    bbtPreview = named(new QPushButton(QStringLiteral("Просмотр"), Panel1), "bbtPreview");
    PrintButton = named(new QPushButton(QStringLiteral("&Печатать(F5)"), Panel1), "PrintButton");
    CloseButton = named(new QPushButton(QStringLiteral("Отмена"), Panel1), "CloseButton");
    for (QPushButton* button : {bbtPreview, PrintButton, CloseButton}) {
        button->resize(108, 25);
        button->setAutoDefault(false);
    }
    bbtRepForm->setAutoDefault(false);
    sbtnAdditional->setAutoDefault(false);
    layout->addWidget(Panel1);

    panWBParams = named(new QFrame(this), "panWBParams");
    static_cast<QFrame*>(panWBParams)->setFrameShape(QFrame::StyledPanel);
    panWBParams->setAutoFillBackground(true);
    panWBParams->resize(314, 150);
    lbScale = named(new QLabel(QStringLiteral("Масштаб:"), panWBParams), "lbScale");
    // Wide enough for the caption in any font; the scale box follows it.
    lbScale->setGeometry(6, 8, std::max(60, lbScale->sizeHint().width()), 20);
    edScale = named(new TScaleEdit(panWBParams), "edScale");
    edScale->setRange(20, 500);
    edScale->setValue(100);
    edScale->editor()->setMaxLength(3);
    edScale->setGeometry(lbScale->geometry().right() + 1, 6, 70, 22);
    cBcPrint = named(new QCheckBox(QStringLiteral("Печатать фон"), panWBParams), "cBcPrint");
    cBcPrint->setGeometry(6, 32, 140, 20);
    rgOrientation =
        named(new QGroupBox(QStringLiteral("Ориентация"), panWBParams), "rgOrientation");
    rgOrientation->setGeometry(4, 54, 140, 52);
    rgOrientationItems = new QButtonGroup(rgOrientation);
    const QStringList orientations{QStringLiteral("Книжная"), QStringLiteral("Альбомная")};
    for (int i = 0; i < orientations.size(); ++i) {
        auto* item = new QRadioButton(orientations.at(i), rgOrientation);
        item->setGeometry(8, 16 + i * 17, 125, 17);
        rgOrientationItems->addButton(item, i);
    }
    rgOrientationItems->button(0)->setChecked(true);
    Label1 = named(new QLabel(QStringLiteral("Размер шрифта:"), panWBParams), "Label1");
    Label1->setGeometry(6, 108, 140, 16);
    ComboBox1 = named(new QComboBox(panWBParams), "ComboBox1");
    ComboBox1->addItems({QStringLiteral("Самый мелкий"), QStringLiteral("Мелкий"),
                         QStringLiteral("Средний"), QStringLiteral("Крупный"),
                         QStringLiteral("Самый крупный")});
    ComboBox1->setCurrentIndex(2);
    ComboBox1->setGeometry(4, 124, 140, 22);
    gbExportData =
        named(new QGroupBox(QStringLiteral("Экспорт данных"), panWBParams), "gbExportData");
    gbExportData->setGeometry(150, 2, 142, 146);
    rgChooseExport =
        named(new QGroupBox(QStringLiteral("Экспортировать в:"), gbExportData), "rgChooseExport");
    rgChooseExport->setGeometry(4, 16, 134, 100);
    rgChooseExportItems = new QButtonGroup(rgChooseExport);
    const QStringList targets = ExportTargetCaptions();
    QFont small = rgChooseExport->font();
    small.setBold(false);
    small.setPointSizeF(small.pointSizeF() * 0.85);
    for (int i = 0; i < targets.size(); ++i) {
        auto* item = new QRadioButton(targets.at(i), rgChooseExport);
        item->setFont(small);
        item->setGeometry(6, 14 + i * 14, 126, 14);
        rgChooseExportItems->addButton(item, i);
    }
    rgChooseExportItems->button(0)->setChecked(true);
    btnExport = named(new QPushButton(QStringLiteral("Выполнить"), gbExportData), "btnExport");
    QFont exportFont = btnExport->font();
    exportFont.setBold(true);
    exportFont.setPixelSize(16);
    btnExport->setFont(exportFont);
    btnExport->setGeometry(4, 118, 112, 25);
    btnExport->setAutoDefault(false);
    SpeedButton1 = named(new QToolButton(panWBParams), "SpeedButton1");
    SpeedButton1->setText(QStringLiteral("X"));
    SpeedButton1->setToolTip(QStringLiteral("Закрыть"));
    SpeedButton1->setGeometry(294, 2, 18, 18);
    panWBParams->hide();

    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(1000);

    connect(CloseButton, &QPushButton::clicked, this, [this] { CloseButtonClick(); });
    connect(PrintButton, &QPushButton::clicked, this,
            [this] { runGuarded([this] { PrintButtonClick(); }); });
    connect(bbtPreview, &QPushButton::clicked, this,
            [this] { runGuarded([this] { bbtPreviewClick(); }); });
    connect(bbtRepForm, &QPushButton::clicked, this,
            [this] { runGuarded([this] { bbtRepFormClick(); }); });
    connect(sbtnAdditional, &QPushButton::clicked, this, [this] { sbtnAdditionalClick(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(PrintBtn, &QPushButton::clicked, this,
            [this] { runGuarded([this] { PrintBtnClick(); }); });
    connect(bbtSetupFont, &QPushButton::clicked, this,
            [this] { runGuarded([this] { bbtSetupFontClick(); }); });
    connect(BitBtn2, &QPushButton::clicked, this,
            [this] { runGuarded([this] { BitBtn2Click(); }); });
    connect(cBcPrint, &QCheckBox::clicked, this,
            [this] { runGuarded([this] { cBcPrintClick(); }); });
    connect(btnExport, &QPushButton::clicked, this,
            [this] { runGuarded([this] { btnExportClick(); }); });
    connect(FirstBtn, &QPushButton::clicked, this,
            [this] { runGuarded([this] { PreviewShow(1); }); });
    connect(PrevBtn, &QPushButton::clicked, this,
            [this] { runGuarded([this] { PreviewShow(m_currentPage - 1); }); });
    connect(NextBtn, &QPushButton::clicked, this,
            [this] { runGuarded([this] { PreviewShow(m_currentPage + 1); }); });
    connect(LastBtn, &QPushButton::clicked, this,
            [this] { runGuarded([this] { PreviewShow(std::numeric_limits<int>::max()); }); });
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    connect(wb, &HtmlView::documentComplete, this,
            [this] { runGuarded([this] { wbDocumentComplete(); }); });
    connect(edScale, &QSpinBox::textChanged, this,
            [this] { runGuarded([this] { edScaleChange(); }); });
    connect(ComboBox1, &QComboBox::activated, this, [this] { ComboBox1Select(); });
    RptMemo->installEventFilter(this);
}

void TRptFrm::buildActions() {
    ActionList1 = named(new QObject(this), "ActionList1");
    const auto action = [this](const char* name, const QKeySequence& key, auto handler) {
        auto* a = new QAction(this);
        a->setObjectName(QString::fromLatin1(name));
        a->setParent(ActionList1);
        a->setShortcut(key);
        a->setShortcutContext(Qt::WindowShortcut);
        addAction(a);
        connect(a, &QAction::triggered, this, [this, handler] { runGuarded(handler); });
        return a;
    };
    ActionOnKeyUp = action("ActionOnKeyUp", QKeySequence(Qt::Key_Up),
                           [this] { scrollMemo(QAbstractSlider::SliderSingleStepSub); });
    ActionOnKeyDown = action("ActionOnKeyDown", QKeySequence(Qt::Key_Down),
                             [this] { scrollMemo(QAbstractSlider::SliderSingleStepAdd); });
    ActionOnPgUp = action("ActionOnPgUp", QKeySequence(Qt::Key_PageUp), [this] {
        if (!m_newFormat)
            scrollMemo(QAbstractSlider::SliderPageStepSub);
        else if (wb->isDocumentLoaded())
            wb->scrollByPixels(0, -(wb->height() / 2));
    });
    ActionOnPgDown = action("ActionOnPgDown", QKeySequence(Qt::Key_PageDown), [this] {
        if (!m_newFormat)
            scrollMemo(QAbstractSlider::SliderPageStepAdd);
        else if (wb->isDocumentLoaded())
            wb->scrollByPixels(0, wb->height() / 2);
    });
    ActionOnHome = action("ActionOnHome", QKeySequence(Qt::Key_Home),
                          [this] { scrollMemo(QAbstractSlider::SliderToMinimum, true); });
    ActionOnEnd = action("ActionOnEnd", QKeySequence(Qt::Key_End),
                         [this] { scrollMemo(QAbstractSlider::SliderToMaximum, true); });
    ActionOnEdit = action("ActionOnEdit", QKeySequence(Qt::CTRL | Qt::Key_E),
                          [this] { RptMemo->setReadOnly(false); });
    // F5 comes through the window's key handling, which triggers this action: one key press,
    // one print, wherever the focus is.
    ActionOnPrint = action("ActionOnPrint", QKeySequence(), [this] { PrintButtonClick(); });
    ActionOnPrint->setProperty("shortCut", 116);
}

void TRptFrm::runGuarded(const std::function<void()>& step) {
    try {
        step();
    } catch (const std::exception& e) {
        MessageBoxes::error(this, ExceptionMessage(e));
    }
}

void TRptFrm::Configure(const QString& plainText, const QByteArray& htmlText,
                        const QString& title) {
    setWindowTitle(title);
    m_reportTitle = title;
    if (htmlText.isEmpty()) {
        for (QWidget* w :
             std::initializer_list<QWidget*>{bbtRepForm, lbScale, edScale, cBcPrint, sbtnAdditional,
                                             panWBParams, gbExportData, rgOrientation})
            w->hide();
        sbtnAdditional->setChecked(false);
        m_newFormat = false;
    }
    m_currentPage = 1;
    RptMemo->setPlainText(plainText);
    m_htmlText = htmlText;
    btnExport->setEnabled(ReadAllowExportReports());
}

void TRptFrm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        runGuarded([this] { FormShow(); });
}

void TRptFrm::FormShow() {
    LoadPrintOptions();
    if (m_newFormat) {
        enterNewFormat();
    } else {
        bbtRepForm->setText(QStringLiteral("Новый формат"));
        Panel3->setVisible(m_previewMode);
        Panel4->setVisible(!m_previewMode);
        if (m_previewMode)
            PreviewShow(1);
        showNewFormatControls(false);
        Timer1->start();
    }
    FormResize();
}

// The HTML side: the text panels give way, and the document is loaded the first time only.
void TRptFrm::enterNewFormat() {
    Panel3->hide();
    Panel4->hide();
    if (m_needLoadHtml) {
        LoadHtmlReport();
        m_needLoadHtml = false;
    }
    bbtRepForm->setText(QStringLiteral("Старый формат"));
    showNewFormatControls(true);
}

void TRptFrm::showNewFormatControls(bool shown) {
    for (QWidget* w : std::initializer_list<QWidget*>{edScale, lbScale, cBcPrint, gbExportData,
                                                      sbtnAdditional, rgOrientation})
        w->setVisible(shown);
    if (!shown)
        closeOptionsPanel();
}

void TRptFrm::closeOptionsPanel() {
    sbtnAdditional->setChecked(false);
    panWBParams->hide();
}

void TRptFrm::LoadHtmlReport() {
    const QString path = TempHtmlFileName();
    QFile::remove(path);
    Timer1->stop();
    writeWholeFile(path, m_htmlText);
    ++m_htmlLoads;
    wb->navigate(path);
}

void TRptFrm::wbDocumentComplete() {
    {
        const QSignalBlocker quiet(edScale);
        edScale->setValue(m_scale);
    }
    edScaleChange();
    Timer1->start();
    wb->setTextSize(ComboBox1->currentIndex());
}

void TRptFrm::Timer1Timer() {
    QFile::remove(TempHtmlFileName());
    if (!m_broughtToFront) {
        m_broughtToFront = true;
        raise();
        activateWindow();
    }
}

void TRptFrm::edScaleChange() {
    if (m_inScaleChange)
        return;
    m_inScaleChange = true;
    const auto reattach = qScopeGuard([this] { m_inScaleChange = false; });
    if (!edScale->isEnabled() || !CheckEngineVersion(this))
        return;
    bool ok = false;
    int typed = edScale->text().trimmed().toInt(&ok);
    if (!ok)
        typed = 0;
    const int clamped = std::clamp(typed, 20, 500);
    m_scale = edScale->value();
    wb->setZoom(clamped / 100.0);
}

void TRptFrm::ComboBox1Select() {
    wb->setTextSize(ComboBox1->currentIndex());
}

void TRptFrm::bbtRepFormClick() {
    m_newFormat = !m_newFormat;
    if (m_newFormat) {
        enterNewFormat();
    } else {
        Panel4->show();
        bbtRepForm->setText(QStringLiteral("Новый формат"));
        showNewFormatControls(false);
    }
}

void TRptFrm::bbtPreviewClick() {
    if (!m_newFormat) {
        bbtRepForm->setEnabled(!bbtRepForm->isEnabled());
        ScrollBox1->show();
        Panel3->setVisible(!Panel3->isVisible());
        Panel4->setVisible(!Panel4->isVisible());
        m_previewMode = !m_previewMode;
        if (Panel3->isVisible())
            PreviewShow(1);
        return;
    }
    if (CheckEngineVersion(this))
        ReportPrinter::previewHtml(*wb, PrintBackgroundSetting(cBcPrint->isChecked()), this);
}

void TRptFrm::PrintButtonClick() {
    if (!m_newFormat) {
        PrintReportLines(-1, -1, 1);
        return;
    }
    ++m_htmlPrints;
    ReportPrinter::printHtml(
        *wb, rgOrientationItems->checkedId() == 1 ? QPageLayout::Landscape : QPageLayout::Portrait,
        PrintBackgroundSetting(cBcPrint->isChecked()));
}

void TRptFrm::PrintBtnClick() {
    if (!m_newFormat) {
        PrintDialogClick();
        return;
    }
    ReportPrinter::pageSetup(this);
}

QStringList TRptFrm::ReportLines() const {
    QStringList lines = RptMemo->toPlainText().split(QLatin1Char('\n'));
    // A text ending in a line break has no further line, as the memo counts them.
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

void TRptFrm::appendDrawTimes(const QList<qint64>& times) {
    QString caption = windowTitle();
    for (const qint64 ms : times)
        caption += DrawTimeSuffix(ms);
    setWindowTitle(caption);
}

void TRptFrm::PrintReportLines(int fromPage, int toPage, int copies) {
    QPrinter& printer = ReportPrinter::applicationPrinter();
    ReportPrinter::choosePrinterOutput(printer);
    QList<qint64> times;
    ReportPrinter::runPrintJob(printer, [&] {
        times =
            ::PrintReportLines(printer, PrinterSettings(), ReportLines(), fromPage, toPage, copies);
    });
    appendDrawTimes(times);
}

void TRptFrm::PreviewShow(int page) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    const TPreviewPage shown = RenderPreviewPage(ReportPrinter::applicationPrinter(),
                                                 PrinterSettings(), ReportLines(), page);
    Image1->setPixmap(QPixmap::fromImage(shown.image));
    Image1->resize(shown.image.size());
    appendDrawTimes({shown.drawMs});
    m_currentPage = shown.page;
    PrevBtn->setEnabled(shown.page != 1);
    NextBtn->setEnabled(shown.page != shown.pageCount);
    StaticText2->setText(QString::number(shown.pageCount));
    StaticText4->setText(QString::number(shown.page));
}

void TRptFrm::PrintDialogClick() {
    // Without a printer the dialog offers only its PDF file, which the text path does not use:
    // the operator is told instead, as by F5.
    ReportPrinter::requirePrinter();
    QPrinter& printer = ReportPrinter::applicationPrinter();
    TPrintSettings& settings = PrinterSettings();
    const TPrintChoice choice = AskPrintRange(printer, settings.portrait, this);
    // Confirmed or not, the orientation is the one the dialog left on the printer.
    settings.portrait = printer.pageLayout().orientation() == QPageLayout::Portrait;
    if (choice.confirmed) {
        try {
            WritePrinterOrientation();
        } catch (const std::exception&) {
            // Remembered for the session anyway; printing must not fail over the settings file.
        }
        if (choice.toFile)
            SaveReportToTextFile(ReportLines(), this, choice.fileName);
        else
            PrintReportLines(choice.fromPage, choice.toPage, choice.copies);
    }
    if (Panel3->isVisible())
        PreviewShow(1);
}

void TRptFrm::sbtnAdditionalClick() {
    if (sbtnAdditional->isChecked()) {
        placeOptionsPanel();
        panWBParams->show();
        panWBParams->raise();
    } else {
        panWBParams->hide();
    }
}

void TRptFrm::SpeedButton1Click() {
    closeOptionsPanel();
}

void TRptFrm::placeOptionsPanel() {
    panWBParams->move(0, Panel1->y() - panWBParams->height());
}

void TRptFrm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FormResize();
}

void TRptFrm::FormResize() {
    bbtPreview->move(width() - 348, 3);
    PrintButton->move(width() - 236, 3);
    CloseButton->move(width() - 120, 3);
    placeOptionsPanel();
}

void TRptFrm::bbtSetupFontClick() {
    TPrintSettings& print = PrinterSettings();
    QFont font(print.fontName);
    font.setPointSize(print.fontSize);
    font.setStyleHint(QFont::TypeWriter);
    bool confirmed = false;
    const QFont chosen = QFontDialog::getFont(
        &confirmed, font, this, QStringLiteral("Шрифт печати"), QFontDialog::MonospacedFonts);
    if (!confirmed)
        return;
    print.fontName = chosen.family();
    print.fontSize = chosen.pointSize();
    // Qt fonts carry no character set: the report text is Cyrillic, so the set stays as chosen
    // before.
    WritePrinterFont();
    if (Panel3->isVisible())
        PreviewShow(m_currentPage);
}

void TRptFrm::BitBtn2Click() {
    if (!ReportPrinter::printerSetup(this))
        return;
    PrinterSettings().portrait =
        ReportPrinter::applicationPrinter().pageLayout().orientation() == QPageLayout::Portrait;
    WritePrinterOrientation();
    if (Panel3->isVisible())
        PreviewShow(1);
}

void TRptFrm::cBcPrintClick() {
    ApplyPrintBackground(cBcPrint->isChecked());
}

void TRptFrm::btnExportClick() {
    QAbstractButton* chosen = rgChooseExportItems->checkedButton();
    if (chosen)
        ExportReport(rgChooseExportItems->id(chosen), chosen->text(), *wb, m_htmlText, this);
}

void TRptFrm::LoadPrintOptions() {
    const TPrintOptions options = ::LoadPrintOptions(m_reportTitle);
    if (QAbstractButton* item = rgOrientationItems->button(options.orientation))
        item->setChecked(true);
    if (options.fontSize >= 0 && options.fontSize < ComboBox1->count())
        ComboBox1->setCurrentIndex(options.fontSize);
    m_scale = options.scale;
}

void TRptFrm::SavePrintOptions() {
    TPrintOptions options;
    options.orientation = std::max(rgOrientationItems->checkedId(), 0);
    options.fontSize = ComboBox1->currentIndex();
    options.scale = edScale->value();
    ::SavePrintOptions(m_reportTitle, options);
}

bool TRptFrm::FormClose() {
    try {
        SavePrintOptions();
        WriteViewerSettings(TViewerSettings{m_newFormat, cBcPrint->isChecked(),
                                            std::max(rgChooseExportItems->checkedId(), 0)});
    } catch (const std::exception& e) {
        MessageBoxes::error(this, ExceptionMessage(e));
        return false;
    }
    WindowPlacement::save(this, kPlacementName);
    return true;
}

void TRptFrm::done(int result) {
    if (m_closing || !FormClose())
        return;
    m_closing = true;
    Timer1->stop();
    QDialog::done(result);
    m_closing = false;
}

void TRptFrm::CloseButtonClick() {
    reject();
}

void TRptFrm::setActionsEnabled(bool enabled) {
    for (QAction* a : {ActionOnKeyUp, ActionOnKeyDown, ActionOnPgUp, ActionOnPgDown, ActionOnHome,
                       ActionOnEnd, ActionOnEdit, ActionOnPrint})
        a->setEnabled(enabled);
}

void TRptFrm::scrollMemo(int action, bool horizontal) {
    QAbstractScrollArea* target =
        Panel3->isVisible() ? static_cast<QAbstractScrollArea*>(ScrollBox1) : RptMemo;
    QScrollBar* bar = horizontal ? target->horizontalScrollBar() : target->verticalScrollBar();
    bar->triggerAction(QAbstractSlider::SliderAction(action));
}

bool TRptFrm::FormKeyDown(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (modifiers == Qt::NoModifier) {
        switch (event->key()) {
        case Qt::Key_Escape:
            if (panWBParams->isVisible())
                closeOptionsPanel();
            else
                reject();
            return true;
        case Qt::Key_F5:
            if (ActionOnPrint->isEnabled())
                ActionOnPrint->trigger();
            else
                runGuarded([this] { PrintButtonClick(); });
            return true;
        case Qt::Key_F6:
            runGuarded([this] { PrintBtnClick(); });
            return true;
        default:
            return false;
        }
    }
    if (modifiers == Qt::ControlModifier && event->key() == Qt::Key_E) {
        QApplication::beep();
        RptMemo->setReadOnly(!RptMemo->isReadOnly());
        return true;
    }
    return false;
}

bool TRptFrm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == RptMemo && event->type() == QEvent::FocusIn)
        setActionsEnabled(false);
    else if (watched == RptMemo && event->type() == QEvent::FocusOut)
        setActionsEnabled(true);
    return QDialog::eventFilter(watched, event);
}

void ShowReport(const QString& plainText, const QByteArray& htmlText, const QString& title) {
    if (!RptFrm)
        RptFrm = new TRptFrm;
    const auto destroy = qScopeGuard([] { delete RptFrm.data(); });
    RptFrm->Configure(plainText, htmlText, title);
    RptFrm->exec();
}

void FinalizeReportViewer() {
    delete RptFrm.data();
    SetTempHtmlFileName(QString());
}
