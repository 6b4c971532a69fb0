// A damaged file can crash the HDF5 library itself. Until reading runs in a process of its
// own, a crash is turned into the tool's usual one-line error and exit 1, naming where in the
// file it happened.
#ifndef QMX_TOOL_CRASHGUARD_H
#define QMX_TOOL_CRASHGUARD_H

#include <string>

namespace Quellmar::qmx {

// Installs the handlers for the command about to run on file (not in sanitizer builds, whose
// own reports are more useful).
void installCrashGuard(const std::string& command, const std::string& file);
// Records the place in the file being read now.
void crashGuardAt(const std::string& path);

}  // namespace Quellmar::qmx

#endif
