#include "Call.h"
#include "Errors.h"
#include "Memory.h"
#include "QMXL.h"

using namespace Quellmar::qmxfile;

extern "C" int QMXLwalkErrorStack(void* context,
                                  void (*callback)(const char* text, void* context)) {
    Call call("QMXLwalkErrorStack");
    if (!callback)
        return call.fail("no callback given");
    // A copy: the callback may call back into the library and replace the last error.
    const std::vector<std::string> stack = lastError().stack;
    for (const std::string& entry : stack)
        callback(entry.c_str(), context);
    return static_cast<int>(stack.size());
}

extern "C" int QMXLgetLastErrorMessage(char** message) {
    Call call("QMXLgetLastErrorMessage");
    if (!message)
        return call.fail("no place for the message given");
    *message = nullptr;
    const LastError& error = lastError();
    if (!error.present)
        return 0;
    *message = allocateString(error.message);
    return *message ? 1 : -1;
}

extern "C" int QMXLgetLastFailureKind(void) {
    // Not a Call: asking must not replace the failure it asks about.
    const LastError& error = lastError();
    return error.present ? error.kind : QMXL_FAILED_NONE;
}
