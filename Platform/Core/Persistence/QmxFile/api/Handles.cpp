#include "Call.h"
#include "KeptItem.h"
#include "QMXL.h"

using namespace Quellmar::qmxfile;

extern "C" int QMXLcloseObject(int handle) {
    // Closing a dataset handle frees no file or group a kept item or group was reached
    // through: they stay kept. Anything else may, and releases them.
    Call call("QMXLcloseObject", true, true);
    if (call.exiting())
        return 1;
    const Entry* e = call.entry(handle);
    if (!e || e->kind != Kind::Dataset) {
        releaseKeptItem();
        releaseKeptGroup();
    }
    if (!e)
        return -1;
    if (HandleTable::instance().drop(handle) < 0)
        return call.failHdf5("closing handle " + std::to_string(handle) + " failed");
    return 1;
}

extern "C" int QMXLcopyHandle(int handle) {
    // Only counts a reference: what other calls keep open stays valid (a host copies the file
    // handle for every creation it may have to undo, between one creation and the next).
    Call call("QMXLcopyHandle", true, true);
    Entry* e = call.entry(handle);
    if (!e)
        return -1;
    ++e->refs;
    return handle;
}

extern "C" int QMXLisValid(int handle) {
    Call call("QMXLisValid");
    if (call.exiting())
        return 0;
    return HandleTable::instance().find(handle) ? 1 : 0;
}

extern "C" int QMXLisValidGroup(int handle) {
    Call call("QMXLisValidGroup");
    if (call.exiting())
        return 0;
    // A file handle stands for its root group.
    const Entry* e = HandleTable::instance().find(handle);
    return e && (e->kind == Kind::Group || e->kind == Kind::File) ? 1 : 0;
}
