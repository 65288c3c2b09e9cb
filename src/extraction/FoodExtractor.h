#pragma once

#include "extraction/GraphExtractor.h"

// The goods window's extractor: sale lines of the shop, summed as money, quantity or number of
// lines, for the whole selection or one line per goods item or category. It works on its own
// connection (the data set's, DCOMConnectionThread), so its thread never shares one with the
// windows.
class TFoodExtractor : public TGraphExtractor {
public:
    TFoodExtractor(int stepUnit, TDateTime dateFrom, TDateTime dateTo, double stepMultiplier,
                   TClientDataSet* dataSet, ChartModel* chart, QWidget* ownerWindow,
                   QSlider* pageBar);
    ~TFoodExtractor() override;

    bool ByCategory() const { return m_byCategory; }
    void SetByCategory(bool value);

    QString BuildSQL(TDateTime dateFrom, TDateTime dateTo) const;
    // BuildSQL's statement for the given items, by category or by goods item.
    static QString QueryText(const TQueryItems& items, bool byCategory, TDateTime dateFrom,
                             TDateTime dateTo);
    // What a fetched sale line adds to its bucket under `schema`: money, quantity or one sale.
    static TRowAmount RowAmount(TClientDataSet& set, int schema);
    // "ID_Category = 3" or "ID_Goods = 12": one item's rows of the fetched result.
    QString ItemFilter(qint32 id) const;

protected:
    void Execute() override;
    void OpenConnection() override;
    QString BuildQuery(TDateTime dateFrom, TDateTime dateTo) override;
    void FillSeries() override;
    void ReportError(const QString& message) override;

private:
    void Aggregate(int seriesIndex);

    bool m_byCategory = true;
};
