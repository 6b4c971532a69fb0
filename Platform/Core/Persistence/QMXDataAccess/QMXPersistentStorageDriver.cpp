#include "QMXPersistentStorageDriver.h"

#include "FileName.h"
#include "QMXL.h"
#include "QMXLogLine.h"
#include "TransferFileHandle.h"

#include <cstring>

namespace Quellmar {

namespace {
const Logging s_log(__FILE__);

// File-handling modes: shared read, shared read-write.
constexpr int kSharedRead = 33;
constexpr int kSharedReadWrite = 35;
constexpr int kCommitFileAttempts = 10;
}  // namespace

QMXPersistentStorageDriver::QMXPersistentStorageDriver() : handle(-1) {}

QMXPersistentStorageDriver::~QMXPersistentStorageDriver() {
    if (handle <= 0)
        return;
    int rc = 1;
    // While the process exits the library may already have dropped the objects.
    if (QMXLgetSkipCleanup() != 1)
        rc = QMXLcloseOpenedObjectsForFile(handle) | 1;
    rc = rc | QMXLcloseAllFileHandlesForFile(handle);
    QMX_DEBUG(s_log,
              "*** Persistence: Closing all handles for " << handle << ". Return code " << rc);
    handle = -1;
}

int QMXPersistentStorageDriver::create(const std::string& fileName) {
    handle = QMXLcreateFile(fileName.c_str());
    QMX_DEBUG(s_log, "*** Persistence: created handle " << handle << " for filename " << fileName);
    return handle;
}

int QMXPersistentStorageDriver::open(const std::string& fileName, bool readOnly) {
    {
        TransferFileHandle transfer(FileName(fileName), readOnly ? kSharedRead : kSharedReadWrite);
        handle = readOnly ? QMXLopenFileReadOnly(fileName.c_str()) : QMXLopenFile(fileName.c_str());
    }
    if (handle < 0)
        return handle;
    if (QMXLisQMZFileNoLock(handle) != 1) {
        QMX_DEBUG(s_log, "*** Persistence: reopened handle fails for filename "
                             << fileName << " Not a QMZ file.");
        QMXLcloseFile(handle);
        handle = -1;
    }
    QMX_DEBUG(s_log, "*** Persistence: opened handle " << handle << " for filename " << fileName);
    return handle;
}

int QMXPersistentStorageDriver::commit() {
    return commit(handle);
}

int QMXPersistentStorageDriver::close() {
    if (handle > 0)
        return close(handle);
    return 1;
}

int QMXPersistentStorageDriver::commitFile(const std::string& fileName) {
    for (int attempt = 0; attempt < kCommitFileAttempts; ++attempt) {
        int opened = QMXLopenFile(fileName.c_str());
        if (opened > 0) {
            const int rc = commit(opened);
            // The handle is ours alone: give it back rather than leave the file open.
            QMXLcloseFile(opened);
            return rc;
        }
    }
    return -1;
}

int QMXPersistentStorageDriver::close(int& fileHandle) {
    if (fileHandle < 1)
        return 1;
    if (QMXLcloseOpenedObjectsForFile(fileHandle) < 0)
        return -1;
    if (QMXLcloseAllFileHandlesForFile(fileHandle) < 0) {
        fileHandle = -1;
        return -1;
    }
    QMX_DEBUG(s_log, "*** Persistence: closed handle " << fileHandle);
    fileHandle = -1;
    return 1;
}

int QMXPersistentStorageDriver::commit(int& fileHandle) {
    if (fileHandle < 1)
        return -1;
    int rc = QMXLcloseOpenedObjectsForFile(fileHandle);
    if (rc < 0)
        return -1;
    rc = rc | QMXLflushMetadata(fileHandle);
    if (rc < 0)
        return -1;
    QMX_DEBUG(s_log,
              "*** Persistence: committed handle " << fileHandle << " with return code " << rc);
    return 1;
}

int QMXPersistentStorageDriver::findHandle(const std::string& fileName) {
    if (fileName.empty() || handle == -1)
        return -1;
    char* name = nullptr;
    if (QMXLgetFileName(handle, &name) < 0)
        return -1;
    const bool same = name != nullptr && fileName.size() == std::strlen(name) &&
                      std::memcmp(fileName.data(), name, fileName.size()) == 0;
    QMXLreleaseString(&name);
    if (!same)
        return -1;
    switch (QMXLisQMZFileNoLock(handle)) {
        case 1:
            return handle;
        case 0:
            return -2;
        default:
            return -1;
    }
}

}  // namespace Quellmar
