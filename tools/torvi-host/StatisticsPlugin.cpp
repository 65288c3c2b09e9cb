#include "StatisticsPlugin.h"

#include "HostValues.h"

#include "platform/core/Exceptions.h"

#include <QDir>
#include <QFile>

#include <cerrno>

#include <dlfcn.h>
#include <sys/stat.h>

namespace {

QString lastDlError() {
    const char* text = dlerror();
    return text ? QString::fromLocal8Bit(text) : QString();
}

// A path as a message shows it: a path of thousands of characters would bury the reason.
QString shownPath(const QString& path) {
    constexpr qsizetype kKept = 120;
    return path.size() <= 2 * kKept ? path
                                    : path.left(kKept) + QStringLiteral("…") + path.right(kKept);
}

// Why the file at path cannot be a library, in Russian; empty when it is a regular file. dlopen
// would say it in English, or try to read a device such as /dev/zero.
QString unusableFileReason(const QByteArray& path) {
    struct stat info {};
    if (::stat(path.constData(), &info) != 0) {
        switch (errno) {
        case ENOENT:
        case ENOTDIR:
            return QStringLiteral("файл не найден");
        case ENAMETOOLONG:
            return QStringLiteral("слишком длинный путь");
        case EACCES:
        case EPERM:
            return QStringLiteral("нет доступа");
        case ELOOP:
            return QStringLiteral("символические ссылки замкнуты в круг");
        default:
            return SysErrorMessage(errno);
        }
    }
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("это папка, а не файл");
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("это не обычный файл");
    return {};
}

} // namespace

StatisticsPlugin::~StatisticsPlugin() {
    unload();
}

bool StatisticsPlugin::load(const QString& path, QString* error) {
    unload();
    const auto refuse = [&](const QString& reason) {
        *error = QStringLiteral("Не удалось загрузить модуль статистики «%1»: %2")
                     .arg(shownPath(path), reason);
        return false;
    };
    // dlopen searches the system's library folders for a name without a slash; the host loads
    // the file it was given, relative to the current folder.
    const QByteArray file =
        QFile::encodeName(path.contains(QLatin1Char('/')) ? path : QDir::current().filePath(path));
    if (const QString reason = unusableFileReason(file); !reason.isEmpty())
        return refuse(reason);
    void* library = dlopen(file.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return refuse(lastDlError());

    const auto resolve = [&](const char* name) -> void* {
        void* function = dlsym(library, name);
        if (!function && error->isEmpty())
            *error = QStringLiteral("«%1» не является модулем статистики: в нём нет функции %2")
                         .arg(shownPath(path), QLatin1String(name));
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
