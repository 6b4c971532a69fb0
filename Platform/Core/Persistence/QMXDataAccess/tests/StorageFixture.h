// Shared by the storage, transaction and DAO tests: a temporary directory, a capture of every
// log line, registry inspection and helpers that make container files and storages.
#ifndef QUELLMAR_TESTS_STORAGEFIXTURE_H
#define QUELLMAR_TESTS_STORAGEFIXTURE_H

#include "DataSourceDescriptor.h"
#include "Logging.h"
#include "Mutex.h"
#include "QMXGenericDAOFactory.h"
#include "QMXL.h"
#include "QMXPersistentStorage.h"
#include "TempDir.h"
#include "TransactionStack.h"
#include "UserContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Quellmar {

// Read access to the storage registry (a friend of QMXPersistentStorage).
class QMXRegistryInspector {
public:
    static std::size_t size() {
        synchronization::ScopedLock guard(QMXPersistentStorage::s_lock);
        return QMXPersistentStorage::s_drivers.size();
    }
    static std::vector<std::string> keys() {
        synchronization::ScopedLock guard(QMXPersistentStorage::s_lock);
        std::vector<std::string> result;
        for (const auto& entry : QMXPersistentStorage::s_drivers)
            result.push_back(entry.first);
        return result;
    }
    // Keys of the entries that belong to one resource name.
    static std::vector<std::string> keysFor(const std::string& resource) {
        std::vector<std::string> result;
        for (const std::string& key : keys())
            if (key.compare(0, resource.size() + 1, resource + "|") == 0)
                result.push_back(key);
        return result;
    }
};

namespace testing {

// Records every log line from construction to destruction (all levels).
class LogCapture {
public:
    struct Line {
        LogLevel level;
        std::string logger;
        std::string text;
        std::string function;
    };

    LogCapture() {
        setLogSink(
            [this](const LogRecord& r) {
                std::lock_guard<std::mutex> guard(m_mutex);
                m_lines.push_back(Line{r.level, r.logger, r.text, r.function ? r.function : ""});
            },
            LogLevel::Trace);
    }
    ~LogCapture() { resetLogSink(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Line> lines() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_lines;
    }
    void clear() {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_lines.clear();
    }
    // Texts of the lines at `level`, in order.
    std::vector<std::string> texts(LogLevel level) const {
        std::vector<std::string> result;
        for (const Line& l : lines())
            if (l.level == level)
                result.push_back(l.text);
        return result;
    }
    // How many lines at `level` begin with `prefix`.
    int count(LogLevel level, const std::string& prefix) const {
        int n = 0;
        for (const std::string& t : texts(level))
            if (t.compare(0, prefix.size(), prefix) == 0)
                ++n;
        return n;
    }
    bool has(LogLevel level, const std::string& text) const {
        const auto all = texts(level);
        return std::find(all.begin(), all.end(), text) != all.end();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Line> m_lines;
};

inline std::shared_ptr<DataSourceDescriptor> descriptorFor(const std::string& path,
                                                           bool readOnly = false,
                                                           bool createAlways = false,
                                                           bool native = false) {
    return std::make_shared<DataSourceDescriptor>(path, readOnly, createAlways, native);
}

// Writes a closed, empty container file (QMZ, or native HDF5).
inline void makeContainer(const std::string& path, bool native = false) {
    const int h = native ? QMXLcreateNativeHDF5(path.c_str()) : QMXLcreateFile(path.c_str());
    ASSERT_GT(h, 0) << path;
    ASSERT_GE(QMXLcloseAllFileHandlesForFile(h), 0);
}

// A host's unit of work on one file: its stack, and a factory that locked the file on it.
// Bind DAOs with bind(); end the unit with stack->commit() or stack->revert().
struct Unit {
    std::shared_ptr<TransactionStack> stack;
    std::shared_ptr<DataSourceDescriptor> descriptor;
    std::unique_ptr<QMXGenericDAOFactory> factory;

    std::shared_ptr<QMXPersistentStorage> storage() const { return factory->getStorage(); }
    template <class DAO>
    void bind(DAO& dao) const {
        dao.setDataSource(factory->getStorage());
        dao.setContext(stack);
    }
};

inline Unit openUnit(const std::string& path,
                     UserContext::AccessIntent intent = UserContext::ReadWrite,
                     bool native = false) {
    Unit unit;
    unit.stack = TransactionStack::create();
    unit.descriptor = descriptorFor(path, false, false, native);
    const UserContext context(unit.stack, intent);
    unit.factory = std::make_unique<QMXGenericDAOFactory>(unit.descriptor, &context);
    return unit;
}

// A temporary directory and a log capture for one test.
class StorageTest : public ::testing::Test {
protected:
    std::string file(const std::string& name) const { return dir.file(name); }

    TempDir dir;
    LogCapture log;
};

}  // namespace testing
}  // namespace Quellmar

#endif
