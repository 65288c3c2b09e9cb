#include "HostValues.h"

#include <QAction>
#include <QMenu>

#include <cstring>

namespace HostValues {

namespace {

HostOptions& current() {
    static HostOptions options;
    return options;
}

} // namespace

void setInt(TorviVariant* result, int value) {
    TorviVariantClear(result);
    result->vt = TORVI_VT_I4;
    result->value.i4 = value;
}

// The plug-in frees the text with free(), as the ABI says.
void setString(TorviVariant* result, const QString& text) {
    TorviVariantClear(result);
    const QByteArray utf8 = text.toUtf8();
    auto* copy = static_cast<char*>(std::malloc(static_cast<std::size_t>(utf8.size()) + 1));
    if (!copy)
        return;
    std::memcpy(copy, utf8.constData(), static_cast<std::size_t>(utf8.size()) + 1);
    result->vt = TORVI_VT_BSTR;
    result->value.str = copy;
}

void setOptions(const HostOptions& options) {
    current() = options;
}

void getValue(TorviVariant* result, int32_t code, int32_t) {
    if (!result)
        return;
    switch (code) {
    case 46:
        setInt(result, current().mode);
        break;
    case 5:
        setString(result, current().fuelDb);
        break;
    default:
        break;
    }
}

void getPrivValue(TorviVariant* result, int32_t code) {
    if (!result)
        return;
    switch (code) {
    case 11:
        setInt(result, current().statServer.isEmpty() ? 1 : 0);
        break;
    case 13:
        setString(result, current().statServer);
        break;
    case 16:
        setString(result, current().caption);
        break;
    default:
        break;
    }
}

TorviMenuItem createMenuItem(TorviMenuItem parent, int32_t index) {
    auto* parentItem = static_cast<QAction*>(parent);
    if (!parentItem)
        return nullptr;
    QMenu* menu = parentItem->menu();
    if (!menu) {
        // Owned by the menu that holds the parent item, so it goes with the host's menus.
        menu = new QMenu(qobject_cast<QWidget*>(parentItem->parent()));
        parentItem->setMenu(menu);
    }
    auto* item = new QAction(menu);
    const QList<QAction*> items = menu->actions();
    menu->insertAction(index >= 0 && index < items.size() ? items.at(index) : nullptr, item);
    return item;
}

} // namespace HostValues
