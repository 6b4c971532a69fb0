#ifndef QUELLMAR_QMXFILE_CALL_H
#define QUELLMAR_QMXFILE_CALL_H

#include "HandleTable.h"
#include "Library.h"

#include <hdf5.h>

#include <mutex>
#include <string>

namespace Quellmar::qmxfile {

// The frame of every entry point: takes the process-wide lock, makes sure HDF5 is set up
// for this thread (its error printing is per thread) and records failures for
// QMXLgetLastErrorMessage and QMXLwalkErrorStack.
class Call {
public:
    // Unless keepsItem, the call first closes the data item the previous call may have kept
    // open for it, and unless keepsGroup the group a creation kept (see KeptItem.h).
    explicit Call(const char* function, bool keepsItem = false, bool keepsGroup = false);
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    // A failure found by this library: "function: why". Always -1.
    int fail(const std::string& why);
    // A failure reported by HDF5: "function: why: <HDF5's most specific reason>", with
    // HDF5's error stack kept for QMXLwalkErrorStack. Call it before any other HDF5 call.
    int failHdf5(const std::string& why);
    // A failure because nothing is stored under the name (or a group on the way is missing),
    // and one because something of another kind is: callers that ask whether an object exists
    // answer "no" to these and report every other failure (damage above all).
    int failMissing(const std::string& why);
    int failOtherKind(const std::string& why);

    // The live handle, or null after recording a failure.
    Entry* entry(int handle);
    // A file handle; any other live handle is refused.
    Entry* fileEntry(int handle);
    // A handle that can hold groups and datasets below it: a file or a group.
    Entry* location(int handle);
    // Any handle that can carry attributes: a file, a group or a dataset.
    Entry* attributeOwner(int handle);
    // A text argument; null is refused (and empty too unless allowEmpty).
    bool text(const char* value, const char* what, bool allowEmpty = false);
    bool out(const void* pointer, const char* what);

    // True once the process is exiting: HDF5 may be gone.
    bool exiting() const;

private:
    // The first failure of the write session of the file the call's handle lies in; empty
    // when there was none.
    std::string sessionFailure() const;
    // A failure recorded as damage is put down to that failure, when there was one.
    void blameSessionFailure();

    std::unique_lock<std::recursive_mutex> m_lock;
    const char* m_function;
    hid_t m_object = H5I_INVALID_HID;  // the handle's object, once entry() found it
};

// Describes a handle's place for messages: "'/a/b' in file '/tmp/x.qmz'".
std::string describe(const Entry& location, const std::string& path);
std::string quoted(const std::string& text);

}  // namespace Quellmar::qmxfile

#endif
