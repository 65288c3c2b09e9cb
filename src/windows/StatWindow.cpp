#include "windows/StatWindow.h"

#include "export/ChartTable.h"
#include "export/CsvExport.h"
#include "export/XlsxExport.h"
#include "extraction/GraphExtractor.h"
#include "platform/chart/ChartModel.h"
#include "platform/chart/ChartView.h"
#include "platform/core/DaraPaths.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "platform/settings/Registry.h"
#include "platform/ui/FormStorage.h"
#include "platform/ui/KeyPreview.h"
#include "platform/ui/MessageBoxes.h"
#include "plugin/DmStatistic.h"
#include "windows/ChartPager.h"
#include "windows/SmenaList.h"
#include "windows/Value.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

using namespace StatControls;

namespace StatControls {

QLabel* label(QWidget* parent, const char* name, const QString& text) {
    return named(new QLabel(text, parent), name);
}

QGroupBox* groupBox(QWidget* parent, const char* name, const QString& title) {
    return named(new QGroupBox(title, parent), name);
}

QComboBox* comboBox(QWidget* parent, const char* name, const QStringList& items, int index,
                    bool editable) {
    auto* box = named(new QComboBox(parent), name);
    box->setEditable(editable);
    box->addItems(items);
    box->setCurrentIndex(index);
    return box;
}

void setGroupLayout(QGroupBox* group, const QList<QWidget*>& widgets, int stretchedIndex) {
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(2, 3, 2, 3);
    layout->setSpacing(3);
    for (int i = 0; i < widgets.size(); ++i)
        layout->addWidget(widgets[i], i == stretchedIndex ? 1 : 0);
}

const QStringList& fuelSchemas() {
    static const QStringList schemas{QStringLiteral("Время - Литры"),
                                     QStringLiteral("Время - Суммы"),
                                     QStringLiteral("Время - Заправок")};
    return schemas;
}

const QStringList& goodsSchemas() {
    static const QStringList schemas{QStringLiteral("Время - Суммы"),
                                     QStringLiteral("Время - Количество"),
                                     QStringLiteral("Время - Количество продаж")};
    return schemas;
}

QString selectAllText() {
    return QStringLiteral("Выбрать все");
}

QString deselectAllText() {
    return QStringLiteral("Сбросить все");
}

void toggleAllChecked(QPushButton* button, QListWidget* list) {
    const bool selectAll = button->text() == selectAllText();
    for (int i = 0; i < list->count(); ++i)
        list->item(i)->setCheckState(selectAll ? Qt::Checked : Qt::Unchecked);
    button->setText(selectAll ? deselectAllText() : selectAllText());
}

} // namespace StatControls

namespace {

QToolButton* speedButton(QWidget* parent, const char* name, Qt::ArrowType arrow,
                         const QString& hint) {
    auto* button = named(new QToolButton(parent), name);
    button->setAutoRaise(true);
    button->setArrowType(arrow);
    button->setToolTip(hint);
    button->setStatusTip(hint);
    return button;
}

QDateTimeEdit* picker(QWidget* parent, const char* name, bool date) {
    // The design-time value of all four pickers.
    const QDateTime start(QDate(2005, 7, 2), QTime(0, 0), Qt::UTC);
    auto* edit = named(new QDateTimeEdit(parent), name);
    // The system's date-times know no time zones; a UTC editor has no daylight-saving gaps.
    edit->setTimeSpec(Qt::UTC);
    edit->setDateTime(start);
    // Date, calendar button and time share the 189-pixel panel: a slightly smaller font keeps
    // every digit visible, as the suite's 8-point forms have them.
    QFont font = edit->font();
    font.setPointSizeF(qMin(font.pointSizeF(), 8.0));
    edit->setFont(font);
    if (date) {
        edit->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
        edit->setCalendarPopup(true);
        // The whole date must stay readable beside the calendar button in the narrow panel.
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("00.00.0000")) +
                              edit->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 16);
    } else {
        edit->setDisplayFormat(QStringLiteral("HH:mm:ss"));
        // The narrow panel needs the room for the date; the time is typed or changed by arrow keys.
        edit->setButtonSymbols(QAbstractSpinBox::NoButtons);
        edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00")) + 8);
    }
    return edit;
}

