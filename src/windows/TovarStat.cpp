#include "windows/TovarStat.h"

#include "extraction/FoodExtractor.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "platform/ui/MessageBoxes.h"
#include "plugin/DmStatistic.h"
#include "windows/GoodsList.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

using namespace StatControls;

namespace {

TStatWindow::TLook goodsLook() {
    TStatWindow::TLook look;
    look.formName = QStringLiteral("fmTovarStat");
    look.caption = QStringLiteral("Статистика по товарам");
    look.schemaCaptionName = QStringLiteral("Label5");
    // The smallest window is 926 x 682 with the frame.
    look.clientSize = QSize(918, 648);
    look.schemas = goodsSchemas();
    look.stepGroupName = QStringLiteral("gbLiter");
    look.multiGraphCaption = QStringLiteral("разбить по видам товаров");
    look.leftAxisTitle = QStringLiteral("Продажа");
    look.reportTitle = QStringLiteral("Отчет по товарам");
    // Beyond the frame's own: nothing. The scheme, the mode and the item list start afresh.
    return look;
}

} // namespace

TfmTovarStat::TfmTovarStat(TdmStatistic& dm, QWidget* parent)
    : TStatWindow(dm, parent, goodsLook()) {
    buildControls();
    finishCreation({gbTovar});
    for (QRadioButton* mode : {rbtCateg, rbtGoodsName})
        connect(mode, &QRadioButton::toggled, this, [this](bool checked) {
            if (checked)
                rbtCategClick();
        });
    connect(bbtChoose, &QPushButton::clicked, this, [this] { bbtChooseClick(); });
}

void TfmTovarStat::buildControls() {
    Label5 = schemaCaption();
    gbTovar = groupBox(Panel1, "gbTovar", QStringLiteral("Товары"));
    rbtCateg = named(new QRadioButton(QStringLiteral("по категориям"), gbTovar), "rbtCateg");
    rbtCateg->setChecked(true);
    rbtGoodsName =
        named(new QRadioButton(QStringLiteral("по наименованиям"), gbTovar), "rbtGoodsName");
    clbTovarList = named(new QListWidget(gbTovar), "clbTovarList");
    bbtChoose = named(new QPushButton(QStringLiteral("Выбрать"), gbTovar), "bbtChoose");
    bbtChoose->setAutoDefault(false);
    setGroupLayout(gbTovar, {rbtCateg, rbtGoodsName, clbTovarList, bbtChoose, chbMultiGraph}, 2);

    for (QLabel* caption : {Label7, Label8, RecordCountLabel, MaxValueLabel}) {
        QFont bold = caption->font();
        bold.setBold(true);
        caption->setFont(bold);
        QPalette palette = caption->palette();
        palette.setColor(QPalette::WindowText, caption == Label7 || caption == Label8
                                                   ? QColor(128, 0, 128)
                                                   : QColor(128, 0, 0));
        caption->setPalette(palette);
    }
}

void TfmTovarStat::FormShow() {
    TdmStatistic& dm = DataModule();
    setWindowTitle(QStringLiteral("Статистика по товарам [База: %1]").arg(dm.GoodsDbPath));
    setExtractor(std::make_unique<TFoodExtractor>(0, fromQDateTime(dtpDateFrom->dateTime()),
                                                  fromQDateTime(dtpDateTo->dateTime()), 0,
                                                  &dm.cdsTovarStat, Chart(), this, TrackBar1));
    clearResults();
    rbtCateg->setChecked(true);
    clbTovarList->clear();
    try {
        const TStatConnectionUse use(dm, {&dm.cdsCategory});
        fillCategories();
    } catch (const std::exception& e) {
        // Without categories there is nothing to build: the window stays, empty, and says why.
        m_goodsItems.clear();
        clbTovarList->clear();
        MessageBoxes::error(this, ExceptionMessage(e));
    }
}

void TfmTovarStat::fillCategories() {
    TdmStatistic& dm = DataModule();
    TClientDataSet& categories = dm.cdsCategory;
    categories.close();
    dm.cdsGoods.close();
    dm.cdsTovarStat.close();
    m_goodsItems.clear();
    categories.setFiltered(false);
    categories.open();
    const TField& id = categories.fieldByName(QStringLiteral("ID_Category"));
    const TField& name = categories.fieldByName(QStringLiteral("Name"));
    // Every category row, one without a name too: the list shows what the station has.
    for (categories.first(); !categories.eof(); categories.next())
        m_goodsItems.append({name.asString(), id.asInteger()});
    listItems();
}

void TfmTovarStat::listItems() {
    clbTovarList->clear();
    for (const TQueryItem& item : m_goodsItems) {
        auto* line = new QListWidgetItem(item.Name, clbTovarList);
        line->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        line->setCheckState(Qt::Checked);
    }
}

void TfmTovarStat::rbtCategClick() {
    // Switching the mode puts the list aside; switching back brings it again, all checked.
    if (clbTovarList->count() > 0)
        clbTovarList->clear();
    else
        listItems();
}

void TfmTovarStat::bbtChooseClick() {
    TdmStatistic& dm = DataModule();
    const TStatConnectionUse use(dm);
    try {
        TQueryItems selection;
        for (int i = 0; i < clbTovarList->count() && i < m_goodsItems.size(); ++i)
            if (clbTovarList->item(i)->checkState() == Qt::Checked)
                selection.append(m_goodsItems[i]);
        if (SelectGoods(rbtCateg->isChecked(), selection, dm.cdsCategory, dm.cdsGoods, this)) {
            m_goodsItems = selection;
            listItems();
        }
    } catch (const std::exception&) {
        // The selection stays as it was; the selector says nothing of its own failures either.
    }
}

void TfmTovarStat::bbtGoClick() {
    if (!periodChecked())
        return;
    try {
        TQueryItems items;
        for (int i = 0; i < clbTovarList->count() && i < m_goodsItems.size(); ++i) {
            const QListWidgetItem* line = clbTovarList->item(i);
            if (line->checkState() == Qt::Checked)
                items.append({line->text(), m_goodsItems[i].Id});
        }
        if (items.isEmpty() || !Extractor()) {
            MessageBoxes::show(this, QStringLiteral("Ошибка"),
                               QStringLiteral("Не выбран товар/категория!"),
                               MessageBoxes::Icon::Warning);
            return;
        }
        if (items.size() > MaxSplitItems && chbMultiGraph->isChecked()) {
            MessageBoxes::information(
                this, QStringLiteral("Максимально допустимое кол-во товаров/категорий для "
                                     "анализа - %1!")
                          .arg(MaxSplitItems));
            return;
        }
        Extractor()->SetByCategory(rbtCateg->isChecked());
        startRun(items, false);
    } catch (const std::exception& e) {
        MessageBoxes::error(this, ExceptionMessage(e));
    }
}

TFoodExtractor* TfmTovarStat::Extractor() const {
    return extractorAs<TFoodExtractor>();
}

std::unique_ptr<QDialog> CreateGoodsStatistics(QWidget* applicationWindow, TdmStatistic& dm) {
    auto window = std::make_unique<TfmTovarStat>(dm, applicationWindow);
    window->setWindowModality(Qt::ApplicationModal);
    return window;
}
