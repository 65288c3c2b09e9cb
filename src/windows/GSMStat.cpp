#include "windows/GSMStat.h"

#include "extraction/GSMExtractor.h"
#include "platform/chart/ChartModel.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "platform/core/FormatSettings.h"
#include "platform/ui/FormStorage.h"
#include "platform/ui/MessageBoxes.h"
#include "plugin/DmStatistic.h"
#include "plugin/HostFunctions.h"
#include "windows/StatWindowInput.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

using namespace StatControls;

namespace {

const QString kCaption = QStringLiteral("Статистика по ГСМ");

} // namespace

TfmGSMStat::TfmGSMStat(TdmStatistic& dm, QWidget* parent)
    : TStatWindow(dm, parent,
                  {.formName = QStringLiteral("fmGSMStat"),
                   .caption = kCaption,
                   .schemaCaptionName = QStringLiteral("Label1"),
                   // The smallest window is 926 x 732 with the frame.
                   .clientSize = QSize(918, 698),
                   .schemas = fuelSchemas(),
                   .stepGroupName = QStringLiteral("gbDim"),
                   .multiGraphCaption = QStringLiteral("разбить по видам топлива"),
                   .leftAxisTitle = QStringLiteral("Литры"),
                   .reportTitle = QStringLiteral("Отчет по ГСМ"),
                   // Beyond the frame's own: the litre range. The schema, the grade checks, the
                   // points per page and the labels check box start afresh every time.
                   .storedValues = {QStringLiteral("cbLiter_Hi.ItemIndex"),
                                    QStringLiteral("cbLiter_Low.ItemIndex")}}) {
    buildControls();
    AddFuelWindowSeries(*Chart());
    finishCreation({gbGSM, gbLitre});
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    connect(cbSchema, &QComboBox::currentTextChanged, this, [this] { cbSchemaChange(); });
    connect(bbtSelectAll, &QPushButton::clicked, this, [this] { bbtSelectAllClick(); });
}

TGSMExtractor* TfmGSMStat::Extractor() const {
    return extractorAs<TGSMExtractor>();
}

void TfmGSMStat::buildControls() {
    Label1 = schemaCaption();

    gbGSM = groupBox(Panel1, "gbGSM", QStringLiteral("Вид топлива"));
    CheckListBox1 = named(new QListWidget(gbGSM), "CheckListBox1");
    bbtSelectAll = named(new QPushButton(selectAllText(), gbGSM), "bbtSelectAll");
    chbMultiGraph->setParent(gbGSM);
    setGroupLayout(gbGSM, {CheckListBox1, bbtSelectAll, chbMultiGraph}, 0);

    gbLitre = groupBox(Panel1, "gbLitre", QStringLiteral("Литры"));
    const QStringList bounds{QStringLiteral("1"),   QStringLiteral("10"),  QStringLiteral("20"),
                             QStringLiteral("30"),  QStringLiteral("50"),  QStringLiteral("100"),
                             QStringLiteral("200"), QStringLiteral("300"), QStringLiteral("500"),
                             QStringLiteral("1000")};
    Label4 = label(gbLitre, "Label4", QStringLiteral("от"));
    cbLiter_Low =
        comboBox(gbLitre, "cbLiter_Low", QStringList{QStringLiteral("0")} + bounds, 0, true);
    Label5 = label(gbLitre, "Label5", QStringLiteral("до"));
    cbLiter_Hi =
        comboBox(gbLitre, "cbLiter_Hi", QStringList{QStringLiteral("Нет")} + bounds, 0, true);
    cbLiter_Low->setEnabled(false);
    cbLiter_Hi->setEnabled(false);
    auto* litre = new QHBoxLayout(gbLitre);
    litre->setContentsMargins(2, 3, 2, 3);
    litre->setSpacing(3);
    litre->addWidget(Label4);
    litre->addWidget(cbLiter_Low, 1);
    litre->addWidget(Label5);
    litre->addWidget(cbLiter_Hi, 1);

    // Only the fuel statistics know a smallest value.
    Label9 = label(gbStat, "Label9", QStringLiteral("минимальное значение"));
    MinValueLabel = label(gbStat, "MinValueLabel", QStringLiteral("0"));
    MinValueLabel->setFont(MaxValueLabel->font());
    MinValueLabel->setAlignment(MaxValueLabel->alignment());
    gbStat->layout()->addWidget(Label9);
    gbStat->layout()->addWidget(MinValueLabel);

    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(10);
    Timer1->setSingleShot(true);
}

