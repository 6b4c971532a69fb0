#ifndef QUELLMAR_QMXPERSISTENTSTORAGEDRIVER_H
#define QUELLMAR_QMXPERSISTENTSTORAGEDRIVER_H

#include "QMXDataAccessExport.h"

#include <string>

namespace Quellmar {

/// Performs the file-library calls that open, create, commit and close one container file and
/// holds that file's handle (-1 when no file is open). Drivers never throw: every failure comes
/// back as a result code. One driver belongs to one storage and one thread.
class QMX_DATAACCESS_API QMXPersistentStorageDriver {
public:
    QMXPersistentStorageDriver();
    /// Closes whatever of the file is still open; failures are only logged.
    virtual ~QMXPersistentStorageDriver();

    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXPersistentStorageDriver(const QMXPersistentStorageDriver&) = delete;
    QMXPersistentStorageDriver& operator=(const QMXPersistentStorageDriver&) = delete;
    ///@}

    /// Opens a QMZ file; the result replaces the handle (a handle held before is not closed).
    /// -1 when the file opens but is not a QMZ file, otherwise the library's value.
    virtual int open(const std::string& fileName, bool readOnly);
    /// Creates the file and keeps it open read-write; the result replaces the handle.
    virtual int create(const std::string& fileName);
    /// Closes the file's open objects and flushes its metadata; the file stays open. 1 or -1.
    virtual int commit();
    /// Opens the named file and commits it without touching this driver's handle. 1 or -1.
    virtual int commitFile(const std::string& fileName);
    /// Closes the file's objects and handles and forgets the handle; 1 when nothing was open.
    virtual int close();

    /// Closes the objects and file handles of `handle` and sets it to -1; 1 when it held no
    /// file, -1 when the library failed.
    int close(int& handle);
    /// Closes the open objects of `handle` and flushes its metadata; 1, or -1 (also for no file).
    int commit(int& handle);
    /// The handle if it belongs to `fileName` and is a QMZ file; -2 if it belongs to it but is
    /// not a QMZ file; -1 otherwise.
    int findHandle(const std::string& fileName);
    /// The file handle held; -1 when no file is open.
    int getFileHandle() const { return handle; }

protected:
    /// The file handle; -1 when no file is open.
    int handle;
};

/// Driver for plain HDF5 files: no QMZ test when opening.
class QMX_DATAACCESS_API QMXNativeHDF5Driver : public QMXPersistentStorageDriver {
public:
    QMXNativeHDF5Driver() = default;
    ~QMXNativeHDF5Driver() override;

    int open(const std::string& fileName, bool readOnly) override;
    int create(const std::string& fileName) override;
};

}  // namespace Quellmar

#endif
