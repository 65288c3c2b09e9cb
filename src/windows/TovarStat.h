#pragma once

#include "extraction/QueryItems.h"
#include "windows/StatWindow.h"

#include <memory>

class QListWidget;
class QRadioButton;
class TFoodExtractor;
class TdmStatistic;

// TfmTovarStat: the shop goods statistics window ("Статистика по товарам"). The operator picks a
// period, a step, a schema and categories or single goods; "Построить" hands them to the window's
// goods extractor, which fills the chart on its worker thread.
class TfmTovarStat : public TStatWindow {
    Q_OBJECT

public:
    // With more lines than this a split chart would be unreadable.
    static constexpr int MaxSplitItems = 50;

    explicit TfmTovarStat(TdmStatistic& dm, QWidget* parent = nullptr);

    QLabel* Label5;
    QGroupBox* gbTovar;
    QRadioButton* rbtCateg;
    QRadioButton* rbtGoodsName;
    QListWidget* clbTovarList;
    QPushButton* bbtChoose;

    // Made when the window is shown; null before and after the window closed.
    TFoodExtractor* Extractor() const;
    // Parallel to clbTovarList: the name and identifier behind each line.
    const TQueryItems& GoodsItems() const { return m_goodsItems; }

    void FormShow() override;
    void rbtCategClick();
    void bbtChooseClick();
    void bbtGoClick() override;

private:
    void buildControls();
    void fillCategories();
    void listItems();

    TQueryItems m_goodsItems;
};

// The "Товары" menu entry's window over the host's window and the data module whose goods folder
// the menu handler has set. The handler shows it modally and frees it when it closes.
std::unique_ptr<QDialog> CreateGoodsStatistics(QWidget* applicationWindow, TdmStatistic& dm);
