// The library's log lines: silent by default (a tool's stderr is for its own messages), kept so
// that a refusal can be explained, and shown in full with --verbose.
#ifndef QMX_TOOL_DIAGNOSTICS_H
#define QMX_TOOL_DIAGNOSTICS_H

#include <string>

namespace Quellmar::qmx {

void captureLibraryLog(bool verbose);
// Text of the last ERROR line the library logged, empty when there was none.
std::string lastLibraryError();
// The file library's last error message, first line only; empty when there is none.
std::string fileLibraryError();

}  // namespace Quellmar::qmx

#endif
