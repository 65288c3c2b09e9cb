#include "StatisticsPlugin.h"

#include "HostValues.h"

#include <QFile>

#include <dlfcn.h>

namespace {

QString lastDlError() {
    const char* text = dlerror();
    return text ? QString::fromLocal8Bit(text) : QString();
}

} // namespace

StatisticsPlugin::~StatisticsPlugin() {
    unload();
}

bool StatisticsPlugin::load(const QString& path, QString* error) {
    unload();
    void* library = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        *error = QStringLiteral("Не удалось загрузить модуль статистики «%1»: %2")
                     .arg(path, lastDlError());
        return false;
    }

    const auto resolve = [&](const char* name) -> void* {
        void* function = dlsym(library, name);
        if (!function && error->isEmpty())
            *error = QStringLiteral("«%1» не является модулем статистики: в нём нет функции %2")
                         .arg(path, QLatin1String(name));
        return function;
    };
    error->clear();
    m_initReports = reinterpret_cast<TorviInitReportsFn>(resolve(TORVI_EXPORT_INIT_REPORTS));
    m_setGetValue = reinterpret_cast<TorviSetGetValueFn>(resolve(TORVI_EXPORT_SET_GET_VALUE));
    m_setNewUserPriv =
        reinterpret_cast<TorviSetNewUserPrivFn>(resolve(TORVI_EXPORT_SET_NEW_USER_PRIV));
    m_initReportMenu =
        reinterpret_cast<TorviInitReportMenuFn>(resolve(TORVI_EXPORT_INIT_REPORT_MENU));
    if (!error->isEmpty()) {
        dlclose(library);
        return false;
    }
    m_library = library;
    m_path = path;
    return true;
}

void StatisticsPlugin::initialise(QWidget* mainWindow, QAction* reportsItem) {
    if (!m_library)
        return;
    m_initReports(0, HostValues::getValue, 0);
    m_setNewUserPriv(0, HostValues::getPrivValue);
    m_setGetValue(HostValues::getValue);
    m_initReportMenu(mainWindow, reportsItem, HostValues::createMenuItem, 0);
}

void StatisticsPlugin::unload() {
    if (!m_library)
        return;
    dlclose(m_library);
    m_library = nullptr;
    m_initReports = nullptr;
    m_setGetValue = nullptr;
    m_setNewUserPriv = nullptr;
    m_initReportMenu = nullptr;
}
