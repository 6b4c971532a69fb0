#include "Call.h"
#include "HandleTable.h"
#include "Library.h"
#include "QMXL.h"

#include <hdf5.h>

using namespace Quellmar::qmxfile;

extern "C" int QMXLregister(void) {
    Call call("QMXLregister");
    return call.exiting() ? call.fail("the process is exiting") : 1;
}

extern "C" int QMXLgetSkipCleanup(void) {
    return isExiting() ? 1 : 0;
}

extern "C" int QMXLsetflush(int on) {
    Call call("QMXLsetflush");
    setFlushing(on != 0);
    return 1;
}

extern "C" int QMXLgetOpenObjectCount(void) {
    Call call("QMXLgetOpenObjectCount");
    if (call.exiting())
        return 0;
    // Files, groups, datasets, committed types and attributes of every open file, whoever
    // opened them, plus the compound types of the handle table. Transient types, spaces
    // and property lists never outlive the call that made them (the shared file-access lists
    // are not counted by HDF5 either).
    const ssize_t inFiles = H5Fget_obj_count(static_cast<hid_t>(H5F_OBJ_ALL), H5F_OBJ_ALL);
    if (inFiles < 0)
        return call.failHdf5("cannot count the open objects");
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
