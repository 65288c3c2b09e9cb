#include "windows/GSMStat.h"

#include "extraction/GSMExtractor.h"
#include "platform/chart/ChartModel.h"
#include "platform/chart/ChartView.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "platform/core/FormatSettings.h"
#include "platform/ui/FormStorage.h"
#include "platform/ui/KeyPreview.h"
#include "platform/ui/MessageBoxes.h"
#include "plugin/DmStatistic.h"
#include "plugin/HostFunctions.h"
#include "windows/ChartPager.h"
#include "windows/SmenaList.h"
#include "windows/StatWindowInput.h"
#include "windows/Value.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

QPointer<TfmGSMStat> fmGSMStat;

namespace {

const QString kSelectAll = QStringLiteral("Выбрать все");
const QString kDeselectAll = QStringLiteral("Сбросить все");
const QString kCaption = QStringLiteral("Статистика по ГСМ");

// The values kept between sessions; the schema, the grade checks, the points per page and the
// labels check box start afresh every time.
const QStringList kStoredValues{
    QStringLiteral("cbDim.ItemIndex"),       QStringLiteral("cbLiter_Hi.ItemIndex"),
    QStringLiteral("cbLiter_Low.ItemIndex"), QStringLiteral("cbMult.ItemIndex"),
    QStringLiteral("chbMultiGraph.Checked"), QStringLiteral("dtpDateFrom.Date"),
    QStringLiteral("dtpDateFrom.Time"),      QStringLiteral("dtpDateTo.Date"),
    QStringLiteral("dtpDateTo.Time"),        QStringLiteral("dtpTimeFrom.Time"),
    QStringLiteral("dtpTimeTo.Time"),        QStringLiteral("lbSmenaNum.Caption"),
    QStringLiteral("lbSmena.Caption")};

template <class W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& text) {
    return named(new QLabel(text, parent), name);
}

QComboBox* comboBox(QWidget* parent, const char* name, const QStringList& items, int index,
                    bool editable) {
    auto* box = named(new QComboBox(parent), name);
    box->setEditable(editable);
    box->addItems(items);
    box->setCurrentIndex(index);
    return box;
}

QGroupBox* groupBox(QWidget* parent, const char* name, const QString& title) {
    return named(new QGroupBox(title, parent), name);
}

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

QString exceptionText(const std::exception& e) {
    if (const auto* own = dynamic_cast<const Exception*>(&e))
        return own->message();
    return QString::fromLocal8Bit(e.what());
}

} // namespace

TfmGSMStat::TfmGSMStat(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("fmGSMStat"));
    setWindowTitle(kCaption);
    // The window was drawn for the suite's 8-point font; larger ones would not fit the panel.
    QFont windowFont = font();
    windowFont.setPointSize(8);
    setFont(windowFont);
    setMinimumSize(926, 732);
    resize(926, 732);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    buildControls();
    buildChart();
    m_pager = std::make_unique<TChartPager>(m_chart, TrackBar1, SpinEdit1);
    // Restored before the handlers are connected: a restored value is no edit of the operator.
    m_storage = std::make_unique<TFormStorage>(this, kStoredValues);
    m_storage->restore();
    connectHandlers();
    new KeyPreview(this, [this](QKeyEvent* key) {
        if (key->key() != Qt::Key_Escape)
            return false;
        FormKeyDown(key->key());
        return true;
    });
}

TfmGSMStat::~TfmGSMStat() {
    // The worker draws into this window's chart and labels: it must be gone before they are.
    m_extractor.reset();
}

