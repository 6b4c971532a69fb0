// The file library's last error message, for test failure output.
#ifndef QUELLMAR_TESTING_LASTERROR_H
#define QUELLMAR_TESTING_LASTERROR_H

#include "QMXL.h"

#include <string>

namespace Quellmar::testing {

// The last error message of this thread, empty when there is none.
inline std::string lastError() {
    char* text = nullptr;
    QMXLgetLastErrorMessage(&text);
    std::string result = text ? text : "";
    QMXLreleaseString(&text);
    return result;
}

}  // namespace Quellmar::testing

#endif
