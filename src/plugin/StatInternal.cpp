#include "plugin/StatInternal.h"

#include "platform/core/Exceptions.h"
#include "platform/data/servers/StatServerChoice.h"
#include "plugin/DmStatistic.h"
#include "plugin/HostBoundary.h"
#include "plugin/HostFunctions.h"
#include "plugin/StatDbPaths.h"
#include "plugin/StatisticsWindows.h"

#include <QAction>
#include <QMenu>

#include <algorithm>

namespace {

TStatinternal* handlerObject = nullptr;

// Texts handed to the host's items must live on the heap. A QStringLiteral points into this
// library's read-only data, and the host keeps reading its items after the library is unloaded.
QString heapCopy(const QString& text) {
    return text.isEmpty() ? QString() : QString(text.constData(), text.size());
}

int itemCount(QAction* item) {
    const QMenu* menu = item->menu();
    return menu ? static_cast<int>(menu->actions().size()) : 0;
}

} // namespace

void TStatinternal::GSMClick() {
    callAtHostBoundary([] {
        // The default first: a host answer that cannot be read must not leave the server the
        // folder of the previous click.
        TdmStatistic& dm = *CreateDmStatistic();
        dm.FuelDbPath = DefaultFuelDbPath();
        dm.FuelDbPath = FuelDbPathFromHost();
        StatisticsWindows::showModal(StatisticsWindows::Kind::Fuel, dm);
    });
}

void TStatinternal::TovarClick() {
    callAtHostBoundary([] {
        TdmStatistic& dm = *CreateDmStatistic();
        dm.GoodsDbPath = GetGoodsDbPath();
        StatisticsWindows::showModal(StatisticsWindows::Kind::Goods, dm);
    });
}

void TStatinternal::ChainClick() {
    callAtHostBoundary([] {
        TdmStatistic& dm = *CreateDmStatistic();
        StatisticsWindows::showModal(StatisticsWindows::Kind::Chain, dm);
    });
}

QString StatServerComputerName() {
    // As the data module's connections decide it just before they connect.
    if (!HostFunctions::GetPrivValue.load() || HostFunctions::getPrivValueInt(11) == 1)
        return QString();
    return HostFunctions::getPrivValueString(13);
}

TStatinternal* statInternal() {
    return handlerObject;
}

TStatinternal* ensureStatInternal() {
    if (!handlerObject)
        handlerObject = new TStatinternal;
    return handlerObject;
}

QAction* AddStatMenuItem(const QString& caption, const QString& hint, int helpContext, int shortCut,
                         StatClickHandler onClick, QAction* parent, int index) {
    const TorviCreateMenuItemFn createMenuItem = HostFunctions::CreateMenuItem.load();
    if (!createMenuItem)
        throw Exception(QStringLiteral("Программа не передала модулю статистики функцию "
                                       "создания пунктов меню"));
    auto* item = static_cast<QAction*>(createMenuItem(parent, index));
    if (!item)
        throw Exception(
            QStringLiteral("Программа не создала пункт меню «%1» модуля статистики").arg(caption));
    item->setText(heapCopy(caption));
    item->setStatusTip(heapCopy(hint));
    item->setToolTip(heapCopy(hint));
    item->setProperty("helpContext", helpContext);
    item->setProperty("shortCut", shortCut);
    if (onClick)
        QObject::connect(item, &QAction::triggered, ensureStatInternal(), onClick);
    return item;
}

void InitStatMenu(QWidget* applicationWindow, QAction* parent,
                  TorviCreateMenuItemFn createMenuItem) {
    HostFunctions::ApplicationWindow = applicationWindow;
    ensureStatInternal();
    CreateDmStatistic();
    HostFunctions::CreateMenuItem = createMenuItem;
    if (!parent)
        throw Exception(
            QStringLiteral("Программа не передала модулю статистики пункт меню для отчётов"));

    // Just before the parent's last entry. An empty parent has no last entry; a negative
    // position is not one the host can be asked to insert at, so the entry goes first.
    const int topIndex = std::max(itemCount(parent) - 1, 0);
    // The new entry is the item the host returns, not whatever sits at count - 2 afterwards:
    // the same item for every host that inserts where it is asked to, and never a foreign one.
    QAction* const statistics =
        AddStatMenuItem(QStringLiteral("Статистика"), QString(), 60, 0, nullptr, parent, topIndex);
    AddStatMenuItem(QStringLiteral("ГСМ"), QStringLiteral("ГСМ"), 812, 1, &TStatinternal::GSMClick,
                    statistics, 0);
    AddStatMenuItem(QStringLiteral("Товары"), QStringLiteral("Товары"), 811, 1,
                    &TStatinternal::TovarClick, statistics, 1);
    // A station's own files know no other station: the chain's item is only for its server.
    bool chain = false;
    try {
        chain = hasChainCatalogue(StatServerComputerName());
    } catch (const Exception&) {
        // An answer that cannot be read is the fuel and goods windows' to report when opened.
    }
    if (chain)
        AddStatMenuItem(QStringLiteral("Сеть АЗС…"), QStringLiteral("Статистика сети АЗС"), 813, 1,
                        &TStatinternal::ChainClick, statistics, 2);
}

void FinalizeStatistics() {
    StatisticsWindows::freeAll();
    FreeDmStatistic();
    delete handlerObject;
    handlerObject = nullptr;
}
