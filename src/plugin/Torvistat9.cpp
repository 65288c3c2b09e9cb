// The plug-in library loaded by the back-office host.

#include "extraction/QueryLiterals.h"

namespace {

// Loading the library fills the process-wide format settings before any window can build a
// query; the reference below pulls their initialisation into the shared object.
struct ModuleInitialisation {
    ModuleInitialisation() { QueryFormatSettings(); }
};

const ModuleInitialisation moduleInitialisation;

} // namespace