void TfmGSMStat::buildControls() {
    Panel1 = named(new QFrame(this), "Panel1");
    Panel1->setFixedWidth(189);
    Panel1->setFrameShape(QFrame::StyledPanel);
    // The check boxes' captions are long for the panel: a tighter gap keeps them whole.
    Panel1->setStyleSheet(QStringLiteral("QCheckBox { spacing: 3px; }"));
    Panel2 = named(new QFrame(this), "Panel2");

    Label1 = label(Panel1, "Label1", QStringLiteral("Схема выборки:"));
    cbSchema = comboBox(Panel1, "cbSchema",
                        {QStringLiteral("Время - Литры"), QStringLiteral("Время - Суммы"),
                         QStringLiteral("Время - Заправок")},
                        0, true);

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

    gbDim = groupBox(Panel1, "gbDim", QStringLiteral("Шаг выборки"));
    cbMult = comboBox(gbDim, "cbMult",
                      {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                       QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6")},
                      0, false);
    cbDim = comboBox(gbDim, "cbDim",
                     {QStringLiteral("минута"), QStringLiteral("час"), QStringLiteral("сутки"),
                      QStringLiteral("неделя"), QStringLiteral("месяц"), QStringLiteral("год")},
                     1, true);
    auto* dim = new QHBoxLayout(gbDim);
    dim->setContentsMargins(2, 3, 2, 3);
    dim->addWidget(cbMult);
    dim->addWidget(cbDim, 1);

    gbGSM = groupBox(Panel1, "gbGSM", QStringLiteral("Вид топлива"));
    CheckListBox1 = named(new QListWidget(gbGSM), "CheckListBox1");
    bbtSelectAll = named(new QPushButton(kSelectAll, gbGSM), "bbtSelectAll");
    chbMultiGraph =
        named(new QCheckBox(QStringLiteral("разбить по видам топлива"), gbGSM), "chbMultiGraph");
    auto* grades = new QVBoxLayout(gbGSM);
    grades->setContentsMargins(2, 3, 2, 3);
    grades->setSpacing(3);
    grades->addWidget(CheckListBox1, 1);
    grades->addWidget(bbtSelectAll);
    grades->addWidget(chbMultiGraph);

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

    bbtPrint = named(new QPushButton(QStringLiteral("Печать"), Panel1), "bbtPrint");
    bbtGo = named(new QPushButton(QStringLiteral("Построить"), Panel1), "bbtGo");
    bbtGo->setAutoDefault(false);
    bbtPrint->setAutoDefault(false);
    auto* run = new QHBoxLayout;
    run->addWidget(bbtPrint);
    run->addWidget(bbtGo);

    gbStat = groupBox(Panel1, "gbStat", QStringLiteral("Статистика"));
    Label7 = label(gbStat, "Label7", QStringLiteral("количество периодов"));
    RecordCountLabel = valueLabel(gbStat, "RecordCountLabel");
    Label8 = label(gbStat, "Label8", QStringLiteral("максимальное значение"));
    MaxValueLabel = valueLabel(gbStat, "MaxValueLabel");
    Label9 = label(gbStat, "Label9", QStringLiteral("минимальное значение"));
    MinValueLabel = valueLabel(gbStat, "MinValueLabel");
    auto* stat = new QVBoxLayout(gbStat);
    stat->setContentsMargins(4, 2, 4, 2);
    stat->setSpacing(0);
    for (QLabel* l : {Label7, RecordCountLabel, Label8, MaxValueLabel, Label9, MinValueLabel})
        stat->addWidget(l);

    gbDiagram = groupBox(Panel1, "gbDiagram", QStringLiteral("Диаграмма"));
    Label6 = label(gbDiagram, "Label6", QStringLiteral("Число точек на страницу:"));
    SpinEdit1 = named(new QSpinBox(gbDiagram), "SpinEdit1");
    SpinEdit1->setRange(2, 1500);
    SpinEdit1->setValue(30);
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

    auto* left = new QVBoxLayout(Panel1);
    left->setContentsMargins(2, 4, 2, 4);
    left->setSpacing(4);
    left->addWidget(Label1);
    left->addWidget(cbSchema);
    left->addWidget(gbPeriod);
    left->addWidget(gbDim);
    left->addWidget(gbGSM, 1);
    left->addWidget(gbLitre);
    left->addLayout(run);
    left->addWidget(gbStat);
    left->addWidget(gbDiagram);

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

    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(10);
    Timer1->setSingleShot(true);

    auto* main = new QHBoxLayout(this);
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(0);
    main->addWidget(Panel1);
    main->addWidget(Panel2, 1);
}

void TfmGSMStat::buildChart() {
    m_chart = new ChartModel(this);
    m_chart->setObjectName(QStringLiteral("Chart1"));
    m_chart->setBottomAxisTitle(QStringLiteral("Дата"));
    m_chart->setLeftAxisTitle(QStringLiteral("Литры"));
    m_chart->setLegendVisible(false);
    m_chart->setPointsPerPage(30);
    // Series11 to Series18; the second keeps the chart's automatic colour.
    const QList<QColor> colors{
        QColor(0, 0, 255),    QColor(),           QColor(0, 255, 0),   QColor(255, 255, 0),
        QColor(64, 128, 128), QColor(64, 0, 128), QColor(255, 0, 255), QColor(64, 0, 0)};
    for (const QColor& color : colors) {
        ChartSeries* series = m_chart->addSeries();
        series->setLineWidth(3);
        series->setMarkerShape(ChartMarkerShape::Circle);
        series->setMarkerSize(6);
        series->setMarkerVisible(true);
        series->setMarksVisible(false);
        series->setShownInLegend(false);
        if (color.isValid())
            series->setColor(color);
    }
    Chart1 = named(new ChartView(m_chart, Panel2), "Chart1");
    auto* right = new QVBoxLayout(Panel2);
    // One pixel round the chart side, so that the navigation bar stands at 1 as designed.
    right->setContentsMargins(1, 1, 1, 1);
    right->setSpacing(0);
    right->addWidget(Chart1, 1);
    right->addWidget(TrackBar1);
    right->addWidget(pnButtons);
}

void TfmGSMStat::connectHandlers() {
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    connect(cbSchema, &QComboBox::currentTextChanged, this, [this] { cbSchemaChange(); });
    for (QDateTimeEdit* edit : {dtpDateFrom, dtpTimeFrom, dtpDateTo, dtpTimeTo})
        connect(edit, &QDateTimeEdit::dateTimeChanged, this, [this] { dtpDateFromChange(); });
    connect(bbtSmena, &QPushButton::clicked, this, [this] { bbtSmenaClick(); });
    connect(bbtSelectAll, &QPushButton::clicked, this, [this] { bbtSelectAllClick(); });
    connect(bbtGo, &QPushButton::clicked, this, [this] { bbtGoClick(); });
    connect(bbtPrint, &QPushButton::clicked, this, [this] { bbtPrintClick(); });
    for (QToolButton* button : {sbtBegin, sbtBack, sbtForward, sbtEnd})
        connect(button, &QToolButton::clicked, this, [this, button] { NavigBtnClick(button); });
    for (QToolButton* button : {sbtMult2, sbtDiv2})
        connect(button, &QToolButton::clicked, this, [this, button] { ResizeBtnClick(button); });
    connect(TrackBar1, &QSlider::valueChanged, this, [this] { TrackBar1Change(); });
    connect(SpinEdit1, &QSpinBox::valueChanged, this, [this] { SpinEdit1Change(); });
    connect(chbShowLabels, &QCheckBox::clicked, this, [this] { chbShowLabelsClick(); });
    connect(Chart1, &ChartView::pointClicked, this,
            [this](int series, int point) { Chart1ClickSeries(series, point); });
}

void TfmGSMStat::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfmGSMStat::FormShow() {
    Timer1->start();
    if (!HostFunctions::GetPrivValue.load())
        return;
    try {
        setWindowTitle(kCaption + QStringLiteral(" для ") + HostFunctions::getPrivValueString(16));
    } catch (const std::exception& e) {
        MessageBoxes::error(this, exceptionText(e));
    }
}

void TfmGSMStat::Timer1Timer() {
    Timer1->stop();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    CheckListBox1->clear();
    try {
        try {
            TClientDataSet& grades = dmStatistic->cdsGSM;
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
        } catch (...) {
            dmStatistic->DCOMConnection1.close();
            throw;
        }
        dmStatistic->DCOMConnection1.close();
        m_extractor = std::make_unique<TGSMExtractor>(
            0, fromQDateTime(dtpDateFrom->dateTime()), fromQDateTime(dtpDateTo->dateTime()), 0,
            &dmStatistic->cdsLogtran, m_chart, this, m_colors, TrackBar1);
        for (int i = 0; i < m_chart->seriesCount(); ++i) {
            m_chart->series(i)->clear();
            m_chart->series(i)->setShownInLegend(false);
        }
        RecordCountLabel->setText(QStringLiteral("0"));
        MaxValueLabel->setText(QStringLiteral("0"));
        MinValueLabel->setText(QStringLiteral("0"));
        bbtSelectAll->setText(kSelectAll);
    } catch (const std::exception& e) {
        // Without grades there is nothing to build: the window stays, empty, and says why.
        CheckListBox1->clear();
        m_colors.clear();
        QApplication::restoreOverrideCursor();
        MessageBoxes::error(this, exceptionText(e));
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

void TfmGSMStat::dtpDateFromChange() {
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

void TfmGSMStat::bbtSmenaClick() {
    try {
        if (!SmenaListFrm)
            SmenaListFrm = new TSmenaListFrm(this);
        // The list is made for one use: freed whatever the outcome.
        const std::unique_ptr<TSmenaListFrm> list(SmenaListFrm.data());
        dmStatistic->cdsSmSilo.open();
        int smFrom = 0;
        int smTo = 0;
        TDateTime periodFrom = fromQDateTime(dtpDateFrom->dateTime());
        TDateTime periodTo = fromQDateTime(dtpDateTo->dateTime());
        if (SelectSmena(smFrom, smTo, periodFrom, periodTo, &dmStatistic->cdsSmSilo,
                        &dmStatistic->dsSmSilo) &&
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
    try {
        dmStatistic->DCOMConnection1.close();
    } catch (const std::exception&) {
    }
}

void TfmGSMStat::bbtSelectAllClick() {
    const bool selectAll = bbtSelectAll->text() == kSelectAll;
    for (int i = 0; i < CheckListBox1->count(); ++i)
        CheckListBox1->item(i)->setCheckState(selectAll ? Qt::Checked : Qt::Unchecked);
    bbtSelectAll->setText(selectAll ? kDeselectAll : kSelectAll);
}

void TfmGSMStat::bbtGoClick() {
    const TDateTime dateFrom = fromQDateTime(dtpDateFrom->dateTime());
    const TDateTime dateTo = fromQDateTime(dtpDateTo->dateTime());
    if (!(dateFrom < dateTo)) {
        MessageBoxes::show(this, QStringLiteral("Ошибка"),
                           QStringLiteral("Задан неверный период выборки!"),
                           MessageBoxes::Icon::Warning);
        return;
    }
    TQueryItems items;
    for (int i = 0; i < CheckListBox1->count(); ++i) {
        const QListWidgetItem* grade = CheckListBox1->item(i);
        if (grade->checkState() == Qt::Checked)
            items.append({grade->text(), 0});
    }
    if (items.isEmpty() || !m_extractor) {
        MessageBoxes::show(this, QStringLiteral("Ошибка"), QStringLiteral("Не указан вид топлива!"),
                           MessageBoxes::Icon::Warning);
        return;
    }
    const QChar decimalSeparator = TFormatSettings::workstation().decimalSeparator;
    TGSMExtractor& extractor = *m_extractor;
    extractor.SetDateFrom(dateFrom);
    extractor.SetDateTo(dateTo);
    // The multiplier first: setting the unit computes the step length from it.
    extractor.SetStepMultiplier(cbMult->currentText().toInt());
    extractor.SetStepUnit(comboBoxItemIndex(cbDim));
    extractor.SetSchema(comboBoxItemIndex(cbSchema));
    extractor.SetMultiGraph(chbMultiGraph->isChecked());
    extractor.SetItems(items);
    extractor.SetFuelMode(true);
    extractor.SetTitle(cbSchema->currentText());
    extractor.SetMinLabel(MinValueLabel);
    extractor.SetMaxLabel(MaxValueLabel);
    extractor.SetCountLabel(RecordCountLabel);
    // Read also while the boxes are disabled: bounds restored from the last session still count.
    extractor.SetLiterLow(LiterBoundFromText(cbLiter_Low->currentText(), decimalSeparator));
    extractor.SetLiterHigh(LiterBoundFromText(cbLiter_Hi->currentText(), decimalSeparator));
    if (extractor.Suspended())
        extractor.Resume();
}

void TfmGSMStat::bbtPrintClick() {
    if (!m_extractor || m_extractor->GetPointCount() == 0) {
        MessageBoxes::information(this, QStringLiteral("Нет данных для выборки!"));
        return;
    }
    try {
        m_extractor->ShowStatReport(QStringLiteral("Отчет по ГСМ"));
    } catch (const std::exception& e) {
        MessageBoxes::error(this, exceptionText(e));
    }
}

void TfmGSMStat::FormKeyDown(int key) {
    if (key == Qt::Key_Escape)
        close();
}

void TfmGSMStat::FormClose() {
    m_extractor.reset();
    try {
        if (dmStatistic)
            dmStatistic->CloseAllData();
    } catch (const std::exception& e) {
        MessageBoxes::error(this, exceptionText(e));
    }
    m_storage->save();
}

void TfmGSMStat::done(int result) {
    if (!m_closed) {
        m_closed = true;
        FormClose();
    }
    QDialog::done(result);
}

bool TfmGSMStat::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && watched == pnButtons)
        pnButtonsResize();
    return QDialog::eventFilter(watched, event);
}

void TfmGSMStat::NavigBtnClick(QObject* sender) {
    if (auto* button = qobject_cast<QToolButton*>(sender))
        m_pager->Navigate(button->objectName());
}

void TfmGSMStat::TrackBar1Change() {
    m_pager->PageBarChanged(TrackBar1->value());
}

void TfmGSMStat::ResizeBtnClick(QObject* sender) {
    if (auto* button = qobject_cast<QToolButton*>(sender))
        m_pager->Resize(button->objectName());
}

void TfmGSMStat::SpinEdit1Change() {
    m_pager->PointsPerPageChanged(SpinEdit1->value());
}

void TfmGSMStat::chbShowLabelsClick() {
    m_pager->ShowLabels(chbShowLabels->isChecked());
}

void TfmGSMStat::pnButtonsResize() {
    const auto places = NavigButtonPlaces(pnButtons->width(), pnButtons->x());
    const QList<QToolButton*> buttons{sbtBegin, sbtBack, sbtForward, sbtEnd};
    for (int i = 0; i < buttons.size(); ++i)
        buttons[i]->setGeometry(places[size_t(i)].left, 0, places[size_t(i)].width,
                                pnButtons->height());
}

void TfmGSMStat::Chart1ClickSeries(int seriesIndex, int pointIndex) {
    ShowChartPointValue(this, *m_chart, seriesIndex, pointIndex);
}

std::unique_ptr<QDialog> CreateFuelStatistics(QWidget* applicationWindow) {
    auto window = std::make_unique<TfmGSMStat>(applicationWindow);
    fmGSMStat = window.get();
    window->setWindowModality(Qt::ApplicationModal);
    return window;
}
