// One storage per resource name and thread, shared while held, gone when the last holder lets go.
#include "DAOExceptions.h"
#include "StorageFixture.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <thread>

// Counts the load-time registration with the file library.
std::atomic<int> g_registrations{0};
extern "C" int QMXLregister(void) {
    ++g_registrations;
    static auto real = reinterpret_cast<int (*)()>(dlsym(RTLD_NEXT, "QMXLregister"));
    return real();
}

namespace Quellmar {
namespace {

using testing::descriptorFor;
using testing::makeContainer;

class StorageRegistryTest : public testing::StorageTest {
protected:
    const std::string added = "*** Persistence: Added new driver for ";

    std::string removedLine(const std::string& path, std::size_t count) const {
        return "*** Persistence: " + path + " removed from drivers. Currently holding " +
               std::to_string(count) + " drivers.";
    }
    std::string addedLine(const std::string& path, std::size_t count) const {
        return added + path + " and hold a total of " + std::to_string(count) + " drivers.";
    }
    // The calling thread's part of a registry key, computed from the native id.
    static std::string threadPart() {
        return std::to_string(static_cast<unsigned long>(pthread_self()));
    }
};

TEST_F(StorageRegistryTest, SameNameOnOneThreadSharesOneStorage) {
    const std::string path = file("shared.qmz");
    const std::size_t before = QMXRegistryInspector::size();

    auto first = QMXPersistentStorage::MakeDriver(descriptorFor(path));
    // Other flags do not matter: the resource name and the thread make the key.
    auto second = QMXPersistentStorage::MakeDriver(descriptorFor(path, true, true, true));
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(log.count(LogLevel::Debug, added), 1);
    EXPECT_TRUE(log.has(LogLevel::Debug, addedLine(path, before + 1)));
    EXPECT_EQ(QMXRegistryInspector::keysFor(path),
              std::vector<std::string>{path + "|" + threadPart()});

    first.reset();
    EXPECT_EQ(QMXRegistryInspector::size(), before + 1);  // still held
    second.reset();
    EXPECT_EQ(QMXRegistryInspector::size(), before);
    EXPECT_TRUE(log.has(LogLevel::Debug, removedLine(path, before)));
    EXPECT_TRUE(QMXRegistryInspector::keysFor(path).empty());
}

TEST_F(StorageRegistryTest, LoadTimeSetUp) {
    EXPECT_EQ(g_registrations.load(), 1);  // once, when the library was loaded

    // Each storage source file logs through its own logger, named by its path.
    const std::string path = file("loggers.qmz");
    auto storage = QMXPersistentStorage::MakeDriver(descriptorFor(path));
    storage.reset();
    auto loggerOf = [&](const std::string& prefix) {
        for (const auto& line : log.lines())
            if (line.text.rfind(prefix, 0) == 0)
                return line.logger;
        return std::string("(no line)");
    };
    auto endsWith = [](const std::string& text, const std::string& tail) {
        return text.size() >= tail.size() &&
               text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    };
    EXPECT_TRUE(endsWith(loggerOf(added), "/QMXPersistentStorage.cpp")) << loggerOf(added);
    EXPECT_TRUE(endsWith(loggerOf("File[  : "), "/QMXPersistentStorageImplementation.cpp"));
    EXPECT_TRUE(
        endsWith(loggerOf("*** Persistence: created handle"), "/QMXPersistentStorageDriver.cpp"));
    for (const auto& line : log.lines())
        EXPECT_NE(line.function.find("Quellmar::"), std::string::npos) << line.function;
    EXPECT_EQ(g_registrations.load(), 1);
}

TEST_F(StorageRegistryTest, TwoThreadsGetTwoStorages) {
    const std::string path = file("threads.qmz");
    makeContainer(path);

    auto mine = QMXPersistentStorage::MakeDriver(descriptorFor(path));
    std::shared_ptr<QMXPersistentStorage> theirs;
    std::string theirThread;
    std::thread worker([&] {
        theirs = QMXPersistentStorage::MakeDriver(descriptorFor(path));
        theirThread = threadPart();
    });
    worker.join();

    ASSERT_TRUE(theirs);
    EXPECT_NE(mine.get(), theirs.get());
    auto keys = QMXRegistryInspector::keysFor(path);
    std::vector<std::string> expected = {path + "|" + threadPart(), path + "|" + theirThread};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(keys, expected);

    // Released here, the other thread's storage takes out its own entry, not this thread's.
    theirs.reset();
    EXPECT_EQ(QMXRegistryInspector::keysFor(path),
              std::vector<std::string>{path + "|" + threadPart()});
    EXPECT_EQ(QMXPersistentStorage::MakeDriver(descriptorFor(path)).get(), mine.get());
}

TEST_F(StorageRegistryTest, ConcurrentFirstRequestsCreateTheFileOnce) {
    const std::string path = file("race.qmz");
    constexpr int kThreads = 4;
    std::vector<std::shared_ptr<QMXPersistentStorage>> storages(kThreads);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (ready < kThreads)
                std::this_thread::yield();
            storages[i] = QMXPersistentStorage::MakeDriver(descriptorFor(path));
        });
    }
    for (auto& t : threads)
        t.join();

    EXPECT_EQ(log.count(LogLevel::Info, "*** Persistence: File " + path + " is being created."), 1);
    EXPECT_EQ(log.count(LogLevel::Debug, added + path), kThreads);
    EXPECT_EQ(QMXRegistryInspector::keysFor(path).size(), static_cast<std::size_t>(kThreads));
    int open = 0;
    for (const auto& s : storages)
        open += s->getHandleToStorage() > 0 ? 1 : 0;
    EXPECT_EQ(open, 1) << "exactly the creating storage holds the file open";
    storages.clear();
    EXPECT_TRUE(QMXRegistryInspector::keysFor(path).empty());
}

// While a released storage closes its file its entry has expired. A request made in that moment
// (here from inside the driver's close log line) reuses the entry, and the finishing destructor
// leaves the newer storage registered.
TEST_F(StorageRegistryTest, ExpiredEntryIsReusedAndNotErasedByItsOldOwner) {
    const std::string path = file("reuse.qmz");
    const std::size_t before = QMXRegistryInspector::size();
    auto storage = QMXPersistentStorage::MakeDriver(descriptorFor(path));  // created: file open
    ASSERT_GT(storage->getHandleToStorage(), 0);

    std::shared_ptr<QMXPersistentStorage> newer;
    std::vector<std::string> texts;
    bool inside = false;
    setLogSink(
        [&](const LogRecord& r) {
            texts.push_back(r.text);
            if (inside || r.text.rfind("*** Persistence: Closing all handles for ", 0) != 0)
                return;
            inside = true;
            newer = QMXPersistentStorage::MakeDriver(descriptorFor(path));
            inside = false;
        },
        LogLevel::Debug);
    storage.reset();
    resetLogSink();

    ASSERT_TRUE(newer);
    EXPECT_NE(std::find(texts.begin(), texts.end(), addedLine(path, before + 1)), texts.end())
        << "the expired entry was duplicated instead of reused";
    EXPECT_NE(std::find(texts.begin(), texts.end(), removedLine(path, before + 1)), texts.end())
        << "the old storage erased the newer one's entry";
    EXPECT_EQ(QMXRegistryInspector::keysFor(path),
              std::vector<std::string>{path + "|" + threadPart()});
    newer.reset();
    EXPECT_TRUE(QMXRegistryInspector::keysFor(path).empty());
}

}  // namespace
}  // namespace Quellmar
