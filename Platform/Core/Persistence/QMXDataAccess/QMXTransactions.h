#ifndef QUELLMAR_QMXTRANSACTIONS_H
#define QUELLMAR_QMXTRANSACTIONS_H

#include "QMXDataAccessExport.h"

#include "QMXHandles.h"
#include "Transactions.h"

#include <memory>
#include <string>

namespace Quellmar {

class QMXPersistentStorage;
class TransactionStack;

/// A file lock on a storage: while in force the file is open read-write (exclusive) or
/// read-only (shared); ending it commits and closes the file. The host's transaction stack
/// takes, relates and ends locks; the library only builds them.
class QMX_DATAACCESS_API QMXLockTransaction : public LockingTransaction {
public:
    /// Throws DataSourceException "No storage defined!" for an empty pointer.
    explicit QMXLockTransaction(std::shared_ptr<QMXPersistentStorage> storage);
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXLockTransaction(const QMXLockTransaction&) = default;
    ///@}
    /// Takes `other`'s storage and state; `other` keeps no storage.
    QMXLockTransaction(QMXLockTransaction&& other) noexcept;
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXLockTransaction& operator=(const QMXLockTransaction&) = default;
    ///@}
    /// Takes `other`'s storage and state; `other` keeps no storage.
    QMXLockTransaction& operator=(QMXLockTransaction&& other) noexcept;
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    ~QMXLockTransaction() override = default;
    ///@}

    /// Always true; ends the lock when it is in force (see release()).
    bool revert() override;
    /// Opens the file in this lock's mode. The lock counts as in force even when this throws
    /// (HDFException "Driver check failed!"), so ending it still commits and closes. An
    /// exclusive lock first waits for another thread's writing unit on the same file to end
    /// (QMXWriterGate) and throws DataSourceException when it does not end in time.
    void lock() override;
    /// Whether `other` still needs taking: true for another data source, false when this lock
    /// covers it. Throws InvalidTransaction "Incompatible locking requests." for a foreign
    /// transaction or an exclusive request against this shared lock.
    bool isCompatible(const LockingTransaction* other) const override;

    /// Whether the lock is in force: lock() ran (even when it threw) and it has not ended.
    bool isLocked() const { return locked; }
    /// The storage the lock is on.
    const std::shared_ptr<QMXPersistentStorage>& getStorage() const { return storage; }

protected:
    /// The end of a lock in force. The storage counts the locks in force on it: the last one to
    /// end commits and closes the file; the last exclusive one with shared ones left commits
    /// the file durably; other ends leave it open. A file that could not be committed is told
    /// to the thread's ReleaseReport (the transaction stack ending this lock), or logged at
    /// ERROR when there is none; so is an end whose changes stay with another open unit of
    /// work of this thread. Never throws.
    void release();

private:
    std::shared_ptr<QMXPersistentStorage> storage;
    bool locked;
};

/// Write access: the file open read-write.
class QMX_DATAACCESS_API ExclusiveFileLockTransaction : public QMXLockTransaction {
public:
    /// A write lock on `storage`, not yet taken. Throws DataSourceException "No storage
    /// defined!" for an empty pointer.
    explicit ExclusiveFileLockTransaction(std::shared_ptr<QMXPersistentStorage> storage);
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    ExclusiveFileLockTransaction(const ExclusiveFileLockTransaction&) = default;
    ExclusiveFileLockTransaction& operator=(const ExclusiveFileLockTransaction&) = default;
    ///@}
    /// Ends a lock still in force.
    ~ExclusiveFileLockTransaction() override;

    /// Always true.
    bool isExclusive() const override { return true; }
};

/// Read access: the file open read-only.
class QMX_DATAACCESS_API SharedFileLockTransaction : public QMXLockTransaction {
public:
    /// A read lock on `storage`, not yet taken. Throws DataSourceException "No storage
    /// defined!" for an empty pointer.
    explicit SharedFileLockTransaction(std::shared_ptr<QMXPersistentStorage> storage);
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    SharedFileLockTransaction(const SharedFileLockTransaction&) = default;
    SharedFileLockTransaction& operator=(const SharedFileLockTransaction&) = default;
    ///@}
    /// Ends a lock still in force.
    ~SharedFileLockTransaction() override;

