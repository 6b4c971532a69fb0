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

// Identifiers HDF5 keeps for itself (predefined types, default property lists), so that
// the open-object count starts at zero.
struct Baseline {
    long long types = 0;
    long long spaces = 0;
    long long lists = 0;
} g_baseline;

long long members(H5I_type_t type) {
    hsize_t n = 0;
    return H5Inmembers(type, &n) < 0 ? 0 : static_cast<long long>(n);
}

// Constructed when the library is loaded, after HDF5 has registered its own exit handler
// (H5open does that), so this destructor runs before HDF5 shuts down: it marks the process
// as exiting and closes what is still open while HDF5 can still write it.
struct ExitGuard {
    ExitGuard() {
        std::lock_guard lock(libraryMutex());
        ensureInitialised();
    }
    ~ExitGuard() {
        std::lock_guard lock(libraryMutex());
        g_exiting = true;
        HandleTable::instance().closeAll();
    }
} g_exitGuard;

}  // namespace

void ensureInitialised() {
    if (g_initialised) return;
    g_initialised = true;
    H5open();
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    g_baseline.types = members(H5I_DATATYPE);
    g_baseline.spaces = members(H5I_DATASPACE);
    g_baseline.lists = members(H5I_GENPROP_LST);
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
    // Files, groups, datasets and attributes, plus transient types, spaces and property
    // lists above what HDF5 itself keeps.
    long long count = members(H5I_FILE) + members(H5I_GROUP) + members(H5I_DATASET) +
                      members(H5I_ATTR);
    count += members(H5I_DATATYPE) - g_baseline.types;
    count += members(H5I_DATASPACE) - g_baseline.spaces;
    count += members(H5I_GENPROP_LST) - g_baseline.lists;
    return static_cast<int>(count);
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
