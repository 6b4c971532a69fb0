#ifndef QUELLMAR_QMXGENERICDAOFACTORY_H
#define QUELLMAR_QMXGENERICDAOFACTORY_H

#include "QMXDataAccessExport.h"

#include "DataSourceDescriptor.h"
#include "FileName.h"
#include "QMXPersistentStorage.h"
#include "UserContext.h"

#include <memory>

namespace Quellmar {

/// Turns a descriptor and a user context into a locked, shared storage that DAOs are bound to
/// with setDataSource(getStorage()) and setContext(stack).
class QMX_DATAACCESS_API QMXGenericDAOFactory {
public:
    /// With a context: the read-only intent marks the descriptor read-only and pushes a shared
    /// lock, any other intent an exclusive one. Throws InvalidTransaction "Unable to access
    /// transaction stack." first when the context's stack is gone. Without a context no lock
    /// is pushed; without a descriptor either, the factory holds no storage. The storage comes
    /// from QMXPersistentStorage::MakeDriver, whose exceptions pass on (DataSourceException
    /// "Cannot access datasource" for a file that can be neither opened nor created); so do a
    /// lock's (HDFException "Driver check failed!" for a file that is no container).
    QMXGenericDAOFactory(std::shared_ptr<DataSourceDescriptor> descriptor,
                         const UserContext* context);
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXGenericDAOFactory(const QMXGenericDAOFactory&) = default;
    QMXGenericDAOFactory& operator=(const QMXGenericDAOFactory&) = default;
    ~QMXGenericDAOFactory() = default;
    ///@}

    /// Empty when the factory holds no storage.
    std::shared_ptr<QMXPersistentStorage> getStorage() { return storage; }
    /// Throws DataSourceException "No storage defined!" when the factory holds no storage.
    FileName getFileName() const;

    /// Hands both arguments to the file library; true when it accepted them.
    static bool assignFileVersionToExtension(int version, int (*predicate)(const char*));

private:
    std::shared_ptr<QMXPersistentStorage> storage;
};

/// Exported for hosts that name it; it has no state and no behaviour.
class QMX_DATAACCESS_API QMXDataAccessPort {
public:
    /// Does nothing.
    QMXDataAccessPort();
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXDataAccessPort(const QMXDataAccessPort&) = default;
    ///@}
    /// Does nothing.
    ~QMXDataAccessPort();
    /// Does nothing.
    QMXDataAccessPort& operator=(const QMXDataAccessPort&);
};

}  // namespace Quellmar

#endif