QLabel* valueLabel(QWidget* parent, const char* name) {
    auto* value = label(parent, name, QStringLiteral("0"));
    QFont font = value->font();
    font.setBold(true);
    value->setFont(font);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return value;
}

} // namespace

TStatWindow::TStatWindow(TdmStatistic& dm, QWidget* parent, TLook look)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint)
    , m_dm(dm)
    , m_look(std::move(look)) {
    setObjectName(m_look.formName);
    setWindowTitle(m_look.caption);
    // The windows were drawn for the suite's 8-point font; larger ones would not fit the panel.
    QFont windowFont = font();
    windowFont.setPointSize(8);
    setFont(windowFont);
    setMinimumSize(m_look.clientSize);
    resize(m_look.clientSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    buildSharedControls();
    buildChartPanel();
    m_pager = std::make_unique<TChartPager>(m_chart, TrackBar1, SpinEdit1);
}

TStatWindow::~TStatWindow() {
    // The worker draws into this window's chart and labels: it must be gone before they are.
    m_extractor.reset();
}

void TStatWindow::buildSharedControls() {
    Panel1 = named(new QFrame(this), "Panel1");
    Panel1->setFixedWidth(189);
    Panel1->setFrameShape(QFrame::StyledPanel);
    // The check boxes' captions are long for the panel: a tighter gap keeps them whole.
    Panel1->setStyleSheet(QStringLiteral("QCheckBox { spacing: 3px; }"));
    Panel2 = named(new QFrame(this), "Panel2");

    m_schemaCaption = new QLabel(QStringLiteral("Схема выборки:"), Panel1);
    m_schemaCaption->setObjectName(m_look.schemaCaptionName);
    cbSchema = comboBox(Panel1, "cbSchema", m_look.schemas, 0, true);

    gbPeriod = groupBox(Panel1, "gbPeriod", QStringLiteral("Период выборки"));
    Label10 = label(gbPeriod, "Label10", QStringLiteral("с"));
    dtpDateFrom = picker(gbPeriod, "dtpDateFrom", true);
    dtpTimeFrom = picker(gbPeriod, "dtpTimeFrom", false);
    Label11 = label(gbPeriod, "Label11", QStringLiteral("по"));
    dtpDateTo = picker(gbPeriod, "dtpDateTo", true);
    dtpTimeTo = picker(gbPeriod, "dtpTimeTo", false);
    lbSmena = label(gbPeriod, "lbSmena", QString());
    lbSmenaNum = label(gbPeriod, "lbSmenaNum", QString());
    for (QLabel* shift : {lbSmena, lbSmenaNum}) {
        QFont font = shift->font();
        font.setBold(true);
        shift->setFont(font);
        QPalette palette = shift->palette();
        palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
        shift->setPalette(palette);
    }
    bbtSmena = named(new QPushButton(QStringLiteral("Выбрать"), gbPeriod), "bbtSmena");
    bbtSmena->setToolTip(QStringLiteral("Выбрать диапазон дат по смене"));
    bbtSmena->setStatusTip(bbtSmena->toolTip());
    // A shift's caption and number share the row with the button: at the style's usual button
    // width the row would cut them.
    bbtSmena->setFixedWidth(bbtSmena->fontMetrics().horizontalAdvance(bbtSmena->text()) + 16);
    auto* period = new QGridLayout(gbPeriod);
    period->setContentsMargins(2, 3, 2, 3);
    period->setHorizontalSpacing(2);
    period->setVerticalSpacing(3);
    period->addWidget(Label10, 0, 0);
    period->addWidget(dtpDateFrom, 0, 1);
    period->addWidget(dtpTimeFrom, 0, 2);
    period->addWidget(Label11, 1, 0);
    period->addWidget(dtpDateTo, 1, 1);
    period->addWidget(dtpTimeTo, 1, 2);
    auto* shiftRow = new QHBoxLayout;
    shiftRow->addWidget(lbSmena);
    shiftRow->addWidget(lbSmenaNum);
    shiftRow->addStretch();
    shiftRow->addWidget(bbtSmena);
    period->addLayout(shiftRow, 2, 0, 1, 3);
    period->setColumnStretch(1, 1);

    cbMult = comboBox(Panel1, "cbMult",
                      {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                       QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6")},
                      0, false);
    cbDim = comboBox(Panel1, "cbDim",
                     {QStringLiteral("минута"), QStringLiteral("час"), QStringLiteral("сутки"),
                      QStringLiteral("неделя"), QStringLiteral("месяц"), QStringLiteral("год")},
                     1, true);
    chbMultiGraph = named(new QCheckBox(m_look.multiGraphCaption, Panel1), "chbMultiGraph");

    bbtPrint = named(new QPushButton(QStringLiteral("Печать"), Panel1), "bbtPrint");
    bbtGo = named(new QPushButton(QStringLiteral("Построить"), Panel1), "bbtGo");
    bbtGo->setAutoDefault(false);
    bbtPrint->setAutoDefault(false);

    gbStat = groupBox(Panel1, "gbStat", QStringLiteral("Статистика"));
    Label7 = label(gbStat, "Label7", QStringLiteral("количество периодов"));
    RecordCountLabel = valueLabel(gbStat, "RecordCountLabel");
    Label8 = label(gbStat, "Label8", QStringLiteral("максимальное значение"));
    MaxValueLabel = valueLabel(gbStat, "MaxValueLabel");
    lbCompare = valueLabel(gbStat, "lbCompare");
    // "к году назад: +12,3 %" is wider than the box's values: it goes on to a second line
    // rather than losing its beginning.
    lbCompare->setWordWrap(true);
    lbCompare->hide();
    auto* stat = new QVBoxLayout(gbStat);
    stat->setContentsMargins(2, 2, 2, 2);
    stat->setSpacing(0);
    for (QLabel* l : {Label7, RecordCountLabel, Label8, MaxValueLabel})
        stat->addWidget(l);

    gbDiagram = groupBox(Panel1, "gbDiagram", QStringLiteral("Диаграмма"));
    Label6 = label(gbDiagram, "Label6", QStringLiteral("Число точек на страницу:"));
    SpinEdit1 = named(new QSpinBox(gbDiagram), "SpinEdit1");
    SpinEdit1->setRange(2, 1500);
    SpinEdit1->setValue(30);
    // The goods window's panel is tight: squeezed, the box would lose its arrows.
    SpinEdit1->setMinimumHeight(SpinEdit1->sizeHint().height());
    sbtMult2 = speedButton(gbDiagram, "sbtMult2", Qt::NoArrow, QStringLiteral("Увеличить вдвое"));
    sbtMult2->setText(QStringLiteral("×2"));
    sbtDiv2 = speedButton(gbDiagram, "sbtDiv2", Qt::NoArrow, QStringLiteral("Уменьшить вдвое"));
    sbtDiv2->setText(QStringLiteral("÷2"));
    chbShowLabels = named(new QCheckBox(QStringLiteral("Показать метки диаграммы"), gbDiagram),
                          "chbShowLabels");
    auto* diagram = new QVBoxLayout(gbDiagram);
    diagram->setContentsMargins(2, 3, 2, 3);
    diagram->setSpacing(3);
    diagram->addWidget(Label6);
    auto* perPage = new QHBoxLayout;
    perPage->addWidget(SpinEdit1, 1);
    perPage->addWidget(sbtMult2);
    perPage->addWidget(sbtDiv2);
    diagram->addLayout(perPage);
    diagram->addWidget(chbShowLabels);

    // The suite's narrow sans serif fitted these captions into the panel; wider fonts need a
    // smaller size to show them whole.
    for (QCheckBox* box : {chbMultiGraph, chbShowLabels}) {
        QFont small = box->font();
        small.setPointSizeF(7.5);
        box->setFont(small);
    }
}

void TStatWindow::buildChartPanel() {
    m_chart = new ChartModel(this);
    m_chart->setObjectName(QStringLiteral("Chart1"));
    m_chart->setBottomAxisTitle(QStringLiteral("Дата"));
    m_chart->setLeftAxisTitle(m_look.leftAxisTitle);
    m_chart->setLegendVisible(false);
    m_chart->setPointsPerPage(30);
    Chart1 = named(new ChartView(m_chart, Panel2), "Chart1");

    TrackBar1 = named(new QSlider(Qt::Horizontal, Panel2), "TrackBar1");
    TrackBar1->setRange(1, 100);
    TrackBar1->setValue(1);
    TrackBar1->setPageStep(1);
    TrackBar1->setSingleStep(1);
    TrackBar1->setTickPosition(QSlider::TicksAbove);
    TrackBar1->setFixedHeight(41);
    pnButtons = named(new QFrame(Panel2), "pnButtons");
    pnButtons->setFixedHeight(30);
    sbtBegin = speedButton(pnButtons, "sbtBegin", Qt::NoArrow, QStringLiteral("Первая страница"));
    sbtBegin->setText(QStringLiteral("|◀"));
    sbtBack =
        speedButton(pnButtons, "sbtBack", Qt::LeftArrow, QStringLiteral("Предыдущая страница"));
    sbtForward =
        speedButton(pnButtons, "sbtForward", Qt::RightArrow, QStringLiteral("Следующая страница"));
    sbtEnd = speedButton(pnButtons, "sbtEnd", Qt::NoArrow, QStringLiteral("Последняя страница"));
    sbtEnd->setText(QStringLiteral("▶|"));
    pnButtons->installEventFilter(this);

    auto* right = new QVBoxLayout(Panel2);
    // One pixel round the chart side, so that the navigation bar stands at 1 as designed.
    right->setContentsMargins(1, 1, 1, 1);
    right->setSpacing(0);
    right->addWidget(Chart1, 1);
    right->addWidget(TrackBar1);
    right->addWidget(pnButtons);

    auto* main = new QHBoxLayout(this);
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(0);
    main->addWidget(Panel1);
    main->addWidget(Panel2, 1);
}

void TStatWindow::finishCreation(const QList<QWidget*>& ownGroups) {
    QGroupBox* step = new QGroupBox(QStringLiteral("Шаг выборки"), Panel1);
    step->setObjectName(m_look.stepGroupName);
    auto* dim = new QHBoxLayout(step);
    dim->setContentsMargins(2, 3, 2, 3);
    dim->addWidget(cbMult);
    dim->addWidget(cbDim, 1);

    auto* run = new QHBoxLayout;
    run->addWidget(bbtPrint);
    run->addWidget(bbtGo);

    auto* left = new QVBoxLayout(Panel1);
    left->setContentsMargins(2, 4, 2, 4);
    left->setSpacing(4);
    left->addWidget(m_schemaCaption);
    left->addWidget(cbSchema);
    left->addWidget(gbPeriod);
    left->addWidget(step);
    for (int i = 0; i < ownGroups.size(); ++i)
        left->addWidget(ownGroups[i], i == 0 ? 1 : 0);
    left->addLayout(run);
    left->addWidget(gbStat);
    left->addWidget(gbDiagram);

    // Restored before the handlers are connected: a restored value is no edit of the operator.
    const QStringList framesValues{
        QStringLiteral("cbDim.ItemIndex"),       QStringLiteral("cbMult.ItemIndex"),
        QStringLiteral("chbMultiGraph.Checked"), QStringLiteral("dtpDateFrom.Date"),
        QStringLiteral("dtpDateFrom.Time"),      QStringLiteral("dtpDateTo.Date"),
        QStringLiteral("dtpDateTo.Time"),        QStringLiteral("dtpTimeFrom.Time"),
        QStringLiteral("dtpTimeTo.Time"),        QStringLiteral("lbSmenaNum.Caption"),
        QStringLiteral("lbSmena.Caption")};
    m_storage = std::make_unique<TFormStorage>(this, framesValues + m_look.storedValues);
    m_storage->restore();
    const int compare =
        TRegistry().readValue(m_storage->groupName(), compareValueName(), 0).toString().toInt();
    // A damaged value compares with nothing rather than with a period nobody chose.
    if (compare == int(TCompareMode::Previous) || compare == int(TCompareMode::Year))
        m_compareMode = TCompareMode(compare);
    // Below the window's own statistics lines: the fuel window adds its smallest value.
    gbStat->layout()->addWidget(lbCompare);
    buildChartMenu();
    connectSharedHandlers();
    new KeyPreview(this, [this](QKeyEvent* key) {
        if (key->key() != Qt::Key_Escape)
            return false;
        FormKeyDown(key->key());
        return true;
    });
}

void TStatWindow::connectSharedHandlers() {
    for (QDateTimeEdit* edit : {dtpDateFrom, dtpTimeFrom, dtpDateTo, dtpTimeTo})
        connect(edit, &QDateTimeEdit::dateTimeChanged, this, [this] { dtpDateFromChange(); });
    connect(bbtSmena, &QPushButton::clicked, this, [this] { bbtSmenaClick(); });
    connect(bbtGo, &QPushButton::clicked, this, [this] { bbtGoClick(); });
    connect(bbtPrint, &QPushButton::clicked, this, [this] { bbtPrintClick(); });
    connect(Chart1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { pmChart->popup(Chart1->mapToGlobal(at)); });
    connect(miComparePrevious, &QAction::triggered, this,
            [this] { CompareClick(TCompareMode::Previous); });
    connect(miCompareYear, &QAction::triggered, this, [this] { CompareClick(TCompareMode::Year); });
    connect(miCompareNone, &QAction::triggered, this, [this] { CompareClick(TCompareMode::None); });
    connect(miSaveData, &QAction::triggered, this, [this] { SaveDataClick(); });
    connect(Chart1, &ChartView::pointClicked, this,
            [this](int series, int point) { ChartClickSeries(series, point); });
    for (QToolButton* button : {sbtBegin, sbtBack, sbtForward, sbtEnd})
        connect(button, &QToolButton::clicked, this, [this, button] { NavigBtnClick(button); });
    for (QToolButton* button : {sbtMult2, sbtDiv2})
        connect(button, &QToolButton::clicked, this, [this, button] { ResizeBtnClick(button); });
    connect(TrackBar1, &QSlider::valueChanged, this, [this] { TrackBar1Change(); });
    connect(SpinEdit1, &QSpinBox::valueChanged, this, [this] { SpinEdit1Change(); });
    connect(chbShowLabels, &QCheckBox::clicked, this, [this] { chbShowLabelsClick(); });
}

void TStatWindow::buildChartMenu() {
    pmChart = named(new QMenu(this), "pmChart");
    miComparePrevious = pmChart->addAction(QStringLiteral("Сравнить с предыдущим периодом"));
    miComparePrevious->setObjectName(QStringLiteral("miComparePrevious"));
    miCompareYear = pmChart->addAction(QStringLiteral("Сравнить с тем же периодом год назад"));
    miCompareYear->setObjectName(QStringLiteral("miCompareYear"));
    miCompareNone = pmChart->addAction(QStringLiteral("Без сравнения"));
    miCompareNone->setObjectName(QStringLiteral("miCompareNone"));
    pmChart->addSeparator();
    miSaveData = pmChart->addAction(QStringLiteral("Сохранить данные…"));
    miSaveData->setObjectName(QStringLiteral("miSaveData"));
    for (QAction* item : {miComparePrevious, miCompareYear})
        item->setCheckable(true);
    showCompareMode();
    Chart1->setContextMenuPolicy(Qt::CustomContextMenu);
}

void TStatWindow::showCompareMode() {
    miComparePrevious->setChecked(m_compareMode == TCompareMode::Previous);
    miCompareYear->setChecked(m_compareMode == TCompareMode::Year);
}

void TStatWindow::CompareClick(TCompareMode mode) {
    // A checked item clicked again unchecks itself: that is "no comparison" too.
    if (mode == m_compareMode)
        mode = TCompareMode::None;
    m_compareMode = mode;
    showCompareMode();
    if (m_extractor && m_extractor->GetPointCount() > 0 && m_extractor->Suspended())
        bbtGoClick();
}

void TStatWindow::SaveDataClick() {
    if (!m_extractor || m_extractor->GetPointCount() == 0) {
        MessageBoxes::information(this, QStringLiteral("Нет данных для выборки!"));
        return;
    }
    const QStringList filters{QStringLiteral("CSV для электронной таблицы (*.csv)"),
                              QStringLiteral("CSV для программ (*.csv)"),
                              QStringLiteral("Книга Excel (*.xlsx)")};
    try {
        const QString folder = DataFolder();
        QDir().mkpath(folder);
        QFileDialog dialog(this, QStringLiteral("Сохранить данные"), folder,
                           filters.join(QStringLiteral(";;")));
        dialog.setObjectName(QStringLiteral("SaveDataDialog"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("csv"));
        connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
            dialog.setDefaultSuffix(filters.indexOf(filter) == 2 ? QStringLiteral("xlsx")
                                                                 : QStringLiteral("csv"));
        });
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return;
        const int format = std::max(0, int(filters.indexOf(dialog.selectedNameFilter())));
        const QString path = dialog.selectedFiles().constFirst();
        SaveData(path, TDataFormat(format));
        MessageBoxes::information(
            this,
            QStringLiteral("Данные сохранены в файл \"%1\"").arg(QDir::toNativeSeparators(path)));
    } catch (const std::exception& e) {
        MessageBoxes::error(this, ExceptionMessage(e));
    }
}

void TStatWindow::SaveData(const QString& path, TDataFormat format) {
    // The lines of the last run: one per item when it was split, otherwise the one summed line
    // named by all its items; then the earlier period's companions by their legend names.
    const TQueryItems items = m_extractor->Items();
    QList<TChartColumn> columns;
    if (m_extractor->MultiGraph()) {
        for (int i = 0; i < items.size() && i < m_chart->seriesCount(); ++i)
            columns.append({items.at(i).Name, m_chart->series(i)});
    } else {
        QStringList names;
        for (const TQueryItem& item : items)
            names << item.Name;
        columns.append({names.join(QStringLiteral(", ")), m_chart->series(0)});
    }
    for (int i = 0; i < m_chart->seriesCount(); ++i)
        if (m_chart->series(i)->isCompanion())
            columns.append({m_chart->series(i)->title(), m_chart->series(i)});
    const TChartTable table(columns);
    if (format != TDataFormat::Xlsx) {
        WriteChartCsv(path, table,
                      format == TDataFormat::MachineCsv ? TCsvDialect::Machine
                                                        : TCsvDialect::Spreadsheet);
        return;
    }
    const TStatReportFacts facts = m_extractor->ReportFacts(ReportSubject());
    TXlsxSummary summary;
    summary.title = facts.titleLines.value(0);
    summary.valueAxisTitle = m_chart->leftAxisTitle();
    summary.maxValue = facts.maxValue;
    summary.maxName = facts.maxName;
    summary.minValue = facts.minValue;
    summary.minName = facts.minName;
    for (const TChartColumn& column : columns) {
        double sum = 0;
        for (const ChartPoint& point : column.series->points())
            sum += point.y;
        if (sum != 0)
            summary.totals.append({column.name, sum});
    }
    WriteChartXlsx(path, table, summary);
}

void TStatWindow::setExtractor(std::unique_ptr<TGraphExtractor> extractor) {
    m_extractor = std::move(extractor);
    // The report pictures the chart as this window shows it.
    if (m_extractor)
        m_extractor->SetChartView(Chart1);
}

void TStatWindow::clearResults() {
    for (int i = 0; i < m_chart->seriesCount(); ++i) {
        m_chart->series(i)->clear();
        m_chart->series(i)->setShownInLegend(false);
    }
    RecordCountLabel->setText(QStringLiteral("0"));
    MaxValueLabel->setText(QStringLiteral("0"));
    lbCompare->clear();
    lbCompare->hide();
}

bool TStatWindow::periodChecked() {
    if (fromQDateTime(dtpDateFrom->dateTime()) < fromQDateTime(dtpDateTo->dateTime()))
        return true;
    MessageBoxes::show(this, QStringLiteral("Ошибка"),
                       QStringLiteral("Задан неверный период выборки!"),
                       MessageBoxes::Icon::Warning);
    return false;
}

void TStatWindow::startRun(const TQueryItems& items, bool fuelMode) {
    TGraphExtractor& extractor = *m_extractor;
    extractor.SetDateFrom(fromQDateTime(dtpDateFrom->dateTime()));
    extractor.SetDateTo(fromQDateTime(dtpDateTo->dateTime()));
    // The multiplier first: setting the unit computes the step length from it.
    extractor.SetStepMultiplier(cbMult->currentText().toInt());
    extractor.SetStepUnit(comboBoxItemIndex(cbDim));
    extractor.SetSchema(comboBoxItemIndex(cbSchema));
    extractor.SetMultiGraph(chbMultiGraph->isChecked());
    extractor.SetItems(items);
    extractor.SetFuelMode(fuelMode);
    extractor.SetTitle(cbSchema->currentText());
    extractor.SetMaxLabel(MaxValueLabel);
    extractor.SetCountLabel(RecordCountLabel);
    extractor.SetCompareMode(m_compareMode);
    extractor.SetCompareLabel(lbCompare);
    if (extractor.Suspended())
        extractor.Resume();
}

void TStatWindow::ChartClickSeries(int seriesIndex, int pointIndex) {
    ShowChartPointValue(this, *m_chart, seriesIndex, pointIndex);
}

void TStatWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TStatWindow::dtpDateFromChange() {
    if (m_settingPeriod)
        return;
    m_settingPeriod = true;
    QDateTime from = dtpDateFrom->dateTime();
    from.setTime(dtpTimeFrom->time());
    dtpDateFrom->setDateTime(from);
    QDateTime to = dtpDateTo->dateTime();
    to.setTime(dtpTimeTo->time());
    dtpDateTo->setDateTime(to);
    m_settingPeriod = false;
    lbSmena->clear();
    lbSmenaNum->clear();
}

void TStatWindow::bbtSmenaClick() {
    const TStatConnectionUse use(m_dm);
    try {
        if (!SmenaListFrm)
            SmenaListFrm = new TSmenaListFrm(this);
        // The list is made for one use: freed whatever the outcome.
        const std::unique_ptr<TSmenaListFrm> list(SmenaListFrm.data());
        m_dm.cdsSmSilo.open();
        int smFrom = 0;
        int smTo = 0;
        TDateTime periodFrom = fromQDateTime(dtpDateFrom->dateTime());
        TDateTime periodTo = fromQDateTime(dtpDateTo->dateTime());
        if (SelectSmena(smFrom, smTo, periodFrom, periodTo, &m_dm.cdsSmSilo, &m_dm.dsSmSilo) &&
            list->result() == QDialog::Accepted) {
            const QDateTime from = toQDateTime(periodFrom);
            const QDateTime to = toQDateTime(periodTo);
            m_settingPeriod = true;
            dtpDateFrom->setDateTime(QDateTime(from.date(), from.time(), Qt::UTC));
            dtpDateTo->setDateTime(QDateTime(to.date(), to.time(), Qt::UTC));
            dtpTimeFrom->setTime(from.time());
            dtpTimeTo->setTime(to.time());
            m_settingPeriod = false;
            if (smFrom == smTo) {
                lbSmena->setText(QStringLiteral("Смена №"));
                lbSmenaNum->setText(QString::number(smFrom));
            } else {
                lbSmena->clear();
                lbSmenaNum->clear();
            }
        }
    } catch (const std::exception&) {
        // A shift that cannot be chosen leaves the period as it was, without a word.
        m_settingPeriod = false;
    }
}

void TStatWindow::bbtPrintClick() {
    if (!m_extractor || m_extractor->GetPointCount() == 0) {
        MessageBoxes::information(this, QStringLiteral("Нет данных для выборки!"));
        return;
    }
    try {
        m_extractor->ShowStatReport(ReportSubject());
    } catch (const std::exception& e) {
        MessageBoxes::error(this, ExceptionMessage(e));
    }
}

void TStatWindow::FormKeyDown(int key) {
    if (key == Qt::Key_Escape)
        close();
}

void TStatWindow::FormClose() {
    m_extractor.reset();
    try {
        m_dm.CloseAllData();
    } catch (const std::exception& e) {
        MessageBoxes::error(this, ExceptionMessage(e));
    }
    m_storage->save();
    TRegistry registry;
    registry.writeValue(m_storage->groupName(), compareValueName(), int(m_compareMode));
    registry.flush();
}

void TStatWindow::done(int result) {
    if (!m_closed) {
        m_closed = true;
        FormClose();
    }
    QDialog::done(result);
}

bool TStatWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && watched == pnButtons)
        pnButtonsResize();
    return QDialog::eventFilter(watched, event);
}

