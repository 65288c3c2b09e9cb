#pragma once

#include "extraction/QueryItems.h"
#include "windows/GoodsNames.h"

#include <QDialog>
#include <QHash>
#include <QPointer>
#include <QSet>

class QLabel;
class QListWidget;
class QPushButton;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;
class TClientDataSet;

// The counter a category node shows in goods mode: "Напитки (3/12)".
QString CategoryCounterText(const QString& name, int picked, int total);
// The count label: "Выбрано 5 категорий/товаров".
QString GoodsCountText(int count);

// TfmGoodsList: the selector of categories or goods ("Список категорий/товаров"). A tree with a
// check box on every node, and below it the names picked so far, in the order they were picked.
// In goods mode each category carries its goods; checking it picks all of them, never itself.
class TfmGoodsList : public QDialog {
    Q_OBJECT

public:
    // Identifiers and category indexes of the tree's nodes.
    static constexpr int IdRole = Qt::UserRole;

    explicit TfmGoodsList(QWidget* parent = nullptr);
    ~TfmGoodsList() override;

    QTreeWidget* TreeView1;
    QSplitter* Splitter1;
    QListWidget* ListBox1;
    QLabel* lbCount;
    QPushButton* bbtOK;
    QPushButton* bbtCancel;
    QPushButton* bbtSelectAll;

    const TGoodsNamesClass& GoodsNames() const { return m_goodsNames; }
    // Parallel to ListBox1: entry i is the identifier of the name in line i.
    const QList<qint32>& SelectedIds() const { return m_selectedIds; }
    bool CategoryMode() const { return m_categoryMode; }

    // Fills the picked list from `items` and the tree from the two data sets, each category with
    // its goods in goods mode, checking every node whose name is picked (a category only in
    // category mode). Errors of the data sets pass on.
    void Load(bool byCategory, const TQueryItems& items, TClientDataSet& categories,
              TClientDataSet& goods);
    // The picked list as the caller takes it over.
    TQueryItems Selection() const;

    void UpdateSelection(const QString& name, bool checked, qint32 id);
    void ToggleNode(QTreeWidgetItem* node, bool checked);
    void TreeView1NodeChecked(QTreeWidgetItem* node);
    void ListBox1KeyDown(int key);
    void bbtSelectAllClick();
    // How many goods of the category node are picked, and how many it has.
    QPair<int, int> CategoryCounter(const QTreeWidgetItem* node) const;

    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setChecked(QTreeWidgetItem* node, bool checked);
    void removePicked(int index);
    void refreshCount();

    TGoodsNamesClass m_goodsNames;
    QList<qint32> m_selectedIds;
    // How many entries of SelectedIds carry each identifier: what the counters and the test for
    // an identifier already picked read, so that neither walks the picked list.
    QHash<qint32, int> m_picked;
    bool m_categoryMode = true;
    // Set while the window itself sets check boxes, so that they are not taken for the operator's.
    bool m_applying = false;
};

// The selector while it is shown; null otherwise.
extern QPointer<TfmGoodsList> fmGoodsList;

// Shows the selector over the data module's categories and goods with `items` picked. True when
// the operator confirmed with OK; only then `items` holds the new selection. Any error, the
// server unreachable for one, gives false without a word and leaves `items` as it was.
bool SelectGoods(bool byCategory, TQueryItems& items, TClientDataSet& categories,
                 TClientDataSet& goods, QWidget* parent = nullptr);
