#include "platform/ui/WindowPlacement.h"

#include "platform/settings/Registry.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

namespace WindowPlacement {

namespace {

const QString kKey = QStringLiteral("Software\\Velmora\\Torvi\\common");

} // namespace

bool restore(QWidget* window, const QString& name, QSize smallest) {
    const QRect stored = TRegistry().readValue(kKey, name).toRect();
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    if (!stored.isValid() || stored.width() < smallest.width() ||
        stored.height() < smallest.height() ||
        (!available.isEmpty() && !available.intersects(stored)))
        return false;
    window->setGeometry(stored);
    return true;
}

void save(const QWidget* window, const QString& name) {
    TRegistry registry;
    registry.writeValue(kKey, name, window->geometry());
    registry.flush();
}

} // namespace WindowPlacement
