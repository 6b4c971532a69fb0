#include "Call.h"
#include "FileAccess.h"
#include "FreeLists.h"
#include "Format.h"
#include "HeaderCheck.h"
#include "JournalDriver.h"
#include "Library.h"
#include "Markers.h"
#include "Memory.h"
#include "QMXL.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

using namespace Quellmar::qmxfile;

namespace {

// HDF5 looks for its signature at 0 and at every power of two from 512 on.
bool hasHdf5Signature(const std::string& name, long long size) {
    static const char kSignature[8] = {'\211', 'H', 'D', 'F', '\r', '\n', '\032', '\n'};
    std::ifstream in(name, std::ios::binary);
    for (long long offset = 0; offset + 8 <= size; offset = offset ? offset * 2 : 512) {
        char buffer[8] = {};
        in.seekg(offset);
        if (!in.read(buffer, 8))
            return false;
        if (std::memcmp(buffer, kSignature, 8) == 0)
            return true;
    }
    return false;
}

// Explains a failed open or create better than HDF5's stack alone.
int failOpen(Call& call, const std::string& name, bool writable, bool creating) {
    const std::string what = std::string(creating ? "cannot create file " : "cannot open file ") +
                             quoted(name) +
                             (creating   ? ""
                              : writable ? " for writing"
                                         : " for reading");
    struct stat st {};
    if (!creating && ::stat(name.c_str(), &st) != 0)
        return call.fail(what + ": " + std::strerror(errno));
    if (!creating && S_ISDIR(st.st_mode))
        return call.fail(what + ": it is a directory");
    if (!creating && !hasHdf5Signature(name, st.st_size))
        return call.fail(what + ": it is not an HDF5 file");
    return call.failHdf5(what);
}

int registerFile(Call& call, Hid id, const std::string& name, bool readOnly, bool native,
                 bool created = false) {
    auto info = std::make_shared<FileInfo>();
    info->headerChecks = headerChecksOf(id.get());
    if (created)
        trustNewObject(id.get());  // the root group is HDF5's own, maybe unwritten yet
    // The root's attributes (the marker, the format version) are read right after the open.
    else if (!checkPath(id.get(), Path{}, info->headerChecks))
        return call.failHdf5("cannot open file " + quoted(name));
    // Every item's read and write asks for the checksum marker; a program that opens the file
    // for each unit of work would read it at every open.
    if (const std::optional<Checksums> known = recalledChecksums(info->headerChecks))
        primeChecksums(id.get(), *known);
    else if (!created) {
        // A marker that could not be read is not kept: the next open asks again.
        if (const std::optional<Checksums> found = readChecksums(id.get()))
            rememberChecksums(info->headerChecks, *found);
    }
    info->name = name;
    info->readOnly = readOnly;
    info->native = native;
    const int handle = HandleTable::instance().add(std::move(id), Kind::File, 0, std::move(info));
    return handle > 0 ? handle : call.fail("no handle values left in this process");
}

int openFile(const char* function, const char* name, bool writable, bool native) {
    Call call(function);
    if (!call.text(name, "file name"))
        return -1;
    Hid id = openFileId(name, writable);
    if (!id)
        return failOpen(call, name, writable, false);
    return registerFile(call, std::move(id), name, !writable, native);
}

int createFile(const char* function, const char* name, bool native) {
    Call call(function);
    if (!call.text(name, "file name"))
        return -1;
    Hid id = createFileId(name);
    if (!id)
        return failOpen(call, name, true, true);
    if (!native && writeMarker(id.get(), formatVersionFor(name)) < 0)
        return call.failHdf5("cannot write the container marker into " + quoted(name));
    if (writeChecksumsMarker(id.get()) < 0)
        return call.failHdf5("cannot write the checksum marker into " + quoted(name));
    return registerFile(call, std::move(id), name, false, native, true);
}

// A close that went through but could not commit the file's changes (JournalDriver.h).
int uncommittedClose(Call& call, const std::string& name) {
    const std::string failure = takeKeptFailure();
    if (failure.empty())
        return 1;
    return call.fail("closed " + quoted(name) + " without committing it: " + failure);
}

}  // namespace

extern "C" int QMXLcreateFile(const char* name) {
    return createFile("QMXLcreateFile", name, false);
}
extern "C" int QMXLcreateNativeHDF5(const char* name) {
    return createFile("QMXLcreateNativeHDF5", name, true);
}
extern "C" int QMXLopenFile(const char* name) {
    return openFile("QMXLopenFile", name, true, false);
}
extern "C" int QMXLopenFileReadOnly(const char* name) {
    return openFile("QMXLopenFileReadOnly", name, false, false);
}
extern "C" int QMXLopenNativeHDF5(const char* name) {
    return openFile("QMXLopenNativeHDF5", name, true, true);
}
extern "C" int QMXLopenNativeHDF5ReadOnly(const char* name) {
    return openFile("QMXLopenNativeHDF5ReadOnly", name, false, true);
}

