#include "QMXPersistentStorageImplementation.h"

#include "DAOExceptions.h"
#include "FileName.h"
#include "FileUtilities.h"
#include "QMXL.h"
#include "QMXLogLine.h"
#include "QMXWriterGate.h"

#include <sys/stat.h>

namespace Quellmar {

namespace {
const Logging s_log(__FILE__);

// Compaction setting handed to the file library; its meaning is the library's.
constexpr int kDeflatePercent = 100;
}  // namespace

QMXPersistentStorageImplementation::QMXPersistentStorageImplementation(
    std::shared_ptr<const DataSourceDescriptor> source)
    : descriptor(std::move(source)) {
    if (!descriptor)
        throw DataSourceException("No datasource defined!");
    if (descriptor->getNative())
        driver = std::make_unique<QMXNativeHDF5Driver>();
    else
        driver = std::make_unique<QMXPersistentStorageDriver>();
    // Any failure, not only -1: a create that failed must not leave a storage that looks usable.
    if (open() < 0) {
        driver.reset();
        throw DataSourceException("Cannot access datasource");
    }
}

QMXPersistentStorageImplementation::~QMXPersistentStorageImplementation() {
    leaveGate();
}

int QMXPersistentStorageImplementation::open() {
    const std::string& resource = descriptor->getResourceName();
    const FileName fileName(resource);
    // One look at the file answers both questions (FileUtilities::exists, ::isReadOnly): every
    // unit of work of a host passes here, and each system call counts in a small one.
    struct stat st {};
    const bool found = !fileName.empty() && ::stat(fileName.toString().c_str(), &st) == 0;
    const bool exists = found && !S_ISDIR(st.st_mode);
    const bool readOnlyFile = found && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    QMX_TRACE(s_log, "File[  : " << fileName.toString() << "] exists : " << (exists ? 1 : 0));

    const bool readOnly = descriptor->getReadOnly();
    if (!descriptor->getCreateAlways() && exists) {
        if (readOnly)
            return 0;
        if (!readOnlyFile)
            return 0;
        QMX_ERROR(s_log, "Overwriting of existing readonly file requested");
        return -1;
    }
    if (readOnly) {
        QMX_ERROR(s_log, "Readonly open requested with createalways or nonexistent file");
        return -1;
    }
    if (exists && readOnlyFile) {
        QMX_ERROR(s_log, "Overwriting of existing readonly file requested");
        return -1;
    }
    QMX_INFO(s_log, "*** Persistence: File " << resource << " is being created.");
    return driver->create(descriptor->getNativeResourceName());
}

bool QMXPersistentStorageImplementation::close() {
    driver.reset();
    return true;
}

bool QMXPersistentStorageImplementation::closeFile() {
    if (!driver)
        return true;
    return driver->close() != -1;
}

int QMXPersistentStorageImplementation::commit() {
    if (!driver)
        return -1;
    return driver->commit() == 1 ? 1 : -1;
}

bool QMXPersistentStorageImplementation::deflate() {
    if (driver)
        driver->close();
    return QMXLdeflate(descriptor->getNativeResourceName().c_str(), kDeflatePercent) != -1;
}

bool QMXPersistentStorageImplementation::checkDriver(bool exclusive) {
    if (!driver)
        return false;
    const std::string fileName = descriptor->getNativeResourceName();
    const int found = driver->findHandle(fileName);
    if (found == -2)
        throw DataSourceException("Not an QMZ File");
    if (found == -1)
        return driver->open(fileName, !exclusive) > 0;

    const bool writable = QMXLisFileReadOnly(found) == 0;
    if (writable != exclusive) {
        driver->close();
        driver->open(fileName, !exclusive);
    }
    return driver->getFileHandle() > 0;
}

namespace {
std::string lastLibraryError() {
    char* message = nullptr;
    QMXLgetLastErrorMessage(&message);
    if (message == nullptr)
        return "the file library gave no reason";
    std::string text(message);
    QMXLreleaseString(&message);
    return text;
}
}  // namespace

bool QMXPersistentStorageImplementation::openForWriting() const {
    const int handle = getHandleToStorage();
    return handle > 0 && QMXLisFileReadOnly(handle) == 0;
}

void QMXPersistentStorageImplementation::leaveGate() {
    if (m_gateKey.empty())
        return;
    QMXWriterGate::leave(m_gateKey);
    m_gateKey.clear();
}

bool QMXPersistentStorageImplementation::takeLock(bool exclusive) {
    ++m_locksInForce;
    if (exclusive) {
        ++m_writersInForce;
        if (m_gateKey.empty()) {
            const std::string fileName = descriptor->getNativeResourceName();
            std::string key = QMXWriterGate::keyOf(fileName);
            QMXWriterGate::enter(key, descriptor->getResourceName());
            m_gateKey = std::move(key);
        }
    } else if (m_locksInForce > 1 && openForWriting()) {
        return true;  // reopening read-only would end the writing unit's session
    }
    return checkDriver(exclusive);
}

std::string QMXPersistentStorageImplementation::commitWrites(bool durably) {
    const int handle = getHandleToStorage();
    if (commit() != 1)
        return lastLibraryError();
    if (durably && QMXLcommitFile(handle) < 0)
        return lastLibraryError();
    return std::string();
}

QMXPersistentStorageImplementation::LockEnd QMXPersistentStorageImplementation::endLock(
    bool exclusive) {
    LockEnd end;
    if (m_locksInForce > 0)
        --m_locksInForce;
    if (exclusive && m_writersInForce > 0)
        --m_writersInForce;
    // Only a file open for writing has anything to lose; a read-only one commits trivially.
    const bool writing = openForWriting();
    // Only the holder of the gate may commit the shared file durably: anything else in it is
    // another thread's unit's, uncommitted.
    const bool mayCommit = !m_gateKey.empty();
    if (m_locksInForce > 0) {
        if (!exclusive)
            return end;
        if (m_writersInForce > 0) {
            end.deferred = writing;
            return end;
        }
        // The last writer ends while readers of this thread go on: durable now, file stays open.
        if (writing && mayCommit)
            end.cause = commitWrites(true);
        leaveGate();
        end.failed = !end.cause.empty();
        return end;
    }
    // The last lock: commit, then close. Closing HDF5's file commits its journal, unless other
    // opens in the process keep that file open: then the commit must do it.
    const int handle = getHandleToStorage();
    const bool durably = writing && mayCommit && QMXLgetFileOpenCount(handle) > 1;
    std::string cause = commitWrites(durably);
    if (!closeFile() && cause.empty())
        cause = lastLibraryError();
    leaveGate();
    // Without the gate this storage wrote nothing: what failed is another thread's unit's.
    if (writing && mayCommit && !cause.empty()) {
        end.failed = true;
        end.cause = cause;
    }
    return end;
}

int QMXPersistentStorageImplementation::getHandleToStorage() const {
    return driver ? driver->getFileHandle() : -1;
}

}  // namespace Quellmar
