#include "plugin/StatDbPaths.h"

#include "platform/core/DaraPaths.h"
#include "plugin/HostFunctions.h"
#include "torvistat/plugin_abi.h"

#include <QFile>
#include <QScopeGuard>

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// Modes under which the host keeps the fuel database somewhere of its own choosing.
bool hostNamesFuelFolder(int mode) {
    return mode == 0 || mode == 3;
}

constexpr char kGoodsLibraryFile[] = TORVI_GOODS_LIBRARY_FILE;
constexpr char kDepartmentPathExport[] = TORVI_EXPORT_GET_CURRENT_DEPARTMENT_PATH;

// Room for any path the goods library may write; one more byte stays NUL whatever it does.
constexpr int kDepartmentPathCapacity = 4096;

} // namespace

QString DefaultFuelDbPath() {
    return mapDaraPath(QStringLiteral("C:\\DARA\\DB\\"));
}

QString FuelDbPathFromHost() {
    if (!HostFunctions::GetValue.load() || !hostNamesFuelFolder(HostFunctions::getValueInt(46)))
        return DefaultFuelDbPath();
    // A host that still answers in the suite's Windows form gets its folder mapped under
    // $DARA_ROOT; a Linux path passes unchanged.
    return mapDaraPath(HostFunctions::getValueString(5));
}

QString goodsLibraryPath() {
    return daraRoot() + QLatin1Char('/') + QLatin1String(kGoodsLibraryFile);
}

QString GetGoodsDbPath() {
    QString path = mapDaraPath(QStringLiteral("C:\\DARA\\DB\\TradeDB\\"));

    // RTLD_NOLOAD only finds the library when the host has loaded it already; it takes a
    // reference all the same, which is given back below.
    void* library =
        dlopen(QFile::encodeName(goodsLibraryPath()).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (!library)
        return path;
    const auto release = qScopeGuard([library] { dlclose(library); });

    const auto getDepartmentPath =
        reinterpret_cast<TorviGetCurrentDepartmentPathFn>(dlsym(library, kDepartmentPathExport));
    if (!getDepartmentPath)
        return path;

    std::array<char, kDepartmentPathCapacity + 1> buffer{};
    const QByteArray current = path.toUtf8();
    std::memcpy(buffer.data(), current.constData(),
                std::min<std::size_t>(current.size(), kDepartmentPathCapacity - 1));
    getDepartmentPath(buffer.data(), kDepartmentPathCapacity);
    // The library promises to stay within the capacity but not to end the text; the spare
    // byte ends it in any case.
    buffer[kDepartmentPathCapacity] = '\0';
    path = QString::fromUtf8(buffer.data());
    return mapDaraPath(path);
}
