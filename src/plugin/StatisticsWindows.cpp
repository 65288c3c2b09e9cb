#include "plugin/StatisticsWindows.h"

#include "platform/core/Exceptions.h"
#include "platform/ui/MessageBoxes.h"
#include "plugin/HostFunctions.h"

#include <QDialog>
#include <QScopeGuard>

namespace StatisticsWindows {

namespace {

struct WindowSlot {
    Factory factory;
    // The module-wide reference of the kind: set only while the window is shown.
    std::unique_ptr<QDialog> window;
};

WindowSlot& slotOf(Kind kind) {
    static WindowSlot fuel;
    static WindowSlot goods;
    static WindowSlot chain;
    switch (kind) {
    case Kind::Fuel:
        return fuel;
    case Kind::Goods:
        return goods;
    case Kind::Chain:
        break;
    }
    return chain;
}

QString windowTitle(Kind kind) {
    switch (kind) {
    case Kind::Fuel:
        return QStringLiteral("Статистика по ГСМ");
    case Kind::Goods:
        return QStringLiteral("Статистика по товарам");
    case Kind::Chain:
        break;
    }
    return QStringLiteral("Статистика сети АЗС");
}

} // namespace

void registerFactory(Kind kind, Factory factory) {
    slotOf(kind).factory = std::move(factory);
}

bool isAvailable(Kind kind) {
    return static_cast<bool>(slotOf(kind).factory);
}

void showModal(Kind kind, TdmStatistic& dm) {
    WindowSlot& slot = slotOf(kind);
    QWidget* const parent = HostFunctions::ApplicationWindow.load();

    // Only a host that triggers the item itself gets here while the window is up: the modal
    // window blocks the menu. Running exec() again would end in freeing a window that the outer
    // exec() still runs.
    if (slot.window) {
        slot.window->raise();
        slot.window->activateWindow();
        return;
    }
    if (!slot.factory) {
        MessageBoxes::information(
            parent, QStringLiteral("Окно «%1» недоступно в этой сборке модуля статистики.")
                        .arg(windowTitle(kind)));
        return;
    }

    slot.window = slot.factory(parent, dm);
    if (!slot.window)
        throw Exception(QStringLiteral("Не удалось создать окно «%1»").arg(windowTitle(kind)));
    // The guard lives in this frame and the host boundary catches in the caller's, so the window
    // is freed on every way out, an escaping error included, before the error reaches the host.
    const auto freeWindow = qScopeGuard([&slot] { slot.window.reset(); });
    slot.window->exec();
}

QDialog* shownWindow(Kind kind) {
    return slotOf(kind).window.get();
}

void freeAll() {
    slotOf(Kind::Fuel).window.reset();
    slotOf(Kind::Goods).window.reset();
    slotOf(Kind::Chain).window.reset();
}

} // namespace StatisticsWindows
