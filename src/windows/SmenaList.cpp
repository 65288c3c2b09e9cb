#include "windows/SmenaList.h"

#include "platform/core/Exceptions.h"
#include "platform/data/DataSetModel.h"
#include "platform/ui/WindowPlacement.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

QPointer<TSmenaListFrm> SmenaListFrm;

namespace {

const QString kPlacementName = QStringLiteral("SmenaListFrm");
constexpr int kExpandedHelpHeight = 170;

// Paints the number cells of shifts with a gap below them red; every other cell as usual.
class TSmenaNumberDelegate : public QStyledItemDelegate {
public:
    TSmenaNumberDelegate(TClientDataSet* clone, QObject* parent)
        : QStyledItemDelegate(parent)
        , m_clone(clone) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (index.column() != 0 || !m_clone->active()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        bool red = false;
        try {
            red = SmenaNumberHasGap(*m_clone, index.data(Qt::EditRole).toInt());
        } catch (const std::exception&) {
            // A cell that cannot be judged is drawn plain; painting must never throw.
        }
        if (!red) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        // Red also on a selected row: the warning matters more than the selection colour.
        QStyleOptionViewItem plain = option;
        plain.state &= ~QStyle::State_Selected;
        plain.backgroundBrush = QColor(255, 0, 0);
        painter->fillRect(option.rect, QColor(255, 0, 0));
        QStyledItemDelegate::paint(painter, plain, index);
    }

private:
    TClientDataSet* m_clone;
};

TSmenaRow currentRow(TClientDataSet& set) {
    return {set.fieldByName(QStringLiteral("SmNum")).asInteger(),
            set.fieldByName(QStringLiteral("BegTime")).asDateTime(),
            set.fieldByName(QStringLiteral("EndTime")).asDateTime()};
}

} // namespace

const QStringList& SmenaHelpLines() {
    static const QStringList lines{
        QStringLiteral("Вы можете выбрать одну или несколько закрытых смен. "),
        QStringLiteral("Если смена открыта, то вы можете выбрать текущую смену."),
        QStringLiteral("Для выбора одной закрытой смены щелкните мышкой на"),
        QStringLiteral("строке с номером смены и нажмите кнопку \"Выбор\". "),
        QStringLiteral("Для выбора нескольких смен щелкните мышкой на строке"),
        QStringLiteral("с номером начальной смены, нажмите и удерживайте нажатой"),
        QStringLiteral("кнопку [Shift] и выделите еще несколько смен с помощью кнопок"),
        QStringLiteral("[Вверх] и [Вниз], после чего нажмите кнопку \"Выбор\". "),
        QStringLiteral("Для выбора большого диапазона смен щелкните"),
        QStringLiteral("мышкой на начальной смене, затем с помощью вертикальной полосы"),
        QStringLiteral("прокрутки (находится справа) промотайте список смен так, чтобы"),
        QStringLiteral("искомая смена оказалась видна на экране, затем нажмите и"),
        QStringLiteral("удерживайте нажатой кнопку [Ctrl] и щелкните один раз мышкой на найденной"),
        QStringLiteral("смене, после чего нажмите кнопку \"Выбор\". "),
        QStringLiteral("Для быстрого поиска по номеру смены щелкните"),
        QStringLiteral("мышкой на любой смене и введите на клавиатуре номер смены."),
        QStringLiteral("Если в списке смен номер закрашен красным цветом, значит нумерация"),
        QStringLiteral("смен нарушена (есть пропуски смен)."),
    };
    return lines;
}

bool SmenaNumberHasGap(TClientDataSet& clone, int number) {
    if (!clone.locate(QStringLiteral("SmNum"), number))
        return false;
    clone.next();
    const int below = clone.fieldByName(QStringLiteral("SmNum")).asInteger();
    return std::abs(qint64(below) - number) - 1 > 0;
}

TSmenaRange SmenaRangeOf(const TSmenaRow& first, const TSmenaRow& last) {
    TSmenaRange range;
    range.SmFrom = std::min(first.SmNum, last.SmNum);
    range.SmTo = std::max(first.SmNum, last.SmNum);
    std::optional<TDateTime> from, to;
    for (const TDateTime moment : {first.BegTime, first.EndTime, last.EndTime, last.BegTime}) {
        if (moment == 0)
            continue;
        from = from ? std::min(*from, moment) : moment;
        to = to ? std::max(*to, moment) : moment;
    }
    range.PeriodFrom = from.value_or(0);
    range.PeriodTo = to.value_or(0);
    return range;
}

