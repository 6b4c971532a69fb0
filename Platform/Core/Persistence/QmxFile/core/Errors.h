#ifndef QUELLMAR_QMXFILE_ERRORS_H
#define QUELLMAR_QMXFILE_ERRORS_H

#include <string>
#include <vector>

namespace Quellmar::qmxfile {

// The last failure of the calling thread: its message and the error stack at that moment.
// Kept until the next failure, because HDF5 clears its own stack on every call and the
// caller usually closes handles before it asks.
struct LastError {
    bool present = false;
    int kind = 0;  // a QMXLFailureKind value

    std::string message;
    std::vector<std::string> stack;
};

LastError& lastError();
// HDF5's current error stack, outermost call first.
std::vector<std::string> currentHdf5Stack();
// The most specific (innermost) description on HDF5's current stack, empty when none.
std::string innermostHdf5Reason(const std::vector<std::string>& descriptions);
std::vector<std::string> currentHdf5Descriptions();

}  // namespace Quellmar::qmxfile

#endif