void TStatWindow::NavigBtnClick(QObject* sender) {
    if (auto* button = qobject_cast<QToolButton*>(sender))
        m_pager->Navigate(button->objectName());
}

void TStatWindow::TrackBar1Change() {
    m_pager->PageBarChanged(TrackBar1->value());
}

void TStatWindow::ResizeBtnClick(QObject* sender) {
    if (auto* button = qobject_cast<QToolButton*>(sender))
        m_pager->Resize(button->objectName());
}

void TStatWindow::SpinEdit1Change() {
    m_pager->PointsPerPageChanged(SpinEdit1->value());
}

void TStatWindow::chbShowLabelsClick() {
    m_pager->ShowLabels(chbShowLabels->isChecked());
}

void TStatWindow::pnButtonsResize() {
    const auto places = NavigButtonPlaces(pnButtons->width(), pnButtons->x());
    const QList<QToolButton*> buttons{sbtBegin, sbtBack, sbtForward, sbtEnd};
    for (int i = 0; i < buttons.size(); ++i)
        buttons[i]->setGeometry(places[size_t(i)].left, 0, places[size_t(i)].width,
                                pnButtons->height());
}

namespace {

TDataFolderSource& dataFolderSource() {
    static TDataFolderSource source;
    return source;
}

} // namespace

void SetDataFolderSource(TDataFolderSource source) {
    dataFolderSource() = std::move(source);
}

QString DataFolder() {
    if (dataFolderSource())
        return dataFolderSource()();
    return mapDaraPath(QStringLiteral("C:\\DARA\\EXPORT\\"));
}
