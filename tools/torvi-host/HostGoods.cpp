#include "HostGoods.h"

#include "platform/core/DaraPaths.h"

#include "torvistat/plugin_abi.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <dlfcn.h>
#include <unistd.h>

namespace HostGoods {

namespace {

using SetDepartmentFn = void (*)(const char*);

// Whether `name` is a link to `target` (another host of ours may hold it at this moment).
bool linksTo(const QString& name, const QString& target) {
    const QFileInfo info(name);
    return info.isSymLink() && info.symLinkTarget() == target;
}

} // namespace

QString defaultLibraryPath(const QString& applicationDir) {
    const QDir dir(applicationDir);
    // Installed first, as the plug-in.
    const QStringList candidates{
        QDir::cleanPath(dir.filePath(QStringLiteral(TORVI_HOST_INSTALLED_GOODS_RELATIVE))),
        QDir::cleanPath(dir.filePath(QStringLiteral(TORVI_HOST_GOODS_RELATIVE))),
        dir.filePath(QStringLiteral("libtorvi-host-goods.so")),
        QDir::cleanPath(dir.filePath(QStringLiteral("../lib/libtorvi-host-goods.so"))),
    };
    for (const QString& candidate : candidates)
        if (QFileInfo(candidate).isFile())
            return candidate;
    return candidates.first();
}

QString install(const QString& library, const QString& department) {
    const QString target = QFileInfo(library).absoluteFilePath();
    if (!QFileInfo(target).isFile())
        return QStringLiteral("Нет библиотеки товаров программы «%1»").arg(target);
    const QString name = daraRoot() + QLatin1Char('/') + QLatin1String(TORVI_GOODS_LIBRARY_FILE);
    if (!QDir().mkpath(daraRoot()))
        return QStringLiteral("Не удалось создать папку «%1»").arg(daraRoot());
    const QByteArray encodedName = QFile::encodeName(name);
    const QByteArray encodedTarget = QFile::encodeName(target);
    // Another host may remove its link between our look and our load: then look again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const bool created = ::symlink(encodedTarget.constData(), encodedName.constData()) == 0;
        if (!created) {
            if (errno != EEXIST)
                return QStringLiteral("Не удалось создать «%1»: %2")
                    .arg(name, QString::fromLocal8Bit(std::strerror(errno)));
            const QFileInfo there(name);
            if (there.isSymLink() && !there.exists())
                return QStringLiteral("«%1» — ссылка на несуществующий файл «%2»; удалите её")
                    .arg(name, there.symLinkTarget());
            if (!linksTo(name, target))
                return QStringLiteral("В папке «%1» уже есть библиотека товаров «%2»: база "
                                      "товаров берётся из неё, а не из --goods-db. Запустите "
                                      "программу без --goods-db или с другим DARA_ROOT")
                    .arg(daraRoot(), name);
        }
        void* handle = dlopen(encodedName.constData(), RTLD_NOW);
        const QString reason = handle ? QString() : QString::fromLocal8Bit(dlerror());
        // Ours, or left by a host of ours that was killed before it took its own away.
        if (linksTo(name, target))
            ::unlink(encodedName.constData());
        if (!handle) {
            if (!created && !QFileInfo(name).isSymLink())
                continue;
            return QStringLiteral("Не удалось загрузить библиотеку товаров «%1»: %2")
                .arg(target, reason);
        }
        // Loaded for the host's whole life, as the back office keeps its goods library.
        const auto setDepartment =
            reinterpret_cast<SetDepartmentFn>(dlsym(handle, "TorviHostSetDepartmentPath"));
        if (!setDepartment)
            return QStringLiteral("«%1» не библиотека товаров программы: в ней нет функции "
                                  "TorviHostSetDepartmentPath")
                .arg(target);
        setDepartment(department.toUtf8().constData());
        return {};
    }
    return QStringLiteral("Не удалось загрузить библиотеку товаров «%1»: её ссылку «%2» всё "
                          "время убирает другая программа")
        .arg(target, name);
}

} // namespace HostGoods
