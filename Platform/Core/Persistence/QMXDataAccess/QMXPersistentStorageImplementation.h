#ifndef QUELLMAR_QMXPERSISTENTSTORAGEIMPLEMENTATION_H
#define QUELLMAR_QMXPERSISTENTSTORAGEIMPLEMENTATION_H

#include "DataSourceDescriptor.h"
#include "QMXPersistentStorageDriver.h"

#include <memory>

namespace Quellmar {

// One data source (one container file) for as long as DAOs work on it. Construction decides
// whether the file is created now, left to be opened on demand, or refused; the lock
// transactions then open it in the mode they need (checkDriver) and commit and close it again.
class QMXPersistentStorageImplementation {
public:
    // Throws DataSourceException "Cannot access datasource" when the open decision refuses.
    explicit QMXPersistentStorageImplementation(
        std::shared_ptr<const DataSourceDescriptor> descriptor);
    virtual ~QMXPersistentStorageImplementation();

    QMXPersistentStorageImplementation(const QMXPersistentStorageImplementation&) = delete;
    QMXPersistentStorageImplementation& operator=(const QMXPersistentStorageImplementation&) =
        delete;

    // -1: refused; the created file's handle; 0: an existing file left to checkDriver.
    int open();
    // Closes the file's objects and handles; true unless the driver fails.
    bool closeFile();
    // Closes the file's open objects and flushes its metadata; 1, or -1 (also with no file).
    int commit();
    // Closes the file and compacts it; the next checkDriver reopens it.
    bool deflate();
    // Opens the file read-write (exclusive) or read-only, reopening it when it is open in the
    // other mode. Throws DataSourceException "Not an QMZ File" for an open non-QMZ file.
    bool checkDriver(bool exclusive);

    std::shared_ptr<const DataSourceDescriptor> getDescriptor() const { return descriptor; }
    // The current file handle, -1 while no file is open.
    int getHandleToStorage() const;

protected:
    // Deletes the driver, closing what is still open; always true.
    bool close();

private:
    std::unique_ptr<QMXPersistentStorageDriver> driver;
    std::shared_ptr<const DataSourceDescriptor> descriptor;
};

}  // namespace Quellmar

#endif
