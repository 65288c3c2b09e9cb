// A goods library as the suite's other programs load it: it knows the current department's
// database folder. Built twice, once without the export, for the plug-in's lookup tests.

#include <cstdint>
#include <cstdio>
#include <cstring>

#define GOODS_EXPORT __attribute__((visibility("default")))

// How GetCurrentDepartmentPath answers; the test sets it through dlsym before each call.
enum DepartmentAnswer {
    AppendDepartment = 0, // appends "Отдел 2/" to the text it is given
    FillCapacity = 1,     // fills the whole capacity and leaves the text unended
    SuiteFormFolder = 2,  // answers with a folder in the suite's Windows form
};

extern "C" {

GOODS_EXPORT int goodsDepartmentAnswer = AppendDepartment;

#ifndef GOODS_LIBRARY_WITHOUT_DEPARTMENT
GOODS_EXPORT void GetCurrentDepartmentPath(char* path, int32_t capacity) {
    switch (goodsDepartmentAnswer) {
    case AppendDepartment: {
        const std::size_t used = std::strlen(path);
        std::snprintf(path + used, static_cast<std::size_t>(capacity) - used, "%s", "Отдел 2/");
        break;
    }
    case FillCapacity:
        std::memset(path, 'x', static_cast<std::size_t>(capacity));
        break;
    case SuiteFormFolder:
        std::snprintf(path, static_cast<std::size_t>(capacity), "%s", "C:\\DARA\\DB\\Shop2\\");
        break;
    }
}
#endif

} // extern "C"
