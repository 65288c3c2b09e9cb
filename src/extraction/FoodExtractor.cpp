#include "extraction/FoodExtractor.h"

#include "extraction/QueryLiterals.h"
#include "platform/core/Exceptions.h"
#include "platform/data/ClientDataSet.h"
#include "platform/data/DCOMConnection.h"
#include "platform/ui/MessageBoxes.h"

#include <QStringList>

TFoodExtractor::TFoodExtractor(int stepUnit, TDateTime dateFrom, TDateTime dateTo,
                               double stepMultiplier, TClientDataSet* dataSet, ChartModel* chart,
                               QWidget* ownerWindow, QSlider* pageBar)
    : TGraphExtractor(stepUnit, dateFrom, dateTo, stepMultiplier, dataSet, chart, ownerWindow,
                      pageBar) {}

TFoodExtractor::~TFoodExtractor() {
    StopRun();
}

void TFoodExtractor::SetByCategory(bool value) {
    if (m_byCategory != value)
        m_byCategory = value;
}

QString TFoodExtractor::BuildSQL(TDateTime dateFrom, TDateTime dateTo) const {
    QStringList ids;
    ids.reserve(Items().size());
    for (const TQueryItem& item : Items())
        ids << QString::number(item.Id);
    const QString from = QuotedSqlString(DateTimeToQueryText(true, dateFrom));
    const QString to = QuotedSqlString(DateTimeToQueryText(true, dateTo));
    // The blanks are as the server has always been sent them: two before the first AND of the
    // goods variant, three in the category variant.
    if (!m_byCategory)
        return QStringLiteral("SELECT d.Data, gm.RPrice, gm.\"COUNT\", b.ID_Goods FROM Documents d "
                              "LEFT JOIN GoodsMotion gm ON (d.ID_doc = gm.ID_doc) LEFT JOIN "
                              "Batches b ON (gm.ID_p = b.ID_P) WHERE d.\"TYPE\" = 2  AND "
                              "d.Data >= ") +
               from + QStringLiteral("  AND d.Data < ") + to +
               QStringLiteral("  AND b.ID_Goods in (") + ids.join(QStringLiteral(", ")) +
               QStringLiteral(") ") + QStringLiteral(" ORDER BY d.Data, b.ID_Goods");
    return QStringLiteral("SELECT d.Data, gm.RPrice, gm.\"COUNT\", g.ID_Category FROM Documents d "
                          "LEFT JOIN GoodsMotion gm ON (d.ID_doc = gm.ID_doc) LEFT JOIN Batches "
                          "b ON (gm.ID_p = b.ID_p) LEFT JOIN Goods g ON (b.ID_Goods = "
                          "g.ID_Goods) WHERE d.\"TYPE\" = 2   AND d.Data >= ") +
           from + QStringLiteral("  AND d.Data < ") + to +
           QStringLiteral("  AND g.ID_Category in (") + ids.join(QStringLiteral(", ")) +
           QStringLiteral(") ") + QStringLiteral("ORDER BY d.Data, g.ID_Category");
}

QString TFoodExtractor::ItemFilter(qint32 id) const {
    return (m_byCategory ? QStringLiteral("ID_Category = ") : QStringLiteral("ID_Goods = ")) +
           QString::number(id);
}

void TFoodExtractor::Execute() {
    // Nothing to initialise per thread here: each connection is opened, used and closed by the
    // thread of its run.
    while (!Terminated()) {
        RunOnce();
        Suspend();
    }
}

void TFoodExtractor::OpenConnection() {
    TDCOMConnection* connection = DataSet() ? DataSet()->remoteServer() : nullptr;
    if (!connection)
        throw EDatabaseError(
            QStringLiteral("У набора данных статистики товаров нет соединения с сервером"));
    connection->open();
}

QString TFoodExtractor::BuildQuery(TDateTime dateFrom, TDateTime dateTo) {
    return BuildSQL(dateFrom, dateTo);
}

void TFoodExtractor::Aggregate(int seriesIndex) {
    // The sales sum of a line is its price times its quantity.
    TGraphExtractor::Aggregate(
        seriesIndex,
        SchemaAmount(QStringLiteral("RPrice"), QStringLiteral("Count"), QStringLiteral("Count")));
}

void TFoodExtractor::FillSeries() {
    if (!MultiGraph()) {
        Aggregate(0);
        return;
    }
    TClientDataSet& set = *DataSet();
    const TQueryItems items = Items();
    for (int i = 0; i < items.size(); ++i) {
        set.setFilter(ItemFilter(items.at(i).Id));
        set.setFiltered(true);
        Aggregate(i);
    }
}

void TFoodExtractor::ReportError(const QString& message) {
    MessageBoxes::show(nullptr, QStringLiteral("Ошибка!"),
                       QStringLiteral("В ходе обработки данных произошла ошибка: ") + message,
                       MessageBoxes::Icon::Error, QMessageBox::Ok);
}
