#ifndef QUELLMAR_QMXPERSISTENTSTORAGE_H
#define QUELLMAR_QMXPERSISTENTSTORAGE_H

#include "Mutex.h"
#include "QMXPersistentStorageImplementation.h"

#include <map>
#include <memory>
#include <string>
#include <thread>

namespace Quellmar {

class QMXRegistryInspector;  // read access for tests and diagnostics

// The storage that DAOs, factories and locks share: one per resource name and thread, made
// only through MakeDriver. The registry holds weak references, so a storage lives exactly as
// long as its holders and takes itself out of the registry when the last one lets go.
class QMXPersistentStorage : public QMXPersistentStorageImplementation {
public:
    // The calling thread's storage for the descriptor's resource name, made (and the file
    // created or deferred) on first use. Construction errors pass through unchanged.
    static std::shared_ptr<QMXPersistentStorage> MakeDriver(
        std::shared_ptr<const DataSourceDescriptor> descriptor);

    ~QMXPersistentStorage() override;

private:
    friend class QMXRegistryInspector;

    explicit QMXPersistentStorage(std::shared_ptr<const DataSourceDescriptor>& descriptor);

    // Registry key: resource name, "|", thread id in decimal.
    static std::string stringise(const DataSourceDescriptor& descriptor, std::thread::id thread);

    std::thread::id creator;

    static std::map<std::string, std::weak_ptr<QMXPersistentStorage>> s_drivers;
    static synchronization::Mutex s_lock;
};

}  // namespace Quellmar

#endif