TSmenaListFrm::TSmenaListFrm(QWidget* parent)
    : QDialog(parent)
    , m_clone(QStringLiteral("cdsClone")) {
    setObjectName(QStringLiteral("SmenaListFrm"));
    setWindowTitle(QStringLiteral("Выберите смену"));
    resize(562, 526);

    panSelectSmenaInfo = new QFrame(this);
    panSelectSmenaInfo->setObjectName(QStringLiteral("panSelectSmenaInfo"));
    CheckBox1 = new QCheckBox(QStringLiteral("Как выбрать смену..."), panSelectSmenaInfo);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    QFont helpFont = CheckBox1->font();
    helpFont.setPointSize(10);
    helpFont.setBold(true);
    CheckBox1->setFont(helpFont);
    QPalette helpPalette = CheckBox1->palette();
    helpPalette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    CheckBox1->setPalette(helpPalette);
    CheckBox1->setCursor(Qt::PointingHandCursor);
    Memo1 = new QPlainTextEdit(panSelectSmenaInfo);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette memoPalette = Memo1->palette();
    memoPalette.setColor(QPalette::Base, memoPalette.color(QPalette::ToolTipBase));
    memoPalette.setColor(QPalette::Text, memoPalette.color(QPalette::ToolTipText));
    Memo1->setPalette(memoPalette);
    // The lines are kept for reading the source; on screen they make one wrapped paragraph.
    Memo1->setPlainText(
        SmenaHelpLines().join(QLatin1Char('\n')).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    auto* helpLayout = new QVBoxLayout(panSelectSmenaInfo);
    helpLayout->setContentsMargins(0, 0, 0, 0);
    helpLayout->setSpacing(0);
    helpLayout->addWidget(CheckBox1);
    helpLayout->addWidget(Memo1);
    helpLayout->addStretch();

    Panel3 = new QFrame(this);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFixedHeight(64);
    lbAuto = new QLabel(QStringLiteral("Авто:"), Panel3);
    lbAuto->setObjectName(QStringLiteral("lbAuto"));
    cbAuto = new QComboBox(Panel3);
    cbAuto->setObjectName(QStringLiteral("cbAuto"));
    lbCardNum = new QLabel(QStringLiteral("Номер карты (Ctrl + W):"), Panel3);
    lbCardNum->setObjectName(QStringLiteral("lbCardNum"));
    edSimpleText = new QLineEdit(Panel3);
    edSimpleText->setObjectName(QStringLiteral("edSimpleText"));
    edSimpleText->setMaxLength(255);
    edSimpleText->setToolTip(
        QStringLiteral("В качестве символов подстановки используйте звездочку { * }\n"
                       "(она может заменить последовательность из нескольких символов)\n"
                       "и символ подчеркивания { _ } (он может заменить любой символ)"));
    cbCheckBox = new QCheckBox(QStringLiteral("Данные по товарам"), Panel3);
    cbCheckBox->setObjectName(QStringLiteral("cbCheckBox"));
    auto* panel3Layout = new QHBoxLayout(Panel3);
    for (QWidget* w :
         std::initializer_list<QWidget*>{lbAuto, cbAuto, lbCardNum, edSimpleText, cbCheckBox}) {
        panel3Layout->addWidget(w);
        w->hide();
    }
    Panel3->hide();

    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setShowGrid(true);
    DBGrid1->setTabKeyNavigation(false);
    DBGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    DBGrid1->horizontalHeader()->setDefaultSectionSize(125);
    DBGrid1->verticalHeader()->setDefaultSectionSize(DBGrid1->fontMetrics().height() + 6);
    DBGrid1->verticalHeader()->setMinimumWidth(14);
    DBGrid1->installEventFilter(this);
    // The grid's own double-click signal only comes for a row; the list takes one anywhere
    // on the grid, below the rows too.
    DBGrid1->viewport()->installEventFilter(this);

    BitBtn1 = new QPushButton(QStringLiteral("Выбор"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    BitBtn2 = new QPushButton(QStringLiteral("Отмена"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setAutoDefault(false);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    CurBtn = new QPushButton(QStringLiteral("Текущая (F4)"), this);
    CurBtn->setObjectName(QStringLiteral("CurBtn"));
    CurBtn->setAutoDefault(false);
    CurBtn->hide();
    connect(CurBtn, &QPushButton::clicked, this, [this] { done(CurrentShiftResult); });
    PropBtn = new QPushButton(QStringLiteral("Свойства"), this);
    PropBtn->setObjectName(QStringLiteral("PropBtn"));
    PropBtn->setAutoDefault(false);
    PropBtn->hide();

    CurSmena = new QAction(this);
    CurSmena->setObjectName(QStringLiteral("CurSmena"));
    CurSmena->setShortcut(QKeySequence(Qt::Key_F4));
    connect(CurSmena, &QAction::triggered, this, [this] { CurSmenaExecute(); });
    actFocusSimpleText = new QAction(this);
    actFocusSimpleText->setObjectName(QStringLiteral("actFocusSimpleText"));
    actFocusSimpleText->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    connect(actFocusSimpleText, &QAction::triggered, this, [this] { actFocusSimpleTextExecute(); });
    // Insert sets a bookmark in the suite's other lists; here it is taken and does nothing.
    SetBookmark = new QAction(this);
    SetBookmark->setObjectName(QStringLiteral("SetBookmark"));
    SetBookmark->setShortcut(QKeySequence(Qt::Key_Insert));
    addActions({CurSmena, actFocusSimpleText, SetBookmark});

    tmSearchTimer = new QTimer(this);
    tmSearchTimer->setObjectName(QStringLiteral("tmSearchTimer"));
    tmSearchTimer->setInterval(1000);
    connect(tmSearchTimer, &QTimer::timeout, this, [this] { tmSearchTimerTimer(); });
    tmBringToFront = new QTimer(this);
    tmBringToFront->setObjectName(QStringLiteral("tmBringToFront"));
    tmBringToFront->setInterval(500);
    connect(tmBringToFront, &QTimer::timeout, this, [this] { tmBringToFrontTimer(); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(CurBtn);
    buttons->addWidget(PropBtn);
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 6);
    layout->setSpacing(4);
    layout->addWidget(panSelectSmenaInfo);
    layout->addWidget(Panel3);
    layout->addWidget(DBGrid1, 1);
    layout->addLayout(buttons);

    connect(CheckBox1, &QCheckBox::clicked, this, [this] { CheckBox1Click(); });
    CheckBox1Click();
    restorePlacement();
}

TSmenaListFrm::~TSmenaListFrm() = default;

void TSmenaListFrm::CheckBox1Click() {
    if (CheckBox1->isChecked()) {
        panSelectSmenaInfo->setFixedHeight(kExpandedHelpHeight);
        Memo1->setFixedHeight(kExpandedHelpHeight - 25);
        Memo1->show();
    } else {
        // Collapsed, only the check box line shows; at least 15 pixels, and never less than the
        // check box needs, so its caption is not cut off with larger fonts.
        panSelectSmenaInfo->setFixedHeight(qMax(15, CheckBox1->sizeHint().height()));
        Memo1->hide();
    }
    DBGrid1->setFocus();
}

void TSmenaListFrm::DBGrid1DblClick() {
    const QAbstractItemModel* model = DBGrid1->model();
    if (model && model->rowCount() > 0)
        accept();
}

void TSmenaListFrm::tmSearchTimerTimer() {
    tmSearchTimer->stop();
    const QString text = m_searchText;
    m_searchText.clear();
    auto* source = qobject_cast<TDataSetModel*>(DBGrid1->model());
    if (!source || !source->dataSet())
        return;
    TClientDataSet* set = source->dataSet();
    try {
        if (!set->locate(QStringLiteral("SmNum"), text, TClientDataSet::LocatePartialKey))
            return;
        const QModelIndex found = source->index(set->recNo() - 1, 0);
        DBGrid1->selectionModel()->setCurrentIndex(found, QItemSelectionModel::ClearAndSelect |
                                                              QItemSelectionModel::Rows);
        DBGrid1->scrollTo(found);
    } catch (const std::exception&) {
        // A number that cannot be looked up leaves the list where it was.
    }
}

void TSmenaListFrm::tmBringToFrontTimer() {
    tmBringToFront->stop();
    raise();
    activateWindow();
}

void TSmenaListFrm::CurSmenaExecute() {
    if (CurBtn->isVisible() && CurBtn->isEnabled())
        done(CurrentShiftResult);
}

void TSmenaListFrm::actFocusSimpleTextExecute() {
    if (edSimpleText->isVisible())
        edSimpleText->setFocus();
}

bool TSmenaListFrm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == DBGrid1->viewport() && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        DBGrid1DblClick();
        return false;
    }
    if (watched == DBGrid1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        if (plain && text.size() == 1 && text.at(0) >= QLatin1Char('0') &&
            text.at(0) <= QLatin1Char('9')) {
            // The search runs a second after the last digit, so a number can be typed whole.
            tmSearchTimer->stop();
            tmSearchTimer->start();
            m_searchText += text;
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TSmenaListFrm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    DBGrid1->setFocus();
    tmBringToFront->start();
}

void TSmenaListFrm::done(int result) {
    savePlacement();
    QDialog::done(result);
}

void TSmenaListFrm::restorePlacement() {
    if (WindowPlacement::restore(this, kPlacementName, QSize(200, 150)))
        return;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen && !screen->availableGeometry().isEmpty())
        move(screen->availableGeometry().center() - rect().center());
}

void TSmenaListFrm::savePlacement() {
    WindowPlacement::save(this, kPlacementName);
}

bool SelectSmena(int& SmFrom, int& SmTo, TDateTime& PeriodFrom, TDateTime& PeriodTo,
                 TClientDataSet* dataSet, TDataSetModel* dataSource) {
    TSmenaListFrm* form = SmenaListFrm;
    if (!form)
        throw Exception(QStringLiteral("Окно выбора смены не создано"));
    TClientDataSet& clone = form->cloneCursor();
    // Whatever happens while the list is shown or read, it is unhooked from the data again.
    struct Unhook {
        QPointer<TSmenaListFrm> form;
        QPointer<QAbstractItemDelegate> drawing;
        ~Unhook() {
            delete drawing;
            // The clone belongs to the window: gone with it if the window went while shown.
            if (form) {
                form->DBGrid1->setItemDelegate(nullptr);
                form->DBGrid1->setModel(nullptr);
                form->cloneCursor().close();
            }
        }
    } unhook{form, nullptr};

    form->DBGrid1->setModel(dataSource);
    form->DBGrid1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    form->DBGrid1->resizeColumnsToContents();
    if (dataSource && dataSource->dataSet() && dataSource->dataSet()->active())
        clone.cloneCursor(*dataSource->dataSet(), true);
    unhook.drawing = new TSmenaNumberDelegate(&clone, form->DBGrid1);
    form->DBGrid1->setItemDelegate(unhook.drawing);
    if (dataSource && dataSource->rowCount() > 0) {
        const QModelIndex top = dataSource->index(0, 0);
        form->DBGrid1->selectionModel()->setCurrentIndex(top, QItemSelectionModel::ClearAndSelect |
                                                                  QItemSelectionModel::Rows);
    }

    const QPointer<TSmenaListFrm> guard(form);
    const int result = form->exec();
    if (!guard)
        return false;
    const bool success = result == QDialog::Accepted || result == TSmenaListFrm::CurrentShiftResult;
    if (result != QDialog::Accepted)
        return success;
    if (!dataSet || !dataSet->active() || dataSet->isEmpty())
        return false;

    QList<int> rows;
    for (const QModelIndex& index : form->DBGrid1->selectionModel()->selectedRows())
        rows << index.row();
    // The grid keeps its selection in the order of the clicks; the range wants list order.
    std::sort(rows.begin(), rows.end());
    TSmenaRange range;
    if (rows.size() < 2) {
        const QModelIndex current = form->DBGrid1->currentIndex();
        dataSet->setRecNo(current.isValid() ? current.row() + 1 : 1);
        const TSmenaRow row = currentRow(*dataSet);
        range = {row.SmNum, row.SmNum, row.BegTime, row.EndTime};
    } else {
        dataSet->setRecNo(rows.first() + 1);
        const TSmenaRow first = currentRow(*dataSet);
        dataSet->setRecNo(rows.last() + 1);
        const TSmenaRow last = currentRow(*dataSet);
        range = SmenaRangeOf(first, last);
    }
    SmFrom = range.SmFrom;
    SmTo = range.SmTo;
    PeriodFrom = range.PeriodFrom;
    PeriodTo = range.PeriodTo;
    return success;
}
