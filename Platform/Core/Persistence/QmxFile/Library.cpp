#include "Library.h"

#include "Call.h"
#include "HandleTable.h"
#include "QMXL.h"

#include <hdf5.h>

#include <atomic>

namespace Quellmar::qmxfile {

namespace {

std::atomic<bool> g_exiting{false};
std::atomic<bool> g_flushing{true};
bool g_initialised = false;

// Constructed when the library is loaded. Its destructor runs when the library is
// finalised at exit, before HDF5 (which this library depends on) shuts down.
struct ExitGuard {
    ExitGuard() {
        std::lock_guard lock(libraryMutex());
        ensureInitialised();
    }
    ~ExitGuard() { beginProcessExit(); }
} g_exitGuard;

}  // namespace

void ensureInitialised() {
    if (g_initialised) return;
    g_initialised = true;
    H5open();
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

void beginProcessExit() {
    std::lock_guard lock(libraryMutex());
    if (g_exiting) return;
    g_exiting = true;
    HandleTable::instance().closeAll();
}

bool isExiting() { return g_exiting; }
bool flushingEnabled() { return g_flushing; }
void setFlushing(bool on) { g_flushing = on; }

}  // namespace Quellmar::qmxfile

using namespace Quellmar::qmxfile;

extern "C" int QMXLregister(void) {
    Call call("QMXLregister");
    return call.exiting() ? call.fail("the process is exiting") : 1;
}

extern "C" int QMXLgetSkipCleanup(void) { return isExiting() ? 1 : 0; }

extern "C" int QMXLsetflush(int on) {
    Call call("QMXLsetflush");
    setFlushing(on != 0);
    return 1;
}

extern "C" int QMXLgetOpenObjectCount(void) {
    Call call("QMXLgetOpenObjectCount");
    if (call.exiting()) return 0;
    // Files, groups, datasets, committed types and attributes of every open file, whoever
    // opened them, plus the compound types of the handle table. Transient types, spaces
    // and property lists never outlive the call that made them (the shared file-access lists
    // are not counted by HDF5 either).
    const ssize_t inFiles = H5Fget_obj_count(static_cast<hid_t>(H5F_OBJ_ALL), H5F_OBJ_ALL);
    if (inFiles < 0) return call.failHdf5("cannot count the open objects");
    return static_cast<int>(inFiles) + HandleTable::instance().datatypeCount();
}

extern "C" int QMXLgetHandleCount(void) {
    Call call("QMXLgetHandleCount");
    return HandleTable::instance().size();
}

extern "C" int QMXLgetHandleReferenceCount(int handle) {
    Call call("QMXLgetHandleReferenceCount");
    Entry* e = call.entry(handle);
    return e ? e->refs : -1;
}
