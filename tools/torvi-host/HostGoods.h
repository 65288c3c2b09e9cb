#pragma once

#include <QString>

// The host's goods library: it answers the plug-in's question for the current department's goods
// folder (on a chain's server, the goods database) with --goods-db.
namespace HostGoods {

// The library built with the host: found from the host's own folder like the plug-in (in the build
// tree, else next to the executable, else in ../lib).
QString defaultLibraryPath(const QString& applicationDir);

// Loads `library` under the name at which the plug-in looks for the suite's goods library,
// $DARA_ROOT/libVedoz9.so, and makes it answer `department`. The name is a link that lives only
// while the library is loaded: the plug-in finds a loaded library by that name alone, and nothing
// is left in the suite's folder. Empty on success, else the reason in Russian; a goods library of
// the suite's own at that name is never replaced.
QString install(const QString& library, const QString& department);

} // namespace HostGoods