void TfmGSMStat::FormShow() {
    Timer1->start();
    if (!HostFunctions::GetPrivValue.load())
        return;
    try {
        setWindowTitle(kCaption + QStringLiteral(" для ") + HostFunctions::getPrivValueString(16));
    } catch (const std::exception& e) {
        MessageBoxes::error(this, ExceptionMessage(e));
    }
}

void TfmGSMStat::Timer1Timer() {
    Timer1->stop();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    CheckListBox1->clear();
    TdmStatistic& dm = DataModule();
    try {
        {
            // The grade list is this use's only business with the server.
            const TStatConnectionUse use(dm);
            TClientDataSet& grades = dm.cdsGSM;
            grades.open();
            m_colors.clear();
            m_colors.reserve(grades.recordCount());
            grades.first();
            for (int i = 0; !grades.eof(); ++i, grades.next()) {
                const QString name = grades.fieldByName(QStringLiteral("GsmName")).asString();
                m_colors.append({name, GradeColorValue(i)});
                auto* item = new QListWidgetItem(name, CheckListBox1);
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
                item->setCheckState(Qt::Unchecked);
            }
        }
        setExtractor(std::make_unique<TGSMExtractor>(
            0, fromQDateTime(dtpDateFrom->dateTime()), fromQDateTime(dtpDateTo->dateTime()), 0,
            &dm.cdsLogtran, Chart(), this, m_colors, TrackBar1));
        clearResults();
        MinValueLabel->setText(QStringLiteral("0"));
        bbtSelectAll->setText(selectAllText());
    } catch (const std::exception& e) {
        // Without grades there is nothing to build: the window stays, empty, and says why.
        CheckListBox1->clear();
        m_colors.clear();
        QApplication::restoreOverrideCursor();
        MessageBoxes::error(this, ExceptionMessage(e));
        return;
    }
    QApplication::restoreOverrideCursor();
}

void TfmGSMStat::cbSchemaChange() {
    cbLiter_Low->setCurrentIndex(0);
    cbLiter_Hi->setCurrentIndex(0);
    const bool fillings = comboBoxItemIndex(cbSchema) == 2;
    cbLiter_Low->setEnabled(fillings);
    cbLiter_Hi->setEnabled(fillings);
}

void TfmGSMStat::bbtSelectAllClick() {
    toggleAllChecked(bbtSelectAll, CheckListBox1);
}

void TfmGSMStat::bbtGoClick() {
    if (!periodChecked())
        return;
    TQueryItems items;
    for (int i = 0; i < CheckListBox1->count(); ++i) {
        const QListWidgetItem* grade = CheckListBox1->item(i);
        if (grade->checkState() == Qt::Checked)
            items.append({grade->text(), 0});
    }
    if (items.isEmpty() || !Extractor()) {
        MessageBoxes::show(this, QStringLiteral("Ошибка"), QStringLiteral("Не указан вид топлива!"),
                           MessageBoxes::Icon::Warning);
        return;
    }
    const QChar decimalSeparator = TFormatSettings::workstation().decimalSeparator;
    TGSMExtractor& extractor = *Extractor();
    extractor.SetMinLabel(MinValueLabel);
    // Read also while the boxes are disabled: bounds restored from the last session still count.
    extractor.SetLiterLow(LiterBoundFromText(cbLiter_Low->currentText(), decimalSeparator));
    extractor.SetLiterHigh(LiterBoundFromText(cbLiter_Hi->currentText(), decimalSeparator));
    startRun(items, true);
}

std::unique_ptr<QDialog> CreateFuelStatistics(QWidget* applicationWindow, TdmStatistic& dm) {
    auto window = std::make_unique<TfmGSMStat>(dm, applicationWindow);
    window->setWindowModality(Qt::ApplicationModal);
    return window;
}
