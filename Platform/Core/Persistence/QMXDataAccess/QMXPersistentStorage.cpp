#include "QMXPersistentStorage.h"

#include "DAOExceptions.h"
#include "FileUtilities.h"
#include "QMXL.h"
#include "QMXLogLine.h"

#include <boost/lexical_cast.hpp>

#include <vector>

namespace Quellmar {

namespace {
const Logging s_log(__FILE__);

// The file library is told once, when this library is loaded, that a user has arrived.
[[maybe_unused]] const int s_registered = QMXLregister();

// A thread's id as text, made once per thread: formatting it through a stream cost as much as
// the rest of a registry lookup.
const std::string& threadText(std::thread::id thread) {
    thread_local std::thread::id t_id;
    thread_local std::string t_text;
    if (t_text.empty() || t_id != thread) {
        t_text = boost::lexical_cast<std::string>(thread);
        t_id = thread;
    }
    return t_text;
}
}  // namespace

std::map<std::string, std::weak_ptr<QMXPersistentStorage>> QMXPersistentStorage::s_drivers;
// Recursive: a storage dropped while the registry is held (a failed wrap in MakeDriver) takes
// the lock again from its destructor.
synchronization::Mutex QMXPersistentStorage::s_lock(true);

std::string QMXPersistentStorage::stringise(const DataSourceDescriptor& descriptor,
                                            std::thread::id thread) {
    return descriptor.getResourceName() + "|" + threadText(thread);
}

std::string QMXPersistentStorage::fileKeyOf(const DataSourceDescriptor& descriptor,
                                            std::thread::id thread) {
    const std::string canonical =
        FileUtilities::canonicalPath(FileName(descriptor.getResourceName()));
    // An unresolvable name (its directory is missing) names no file yet: no alias to find.
    if (canonical.empty())
        return std::string();
    return canonical + "|" + threadText(thread);
}

std::shared_ptr<QMXPersistentStorage> QMXPersistentStorage::liveStorageOfFile(
    const std::string& fileKey) {
    if (fileKey.empty())
        return nullptr;
    // Every storage locked here is let go only after the walk: a storage whose last other
    // holder let go meanwhile dies with our reference, and its destructor erases its entry.
    std::vector<std::shared_ptr<QMXPersistentStorage>> seen;
    seen.reserve(s_drivers.size());
    for (const auto& entry : s_drivers) {
        seen.push_back(entry.second.lock());
        if (seen.back() && seen.back()->fileKey == fileKey)
            return seen.back();
    }
    return nullptr;
}

QMXPersistentStorage::QMXPersistentStorage(std::shared_ptr<const DataSourceDescriptor>& descriptor)
    : QMXPersistentStorageImplementation(descriptor), creator(std::this_thread::get_id()) {}

std::shared_ptr<QMXPersistentStorage> QMXPersistentStorage::MakeDriver(
    std::shared_ptr<const DataSourceDescriptor> descriptor) {
    if (!descriptor)
        throw DataSourceException("No datasource defined!");
    const std::string key = stringise(*descriptor, std::this_thread::get_id());

    synchronization::ScopedLock guard(s_lock);
    auto entry = s_drivers.find(key);
    if (entry != s_drivers.end()) {
        if (std::shared_ptr<QMXPersistentStorage> live = entry->second.lock())
            return live;
    }
    // Another spelling of a file this thread already has ("./x", a symbolic link): the same
    // storage, so one thread never holds one file twice. No entry is added for the spelling.
    const std::string fileKey = fileKeyOf(*descriptor, std::this_thread::get_id());
    if (std::shared_ptr<QMXPersistentStorage> live = liveStorageOfFile(fileKey))
        return live;
    // The journal that makes a unit of work recoverable lies beside one name of the file; from
    // a second name (hard link) it cannot be found, so a crashed unit would read as a torn file
    // there. Such a file is refused for reading too: whether a journal waits beside the other
    // name cannot be told from this one.
    const std::string& name = descriptor->getResourceName();
    if (const unsigned long links = FileUtilities::linkCount(FileName(name)); links > 1) {
        QMX_ERROR(s_log, "File " << name << " has " << links
                                 << " hard links; a journaled file must have one name");
        throw DataSourceException("File " + name + " has " + std::to_string(links) +
                                  " hard links; a journaled file must have one name");
    }
    // Built under the lock, so no two opens or creations run at once in the process.
    std::shared_ptr<QMXPersistentStorage> storage(new QMXPersistentStorage(descriptor));
    storage->registryKey = key;
    storage->fileKey = fileKey;
    if (entry != s_drivers.end())
        entry->second = storage;  // reuse the expired entry
    else
        s_drivers.emplace(key, storage);
    QMX_DEBUG(s_log, "*** Persistence: Added new driver for " << descriptor->getResourceName()
                                                              << " and hold a total of "
                                                              << s_drivers.size() << " drivers.");
    return storage;
}

QMXPersistentStorage::~QMXPersistentStorage() {
    // The file is closed outside the registry lock; only the bookkeeping runs under it.
    close();
    const std::shared_ptr<const DataSourceDescriptor> descriptor = getDescriptor();

    synchronization::ScopedLock guard(s_lock);
    auto entry = s_drivers.find(registryKey);
    // A live entry belongs to a newer storage of the creator thread: leave it.
    if (entry != s_drivers.end() && entry->second.expired())
        s_drivers.erase(entry);
    QMX_DEBUG(s_log, "*** Persistence: " << descriptor->getResourceName()
                                         << " removed from drivers. Currently holding "
                                         << s_drivers.size() << " drivers.");
}

}  // namespace Quellmar