extern "C" int QMXLcloseFile(int file) {
    Call call("QMXLcloseFile");
    if (call.exiting())
        return 1;
    Entry* e = call.fileEntry(file);
    if (!e)
        return -1;
    const std::string name = e->info->name;
    takeKeptFailure();  // a stale one belongs to an earlier close
    if (HandleTable::instance().drop(file) < 0)
        return call.failHdf5("closing " + quoted(name) + " failed");
    releaseSpareHdf5Blocks();
    return uncommittedClose(call, name);
}

extern "C" int QMXLisQMZFileNoLock(int file) {
    Call call("QMXLisQMZFileNoLock");
    Entry* e = call.fileEntry(file);
    if (!e)
        return -1;
    // Native files are accepted by their own entry points: the storage asks the same
    // question of both drivers' handles.
    if (e->info->native)
        return 1;
    // Written at creation, and rewritten only through the attribute calls, which forget the
    // remembered answer: what an earlier session of the unchanged file found holds.
    if (const std::optional<bool> known = recalledMarker(e->info->headerChecks))
        return *known ? 1 : 0;
    const int marked = hasMarker(e->id.get());
    if (marked < 0)
        return call.failHdf5("cannot look for the container marker in " + quoted(e->info->name));
    rememberMarker(e->info->headerChecks, marked == 1);
    return marked;
}

extern "C" int QMXLisFileReadOnly(int file) {
    Call call("QMXLisFileReadOnly");
    Entry* e = call.fileEntry(file);
    return e ? (e->info->readOnly ? 1 : 0) : -1;
}

extern "C" int QMXLgetFileName(int file, char** name) {
    Call call("QMXLgetFileName");
    if (!call.out(name, "file name"))
        return -1;
    *name = nullptr;
    Entry* e = call.entry(file);
    if (!e)
        return -1;
    if (!e->info)
        return call.fail("handle " + std::to_string(file) + " belongs to no file");
    *name = allocateString(e->info->name);
    return *name ? 1 : call.fail("out of memory");
}

extern "C" int QMXLcloseOpenedObjectsForFile(int file) {
    Call call("QMXLcloseOpenedObjectsForFile");
    if (call.exiting())
        return 1;
    Entry* e = call.entry(file);
    if (!e)
        return -1;
    if (e->kind == Kind::Datatype)
        return call.fail("handle " + std::to_string(file) + " belongs to no file");
    HandleTable& table = HandleTable::instance();
    bool failed = false;
    for (int handle : table.handlesOfFile(e->file, true))
        if (table.closeNow(handle) < 0)
            failed = true;
    return failed ? call.failHdf5("closing an object failed") : 1;
}

extern "C" int QMXLcloseAllFileHandlesForFile(int file) {
    Call call("QMXLcloseAllFileHandlesForFile");
    if (call.exiting())
        return 1;
    Entry* e = call.fileEntry(file);
    if (!e)
        return -1;
    const std::string name = e->info->name;
    takeKeptFailure();
    // Every reference goes, copies held by transactions included.
    if (HandleTable::instance().closeNow(file) < 0)
        return call.failHdf5("closing " + quoted(name) + " failed");
    releaseSpareHdf5Blocks();
    return uncommittedClose(call, name);
}

extern "C" int QMXLcommitFile(int file) {
    Call call("QMXLcommitFile");
    Entry* e = call.fileEntry(file);
    if (!e)
        return -1;
    if (e->info->readOnly)
        return 1;
    std::string error;
    if (!commitFileNow(e->id.get(), error))
        return call.fail("cannot commit " + quoted(e->info->name) + ": " + error);
    return 1;
}

extern "C" int QMXLgetFileOpenCount(int file) {
    Call call("QMXLgetFileOpenCount");
    Entry* e = call.fileEntry(file);
    if (!e)
        return -1;
    // Every file identifier of the process that shares this one's open file, this one included.
    const ssize_t count = H5Fget_obj_count(e->id.get(), H5F_OBJ_FILE);
    return count < 0 ? call.failHdf5("cannot count the opens of " + quoted(e->info->name))
                     : static_cast<int>(count);
}

extern "C" int QMXLflushMetadata(int file) {
    Call call("QMXLflushMetadata");
    Entry* e = call.entry(file);
    if (!e)
        return -1;
    if (!e->info)
        return call.fail("handle " + std::to_string(file) + " belongs to no file");
    if (!flushingEnabled() || e->info->readOnly)
        return 1;
    herr_t flushed;
    {
        const KeepFailures keep;  // a failed flush would leave HDF5 unable to flush the file again
        takeKeptFailure();
        flushed = H5Fflush(e->id.get(), H5F_SCOPE_LOCAL);
    }
    const std::string failure = takeKeptFailure();
    if (!failure.empty())
        return call.fail("flushing " + quoted(e->info->name) + " failed: " + failure);
    if (flushed < 0)
        return call.failHdf5("flushing " + quoted(e->info->name) + " failed");
    return 1;
}
