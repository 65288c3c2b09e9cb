#include "platform/data/StationProviders.h"

#include "platform/core/Exceptions.h"

namespace StationProviders {

namespace {

// The server's providers. The fixed lists are ordered the way the station keeps them.
const Provider kProviders[] = {
    {"dspLogtran", Database::Fuel, nullptr},
    {"dspSmSilo", Database::Fuel,
     "SELECT SmNum, BegTime, EndTime, Operator FROM SmSilo ORDER BY SmNum"},
    {"dspGSM", Database::Fuel, "SELECT GsmName FROM GSM ORDER BY SortOrder, ID_GSM"},
    {"dspGoods", Database::Goods,
     "SELECT ID_Category, Name, ID_Goods FROM Goods ORDER BY ID_Goods"},
    {"dspCategory", Database::Goods,
     "SELECT ID_Category, Name, IsDelete, KKMSection FROM Category ORDER BY ID_Category"},
    {"dspGoodsStat", Database::Goods, nullptr},
};

} // namespace

const Provider& find(const QString& providerName) {
    for (const Provider& p : kProviders) {
        if (providerName.compare(QLatin1String(p.name), Qt::CaseInsensitive) == 0)
            return p;
    }
    throw EDatabaseError(
        QStringLiteral("У сервера статистики нет поставщика данных «%1»").arg(providerName));
}

QString statement(const Provider& provider, const QString& providerName,
                  const QString& commandText) {
    const QString sql = provider.sql ? QString::fromLatin1(provider.sql) : commandText;
    if (sql.trimmed().isEmpty())
        throw EDatabaseError(
            QStringLiteral("Для поставщика данных «%1» не задан текст запроса").arg(providerName));
    return sql;
}

QString databaseWord(Database database) {
    return database == Database::Fuel ? QStringLiteral("топлива") : QStringLiteral("товаров");
}

Database Parameters::database(int index) {
    if (index != 1 && index != 2)
        throw EDatabaseError(
            QStringLiteral("У сервера статистики нет параметра с номером %1").arg(index));
    return Database(index);
}

bool Parameters::set(int index, const QString& value) {
    QString& slot = database(index) == Database::Fuel ? m_fuel : m_goods;
    if (slot == value)
        return false;
    slot = value;
    return true;
}

} // namespace StationProviders
