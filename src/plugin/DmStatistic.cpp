#include "plugin/DmStatistic.h"

#include "platform/core/Exceptions.h"
#include "platform/data/servers/StatServerChoice.h"
#include "platform/ui/MessageBoxes.h"
#include "plugin/HostFunctions.h"

TdmStatistic* dmStatistic = nullptr;

namespace {

TFieldDef field(const char* name, TFieldType type, int size = 0, const QString& label = QString(),
                int displayWidth = 0) {
    return TFieldDef{QString::fromLatin1(name), type, size, label, displayWidth};
}

} // namespace

TdmStatistic::TdmStatistic()
    : cdsLogtran(QStringLiteral("cdsLogtran"))
    , cdsSmSilo(QStringLiteral("cdsSmSilo"))
    , DCOMConnection1(chooseStatServer)
    , cdsGSM(QStringLiteral("cdsGSM"))
    , cdsGoods(QStringLiteral("cdsGoods"))
    , cdsCategory(QStringLiteral("cdsCategory"))
    , cdsTovarStat(QStringLiteral("cdsTovarStat"))
    , DCOMConnectionThread(chooseStatServer)
    , dsSmSilo(&cdsSmSilo)
    , dsGSM(&cdsGSM)
    , dsGoods(&cdsGoods)
    , dsCategory(&cdsCategory) {
    setObjectName(QStringLiteral("dmStatistic"));
    DCOMConnection1.setObjectName(QStringLiteral("DCOMConnection1"));
    DCOMConnectionThread.setObjectName(QStringLiteral("DCOMConnectionThread"));
    for (TDCOMConnection* connection : {&DCOMConnection1, &DCOMConnectionThread}) {
        connection->setBeforeConnect(
            [this](TDCOMConnection& sender) { DCOMConnection1BeforeConnect(sender); });
        connection->setAfterConnect(
            [this](TDCOMConnection& sender) { DCOMConnection1AfterConnect(sender); });
    }

    cdsLogtran.setProviderName(QStringLiteral("dspLogtran"));
    cdsLogtran.setRemoteServer(&DCOMConnection1);

    cdsSmSilo.setProviderName(QStringLiteral("dspSmSilo"));
    cdsSmSilo.setRemoteServer(&DCOMConnection1);
    cdsSmSilo.setFieldDefs({
        field("SmNum", TFieldType::Integer, 0, QStringLiteral("Номер смены")),
        field("BegTime", TFieldType::DateTime, 0, QStringLiteral("Время начала")),
        field("EndTime", TFieldType::DateTime, 0, QStringLiteral("Время окончания")),
        field("Operator", TFieldType::String, 30, QStringLiteral("Оператор")),
    });
    cdsSmSilo.setIndexDefs({
        {QStringLiteral("DEFAULT_ORDER"), QStringLiteral("SmNum"),
         TIndexDef::Unique | TIndexDef::Descending},
        {QStringLiteral("CHANGEINDEX"), QString(), TIndexDef::Descending},
    });

    cdsGSM.setProviderName(QStringLiteral("dspGSM"));
    cdsGSM.setRemoteServer(&DCOMConnection1);

    cdsGoods.setProviderName(QStringLiteral("dspGoods"));
    cdsGoods.setRemoteServer(&DCOMConnection1);
    cdsGoods.setFieldDefs({
        field("ID_Category", TFieldType::Integer),
        field("Name", TFieldType::String, 50),
        field("ID_Goods", TFieldType::Integer),
    });
    cdsGoods.setIndexDefs({
        {QStringLiteral("DEFAULT_ORDER"), QString(), 0},
        {QStringLiteral("CHANGEINDEX"), QString(), 0},
    });

    cdsCategory.setProviderName(QStringLiteral("dspCategory"));
    cdsCategory.setRemoteServer(&DCOMConnection1);
    cdsCategory.setFieldDefs({
        field("ID_Category", TFieldType::Integer, 0, QString(), 12),
        field("Name", TFieldType::String, 20, QString(), 12),
        field("IsDelete", TFieldType::Integer, 0, QString(), 8),
        field("KKMSection", TFieldType::SmallInt, 0, QString(), 12),
    });
    cdsCategory.setIndexDefs({{QStringLiteral("cdsCategoryIndex1"), QStringLiteral("name"), 0}});
    cdsCategory.setFilterCaseInsensitive(true);

    cdsTovarStat.setProviderName(QStringLiteral("dspGoodsStat"));
    cdsTovarStat.setRemoteServer(&DCOMConnectionThread);
}

TdmStatistic::~TdmStatistic() {
    DataModuleDestroy();
}

void TdmStatistic::DCOMConnection1BeforeConnect(TDCOMConnection& sender) {
    if (!HostFunctions::GetPrivValue.load())
        return;
    if (HostFunctions::getPrivValueInt(11) != 1)
        sender.setComputerName(HostFunctions::getPrivValueString(13));
}

void TdmStatistic::DCOMConnection1AfterConnect(TDCOMConnection& sender) {
    try {
        sender.setStatParameter(1, GoodsDbPath);
        if (!FuelDbPath.isEmpty())
            sender.setStatParameter(2, FuelDbPath);
    } catch (const Exception& e) {
        // The connection stays and the open that caused it goes on; the operator learns why the
        // server may not find its data.
        MessageBoxes::show(nullptr, QStringLiteral("Ошибка"),
                           QStringLiteral("При установке параметра возникла ошибка: ") +
                               ShortenedForMessage(e.message(), 4000),
                           MessageBoxes::Icon::Error);
    }
}

void TdmStatistic::CloseAllData() {
    for (TClientDataSet* set :
         {&cdsLogtran, &cdsSmSilo, &cdsGSM, &cdsGoods, &cdsCategory, &cdsTovarStat})
        set->close();
    DCOMConnection1.close();
    DCOMConnectionThread.close();
}

void TdmStatistic::DataModuleDestroy() {
    DCOMConnection1.close();
}

TStatConnectionUse::TStatConnectionUse(TdmStatistic& dm,
                                       std::initializer_list<TClientDataSet*> sets)
    : m_dm(dm)
    , m_sets(sets) {}

TStatConnectionUse::~TStatConnectionUse() {
    // Closing hands the rows and the server back; it has nothing to report that the operator
    // could act on, and an error leaving a destructor would end the process.
    try {
        for (TClientDataSet* set : m_sets)
            set->close();
        m_dm.DCOMConnection1.close();
    } catch (const std::exception&) {
    }
}

TdmStatistic* CreateDmStatistic() {
    if (!dmStatistic)
        dmStatistic = new TdmStatistic;
    return dmStatistic;
}

void FreeDmStatistic() {
    delete dmStatistic;
    dmStatistic = nullptr;
}
