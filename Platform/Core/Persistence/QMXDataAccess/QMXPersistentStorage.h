#ifndef QUELLMAR_QMXPERSISTENTSTORAGE_H
#define QUELLMAR_QMXPERSISTENTSTORAGE_H

#include "QMXDataAccessExport.h"

#include "Mutex.h"
#include "QMXPersistentStorageImplementation.h"

#include <map>
#include <memory>
#include <string>
#include <thread>

namespace Quellmar {

class QMXRegistryInspector;  // read access for tests and diagnostics

/// The storage that DAOs, factories and locks share: one per file and thread, made only through
/// MakeDriver. Every spelling of one file ("x", "./x", "d/../x", its absolute path, a symbolic
/// link to it) reaches the same storage, so units of work on one thread never hold the file
/// twice under different names. The registry holds weak references, so a storage lives exactly as
/// long as its holders and takes itself out of the registry when the last one lets go.
class QMX_DATAACCESS_API QMXPersistentStorage : public QMXPersistentStorageImplementation {
public:
    /// The calling thread's storage for the descriptor's file, made (and the file created or
    /// deferred) on first use. Construction errors pass through unchanged. A file with more than
    /// one name (hard link) is refused with DataSourceException: its journal could not be found
    /// from every name.
    static std::shared_ptr<QMXPersistentStorage> MakeDriver(
        std::shared_ptr<const DataSourceDescriptor> descriptor);

    ~QMXPersistentStorage() override;

private:
    friend class QMXRegistryInspector;

    explicit QMXPersistentStorage(std::shared_ptr<const DataSourceDescriptor>& descriptor);

    /// Registry key: resource name, "|", thread id in decimal.
    static std::string stringise(const DataSourceDescriptor& descriptor, std::thread::id thread);
    /// The file's canonical path (FileUtilities::canonicalPath), "|", thread id; empty when the
    /// name cannot be resolved. Every spelling of one file on one thread has the same one.
    static std::string fileKeyOf(const DataSourceDescriptor& descriptor, std::thread::id thread);
    /// The live storage registered under any spelling of that file; null when none. Under s_lock.
    static std::shared_ptr<QMXPersistentStorage> liveStorageOfFile(const std::string& fileKey);

    std::thread::id creator;
    /// The key this storage was registered under, and its file key. Kept rather than rebuilt at
    /// destruction: the path a name resolves to can change while the storage lives.
    std::string registryKey;
    std::string fileKey;

    static std::map<std::string, std::weak_ptr<QMXPersistentStorage>> s_drivers;
    static synchronization::Mutex s_lock;
};

}  // namespace Quellmar

#endif
