#ifndef QUELLMAR_QMXPERSISTENTSTORAGEIMPLEMENTATION_H
#define QUELLMAR_QMXPERSISTENTSTORAGEIMPLEMENTATION_H

#include "QMXDataAccessExport.h"

#include "DataSourceDescriptor.h"
#include "QMXPersistentStorageDriver.h"

#include <memory>
#include <string>

namespace Quellmar {

/// One data source (one container file) for as long as DAOs work on it. Construction decides
/// whether the file is created now, left to be opened on demand, or refused; the lock
/// transactions then open it in the mode they need (checkDriver) and commit and close it again.
class QMX_DATAACCESS_API QMXPersistentStorageImplementation {
public:
    /// Throws DataSourceException "Cannot access datasource" when the open decision refuses.
    explicit QMXPersistentStorageImplementation(
        std::shared_ptr<const DataSourceDescriptor> descriptor);
    virtual ~QMXPersistentStorageImplementation();

    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXPersistentStorageImplementation(const QMXPersistentStorageImplementation&) = delete;
    QMXPersistentStorageImplementation& operator=(const QMXPersistentStorageImplementation&) =
        delete;
    ///@}

    /// -1: refused; the created file's handle; 0: an existing file left to checkDriver.
    int open();
    /// Closes the file's objects and handles; true unless the driver fails.
    bool closeFile();
    /// Closes the file's open objects and flushes its metadata; 1, or -1 (also with no file).
    int commit();
    /// Closes the file and compacts it; the next checkDriver reopens it.
    bool deflate();
    /// Opens the file read-write (exclusive) or read-only, reopening it when it is open in the
    /// other mode. Throws DataSourceException "Not an QMZ File" for an open non-QMZ file.
    bool checkDriver(bool exclusive);

    // ---- Locks in force -------------------------------------------------------------------
    // The lock transactions of every unit of work on this storage (one thread) are counted:
    // the file is committed and closed when the last of them ends, not when the first does, so
    // a unit nested in another one cannot end the outer one's work.

    /// Counts a lock in force and opens the file for it. An exclusive lock first passes the
    /// file's writer gate (QMXWriterGate: DataSourceException when another thread's writing unit
    /// does not end in time), then checkDriver(true). A shared lock taken while other locks are
    /// in force on a file open read-write is served by that open; otherwise checkDriver(false).
    /// The lock counts as in force also when this throws or answers false.
    bool takeLock(bool exclusive);

    /// What ending a lock did to the file.
    struct LockEnd {
        bool failed = false;    ///< the file's changes could not be committed (see cause)
        bool deferred = false;  ///< another writing lock of this thread still holds the file
        std::string cause;      ///< why the commit failed; empty otherwise
    };
    /// Ends a lock counted by takeLock. The last lock in force commits and closes the file (also
    /// making it durable when other opens in the process keep HDF5's file open); the last
    /// exclusive one with shared ones left commits the file durably and keeps it open; any other
    /// leaves the file as it is.
    LockEnd endLock(bool exclusive);
    /// Locks counted by takeLock() and not yet ended.
    int locksInForce() const { return m_locksInForce; }

    /// The descriptor the storage was made for.
    std::shared_ptr<const DataSourceDescriptor> getDescriptor() const { return descriptor; }
    /// The current file handle, -1 while no file is open.
    int getHandleToStorage() const;

protected:
    /// Deletes the driver, closing what is still open; always true.
    bool close();

private:
    bool openForWriting() const;
    /// Commits with the driver and, when `durably`, makes the journal commit now rather than at
    /// the close. Returns the cause of a failure, empty on success.
    std::string commitWrites(bool durably);
    void leaveGate();

    std::unique_ptr<QMXPersistentStorageDriver> driver;
    std::shared_ptr<const DataSourceDescriptor> descriptor;
    int m_locksInForce = 0;
    int m_writersInForce = 0;
    std::string m_gateKey;  ///< the writer gate this storage passed; empty when none
};

}  // namespace Quellmar

#endif
