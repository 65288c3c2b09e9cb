#include "windows/GoodsList.h"

#include "platform/data/ClientDataSet.h"
#include "platform/settings/Registry.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>

QPointer<TfmGoodsList> fmGoodsList;

namespace {

const QString kSelectAll = QStringLiteral("Выбрать все");
const QString kDeselectAll = QStringLiteral("Сбросить все");
const QString kPlacementName = QStringLiteral("Placement");

// Draws a category node of goods mode as its counter; selected, white on gray.
class TCounterDelegate : public QStyledItemDelegate {
public:
    explicit TCounterDelegate(TfmGoodsList* window)
        : QStyledItemDelegate(window)
        , m_window(window) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (m_window->CategoryMode() || index.parent().isValid() ||
            !index.model()->hasChildren(index)) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem counter = option;
        initStyleOption(&counter, index);
        const QPair<int, int> picked =
            m_window->CategoryCounter(m_window->TreeView1->topLevelItem(index.row()));
        counter.text = CategoryCounterText(counter.text, picked.first, picked.second);
        counter.palette.setColor(QPalette::Highlight, QColor(128, 128, 128));
        counter.palette.setColor(QPalette::HighlightedText, Qt::white);
        const QWidget* view = option.widget;
        QStyle* style = view ? view->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &counter, painter, view);
    }

private:
    TfmGoodsList* m_window;
};

QTreeWidgetItem* node(const QString& text, qint32 id, bool checked) {
    auto* item = new QTreeWidgetItem(QStringList{text});
    item->setData(0, TfmGoodsList::IdRole, id);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    return item;
}

qint32 nodeId(const QTreeWidgetItem* node) {
    return node->data(0, TfmGoodsList::IdRole).toInt();
}

} // namespace

QString CategoryCounterText(const QString& name, int picked, int total) {
    return QStringLiteral("%1 (%2/%3)").arg(name, QString::number(picked), QString::number(total));
}

QString GoodsCountText(int count) {
    return QStringLiteral("Выбрано %1 категорий/товаров").arg(count);
}

