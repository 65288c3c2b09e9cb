// The back office's goods library, as far as the statistics plug-in asks it: the folder (on a
// chain's server, the database) of the current department's goods. The host loads it only when
// it is told which one that is (--goods-db) and sets the answer once, before any window opens.

#include "torvistat/plugin_abi.h"

#include <cstdio>
#include <string>

namespace {

std::string& department() {
    static std::string path;
    return path;
}

} // namespace

extern "C" {

TORVI_EXPORT void TorviHostSetDepartmentPath(const char* path) {
    department() = path ? path : "";
}

// An empty answer leaves the plug-in's text as it was, the suite's default goods folder.
TORVI_EXPORT void GetCurrentDepartmentPath(char* path, int32_t capacity) {
    if (!path || capacity <= 0 || department().empty())
        return;
    std::snprintf(path, static_cast<std::size_t>(capacity), "%s", department().c_str());
}

} // extern "C"
