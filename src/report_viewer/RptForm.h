#pragma once

#include <QByteArray>
#include <QDialog>
#include <QPointer>
#include <QSpinBox>
#include <QString>

class HtmlView;
class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QTimer;
class QToolButton;

// The scale box: a spin edit that, like the suite's, lets the operator type any three
// characters; the window decides what they mean.
class TScaleEdit : public QSpinBox {
    Q_OBJECT
public:
    using QSpinBox::QSpinBox;
    QLineEdit* editor() const { return lineEdit(); }

protected:
    QValidator::State validate(QString& text, int& pos) const override;
    int valueFromText(const QString& text) const override;
};

// The report viewer: a finished report as HTML (the new format) or as plain text (the old one),
// with printing, preview, zoom and the options the operator chose last time.
class TRptFrm : public QDialog {
    Q_OBJECT
    // What the report's HTML looks like as it was handed over, code page 1251.
    Q_PROPERTY(QByteArray HtmlText READ htmlText)

public:
    explicit TRptFrm(QWidget* parent = nullptr);
    ~TRptFrm() override;

    // ShowReport's steps before the window is shown: caption, texts, format and export.
    void Configure(const QString& plainText, const QByteArray& htmlText, const QString& title);

    QByteArray htmlText() const { return m_htmlText; }
    bool NewFormat() const { return m_newFormat; }
    bool PreviewMode() const { return m_previewMode; }
    bool NeedLoadHtml() const { return m_needLoadHtml; }
    int Scale() const { return m_scale; }
    QString ReportTitle() const { return m_reportTitle; }
    int CurrentPage() const { return m_currentPage; }
    // How often the HTML was handed to the view and printed, for whoever checks the window.
    int HtmlLoads() const { return m_htmlLoads; }
    int HtmlPrints() const { return m_htmlPrints; }

    // Controls, named as the window names them.
    HtmlView* wb;
    QWidget* Panel4;
    QPlainTextEdit* RptMemo;
    QWidget* Panel3;
    QWidget* Panel2;
    QPushButton* FirstBtn;
    QPushButton* PrevBtn;
    QPushButton* NextBtn;
    QPushButton* LastBtn;
    QPushButton* BitBtn2;
    QPushButton* bbtSetupFont;
    QPushButton* PrintBtn;
    QLabel* StaticText1;
    QLabel* StaticText2;
    QLabel* StaticText3;
    QLabel* StaticText4;
    QScrollArea* ScrollBox1;
    QLabel* Image1;
    QWidget* Panel1;
    QPushButton* bbtRepForm;
    QPushButton* sbtnAdditional;
    QPushButton* bbtPreview;
    QPushButton* PrintButton;
    QPushButton* CloseButton;
    QWidget* panWBParams;
    QLabel* lbScale;
    TScaleEdit* edScale;
    QCheckBox* cBcPrint;
    QGroupBox* rgOrientation;
    QButtonGroup* rgOrientationItems;
    QLabel* Label1;
    QComboBox* ComboBox1;
    QGroupBox* gbExportData;
    QGroupBox* rgChooseExport;
    QButtonGroup* rgChooseExportItems;
    QPushButton* btnExport;
    QToolButton* SpeedButton1;
    QObject* ActionList1;
    QAction* ActionOnKeyUp;
    QAction* ActionOnKeyDown;
    QAction* ActionOnPgUp;
    QAction* ActionOnPgDown;
    QAction* ActionOnHome;
    QAction* ActionOnEnd;
    QAction* ActionOnEdit;
    QAction* ActionOnPrint;
    QTimer* Timer1;

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildActions();
    void FormShow();
    bool FormClose();
    void FormResize();
    bool FormKeyDown(QKeyEvent* event);
    void CloseButtonClick();
    void PrintButtonClick();
    void bbtPreviewClick();
    void bbtRepFormClick();
    void sbtnAdditionalClick();
    void SpeedButton1Click();
    void PrintBtnClick();
    void bbtSetupFontClick();
    void BitBtn2Click();
    void cBcPrintClick();
    void btnExportClick();
    void Timer1Timer();
    void wbDocumentComplete();
    void edScaleChange();
    void ComboBox1Select();
    void LoadHtmlReport();
    void LoadPrintOptions();
    void SavePrintOptions();
    void enterNewFormat();
    void showNewFormatControls(bool shown);
    void closeOptionsPanel();
    void placeOptionsPanel();
    void setActionsEnabled(bool enabled);
    void scrollMemo(int action, bool horizontal = false);
    // The plain-text pages: the memo's lines, printed, previewed, asked for by the print dialog.
    QStringList ReportLines() const;
    void PrintReportLines(int fromPage, int toPage, int copies);
    void PreviewShow(int page);
    void PrintDialogClick();
    void appendDrawTimes(const QList<qint64>& times);
    void runGuarded(const std::function<void()>& step);

    bool m_previewMode = false;
    bool m_needLoadHtml = true;
    QByteArray m_htmlText;
    bool m_newFormat = false;
    int m_scale = 100;
    QString m_reportTitle;
    bool m_broughtToFront = false;
    int m_currentPage = 1;
    bool m_inScaleChange = false;
    bool m_closing = false;
    int m_htmlLoads = 0;
    int m_htmlPrints = 0;
};

// The viewer while it exists; one per process.
extern QPointer<TRptFrm> RptFrm;

// The temporary file the HTML view reads: the user's temporary folder and "torvihtmlreport.html".
// Set when the plug-in is loaded; found on first use otherwise.
QString TempHtmlFileName();
void SetTempHtmlFileName(const QString& path);

// Shows a report modally and returns when the operator has closed it; the viewer is destroyed
// before the return, also when showing failed.
void ShowReport(const QString& plainText, const QByteArray& htmlText, const QString& title);

// The plug-in is being unloaded: no viewer and no temporary file name outlive it.
void FinalizeReportViewer();