TfmGoodsList::TfmGoodsList(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("fmGoodsList"));
    setWindowTitle(QStringLiteral("Список категорий/товаров"));
    QFont windowFont = font();
    windowFont.setPointSize(8);
    setFont(windowFont);
    setMinimumSize(419, 463);
    resize(419, 463);

    TreeView1 = new QTreeWidget(this);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setHeaderHidden(true);
    TreeView1->setIndentation(19);
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView1->setUniformRowHeights(true);
    TreeView1->setItemDelegate(new TCounterDelegate(this));
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->installEventFilter(this);
    Splitter1 = new QSplitter(Qt::Vertical, this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->addWidget(TreeView1);
    Splitter1->addWidget(ListBox1);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setSizes({463 - 119 - 60, 119});

    lbCount = new QLabel(QStringLiteral("Выбрано категорий/товаров"), this);
    lbCount->setObjectName(QStringLiteral("lbCount"));
    QFont countFont = lbCount->font();
    countFont.setPointSize(9);
    lbCount->setFont(countFont);
    QPalette blue = lbCount->palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    lbCount->setPalette(blue);

    bbtOK = new QPushButton(QStringLiteral("OK"), this);
    bbtOK->setObjectName(QStringLiteral("bbtOK"));
    bbtOK->setDefault(true);
    bbtCancel = new QPushButton(QStringLiteral("Отмена"), this);
    bbtCancel->setObjectName(QStringLiteral("bbtCancel"));
    bbtSelectAll = new QPushButton(kSelectAll, this);
    bbtSelectAll->setObjectName(QStringLiteral("bbtSelectAll"));
    bbtSelectAll->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(bbtSelectAll);
    buttons->addStretch();
    buttons->addWidget(bbtOK);
    buttons->addWidget(bbtCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(Splitter1, 1);
    layout->addWidget(lbCount);
    layout->addLayout(buttons);

    connect(bbtOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(bbtCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(bbtSelectAll, &QPushButton::clicked, this, [this] { bbtSelectAllClick(); });
    connect(TreeView1, &QTreeWidget::itemChanged, this,
            [this](QTreeWidgetItem* item) { TreeView1NodeChecked(item); });

    restoreGeometry(TRegistry().readValue(objectName(), kPlacementName).toByteArray());
}

TfmGoodsList::~TfmGoodsList() = default;

void TfmGoodsList::Load(bool byCategory, const TQueryItems& items, TClientDataSet& categories,
                        TClientDataSet& goods) {
    const QSignalBlocker quiet(TreeView1);
    m_selectedIds.clear();
    m_picked.clear();
    ListBox1->clear();
    QSet<QString> pickedNames;
    QStringList names;
    for (const TQueryItem& item : items) {
        names << item.Name;
        m_selectedIds.append(item.Id);
        ++m_picked[item.Id];
        pickedNames.insert(item.Name);
    }
    ListBox1->addItems(names);

    TreeView1->clear();
    m_goodsNames.Clear();
    m_categoryMode = byCategory;
    // The goods of every category, in the data set's order: one walk over the goods instead of
    // one filtered walk per category, which a catalogue of thousands of goods would feel.
    QHash<qint32, TNamedIdList> goodsOf;
    if (!byCategory) {
        goods.setFiltered(false);
        goods.open();
        const TField& goodsCategory = goods.fieldByName(QStringLiteral("ID_Category"));
        const TField& goodsId = goods.fieldByName(QStringLiteral("ID_Goods"));
        const TField& goodsName = goods.fieldByName(QStringLiteral("Name"));
        for (goods.first(); !goods.eof(); goods.next())
            goodsOf[goodsCategory.asInteger()].append({goodsName.asString(), goodsId.asInteger()});
    }
    // The nodes are made apart and handed to the tree at once: one insertion instead of one per
    // node.
    QList<QTreeWidgetItem*> nodes;
    const auto dropOnError = qScopeGuard([&nodes] { qDeleteAll(nodes); });
    categories.open();
    const TField& categoryId = categories.fieldByName(QStringLiteral("ID_Category"));
    const TField& categoryName = categories.fieldByName(QStringLiteral("Name"));
    for (categories.first(); !categories.eof(); categories.next()) {
        const QString name = categoryName.asString();
        if (name.isEmpty())
            continue;
        const qint32 id = categoryId.asInteger();
        const int c = m_goodsNames.AddCategory(id, name);
        const QString text = m_goodsNames.Names()[c].Name;
        QTreeWidgetItem* category = node(text, id, byCategory && pickedNames.contains(text));
        nodes.append(category);
        QList<QTreeWidgetItem*> children;
        for (const TNamedId& article : goodsOf.value(id)) {
            if (article.Name.isEmpty())
                continue;
            const int g = m_goodsNames.AddGoods(c, article.Id, article.Name);
            const TNamedId& entry = m_goodsNames.GetGoodsList(c)[g];
            children.append(node(entry.Name, entry.Id, pickedNames.contains(entry.Name)));
        }
        category->addChildren(children);
    }
    TreeView1->addTopLevelItems(nodes);
    nodes.clear();

    bbtSelectAll->setVisible(byCategory);
    bbtSelectAll->setText(kSelectAll);
    refreshCount();
}

TQueryItems TfmGoodsList::Selection() const {
    TQueryItems items;
    items.reserve(m_selectedIds.size());
    for (int i = 0; i < m_selectedIds.size(); ++i)
        items.append({ListBox1->item(i)->text(), m_selectedIds[i]});
    return items;
}

void TfmGoodsList::UpdateSelection(const QString& name, bool checked, qint32 id) {
    if (name.isEmpty()) {
        refreshCount();
        return;
    }
    if (checked) {
        if (!m_picked.contains(id)) {
            ListBox1->addItem(name);
            m_selectedIds.append(id);
            m_picked.insert(id, 1);
        }
    } else {
        const int index = int(m_selectedIds.indexOf(id));
        if (index >= 0)
            removePicked(index);
    }
    refreshCount();
}

void TfmGoodsList::ToggleNode(QTreeWidgetItem* node, bool checked) {
    setChecked(node, checked);
    if (!m_categoryMode && !node->parent()) {
        // UpdateSelection for each of the goods in turn, with the new names handed to the list
        // at once: a category may hold a thousand goods.
        QStringList added;
        for (int i = 0; i < node->childCount(); ++i) {
            QTreeWidgetItem* child = node->child(i);
            setChecked(child, checked);
            const QString name = child->text(0);
            const qint32 id = nodeId(child);
            if (!checked)
                UpdateSelection(name, false, id);
            else if (!name.isEmpty() && !m_picked.contains(id)) {
                added << name;
                m_selectedIds.append(id);
                m_picked.insert(id, 1);
            }
        }
        ListBox1->addItems(added);
        refreshCount();
        return;
    }
    UpdateSelection(node->text(0), checked, nodeId(node));
}

void TfmGoodsList::TreeView1NodeChecked(QTreeWidgetItem* node) {
    if (m_applying)
        return;
    ToggleNode(node, node->checkState(0) == Qt::Checked);
    // The category's counter changes with its goods.
    if (QTreeWidgetItem* parent = node->parent())
        TreeView1->viewport()->update(TreeView1->visualItemRect(parent));
}

void TfmGoodsList::ListBox1KeyDown(int key) {
    const int index = ListBox1->currentRow();
    if (key != Qt::Key_Delete || index < 0 || !ListBox1->item(index)->isSelected())
        return;
    const QString name = ListBox1->item(index)->text();
    QTreeWidgetItem* found = nullptr;
    for (int c = 0; c < TreeView1->topLevelItemCount() && !found; ++c) {
        QTreeWidgetItem* category = TreeView1->topLevelItem(c);
        if (category->text(0) == name) {
            found = category;
            break;
        }
        for (int g = 0; g < category->childCount(); ++g)
            if (category->child(g)->text(0) == name) {
                found = category->child(g);
                break;
            }
    }
    if (found) {
        setChecked(found, false);
        if (found->parent())
            TreeView1->viewport()->update(TreeView1->visualItemRect(found->parent()));
    }
    removePicked(index);
    if (ListBox1->count() > 0) {
        const int next = qMin(index, ListBox1->count() - 1);
        ListBox1->setCurrentRow(next);
        ListBox1->item(next)->setSelected(true);
    }
    refreshCount();
}

void TfmGoodsList::bbtSelectAllClick() {
    const bool selectAll = bbtSelectAll->text() == kSelectAll;
    for (int c = 0; c < TreeView1->topLevelItemCount(); ++c) {
        QTreeWidgetItem* category = TreeView1->topLevelItem(c);
        ToggleNode(category, selectAll);
        for (int g = 0; g < category->childCount(); ++g)
            ToggleNode(category->child(g), selectAll);
    }
    bbtSelectAll->setText(selectAll ? kDeselectAll : kSelectAll);
}

QPair<int, int> TfmGoodsList::CategoryCounter(const QTreeWidgetItem* node) const {
    const int c = m_goodsNames.IndexOfCategory(nodeId(node));
    if (c < 0)
        return {0, 0};
    const TNamedIdList& goods = m_goodsNames.GetGoodsList(c);
    int picked = 0;
    for (const TNamedId& entry : goods)
        picked += m_picked.contains(entry.Id) ? 1 : 0;
    return {picked, int(goods.size())};
}

void TfmGoodsList::done(int result) {
    TRegistry().writeValue(objectName(), kPlacementName, saveGeometry());
    QDialog::done(result);
}

bool TfmGoodsList::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListBox1 && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        ListBox1KeyDown(Qt::Key_Delete);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfmGoodsList::setChecked(QTreeWidgetItem* node, bool checked) {
    const bool applying = m_applying;
    m_applying = true;
    node->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    m_applying = applying;
}

void TfmGoodsList::removePicked(int index) {
    const qint32 id = m_selectedIds.takeAt(index);
    if (--m_picked[id] <= 0)
        m_picked.remove(id);
    delete ListBox1->takeItem(index);
}

void TfmGoodsList::refreshCount() {
    lbCount->setText(GoodsCountText(ListBox1->count()));
}

bool SelectGoods(bool byCategory, TQueryItems& items, TClientDataSet& categories,
                 TClientDataSet& goods, QWidget* parent) {
    try {
        if (!fmGoodsList)
            fmGoodsList = new TfmGoodsList(parent);
        // Made for one use: freed whatever the outcome, with the names behind its tree.
        const std::unique_ptr<TfmGoodsList> window(fmGoodsList.data());
        {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            const auto normal = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
            window->Load(byCategory, items, categories, goods);
        }
        if (window->exec() != QDialog::Accepted)
            return false;
        items = window->Selection();
        return true;
    } catch (...) {
        return false;
    }
}