    /// Always false.
    bool isExclusive() const override { return false; }
};

/// Pushes a file lock of the given kind on `storage` onto `stack`; a lock the stack already
/// holds on the same file that covers it is kept instead. Throws DataSourceException
/// "No storage defined!" for an empty pointer, before the stack is touched.
QMX_DATAACCESS_API void pushFileLock(TransactionStack& stack,
                                     std::shared_ptr<QMXPersistentStorage> storage, bool exclusive);

/// Switches the file library's flushing off, process-wide, until reverted or destroyed. Switches
/// do not nest: the first one to end switches flushing on for all.
class QMX_DATAACCESS_API DisableFlushingTransaction : public AtomicTransaction {
public:
    DisableFlushingTransaction();
    /// A copy does not switch flushing off, but its end switches it on.
    DisableFlushingTransaction(const DisableFlushingTransaction& other);
    /// Changes nothing: flushing stays as it is.
    DisableFlushingTransaction& operator=(const DisableFlushingTransaction& other);
    ~DisableFlushingTransaction() override;

    bool revert() override;
};

/// Undoes the creation of one dataset: revert() removes `name` from the group at `path`. The
/// creating DAO fills in `path` and `name`. Holds a reference of its own on the file handle.
class QMX_DATAACCESS_API QMXCreationTransaction : public AtomicTransaction {
public:
    /// Throws DataSourceException "Could not increase reference to handle" when the library
    /// refuses the reference; a handle of 0 or less is held as -1.
    explicit QMXCreationTransaction(int fileHandle);
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    ~QMXCreationTransaction() override = default;
    ///@}

    /// True exactly when the dataset was removed; never throws.
    bool revert() override;

    /// The file the dataset is in (a reference of the transaction's own).
    GroupHandle file;
    /// Group path of the dataset; set by the creating DAO.
    std::string path;
    /// Name of the dataset in that group; set by the creating DAO.
    std::string name;
};

/// Undoes the creation of a serialized object (blob DAOs).
class QMX_DATAACCESS_API BlobCreation : public QMXCreationTransaction {
public:
    /// A creation in the file `fileHandle`; throws as QMXCreationTransaction does.
    explicit BlobCreation(int fileHandle) : QMXCreationTransaction(fileHandle) {}
};

/// Undoes the creation of a vector or array (vector DAOs).
class QMX_DATAACCESS_API VectorCreation : public QMXCreationTransaction {
public:
    /// A creation in the file `fileHandle`; throws as QMXCreationTransaction does.
    explicit VectorCreation(int fileHandle) : QMXCreationTransaction(fileHandle) {}
};

/// Undoes the appends of one unit of work to one vector or array: revert() shortens the dataset
/// back to the element count it had before and, for an array, writes its row count back into
/// "Rows". Holds a reference of its own on the file handle.
class QMX_DATAACCESS_API VectorAppend : public AtomicTransaction {
public:
    /// `rows` is the array's row count before the append, -1 for a vector. Throws
    /// DataSourceException "Could not increase reference to handle" when the library refuses
    /// the reference.
    VectorAppend(int fileHandle, std::string path, std::string name, long long count, int rows);
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    ~VectorAppend() override = default;
    ///@}

    /// True exactly when the dataset is back at its old length (and its old "Rows"); never
    /// throws.
    bool revert() override;

    /// The file the dataset is in (a reference of the transaction's own).
    GroupHandle file;
    /// Group path of the dataset.
    std::string path;
    /// Name of the dataset in that group.
    std::string name;
    /// Element count before the append.
    long long count;
    /// Row count before the append; -1 for a vector.
    int rows;
};

}  // namespace Quellmar

#endif
