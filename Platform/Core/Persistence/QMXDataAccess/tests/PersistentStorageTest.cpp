// The open decision, open modes, commit, close and compaction of one storage.
#include "DAOExceptions.h"
#include "QMXPersistentStorageImplementation.h"
#include "StorageFixture.h"

#include <sys/stat.h>

namespace Quellmar {
namespace {

using testing::descriptorFor;
using testing::makeContainer;

class PersistentStorageTest : public testing::StorageTest {
protected:
    using Storage = QMXPersistentStorageImplementation;

    static bool readOnlyHandle(int handle) { return QMXLisFileReadOnly(handle) == 1; }
    static void makeReadOnlyOnDisk(const std::string& path) {
        ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    }

    // The message of the DataSourceException a construction throws; empty when none is thrown.
    static std::string refusal(std::shared_ptr<DataSourceDescriptor> descriptor) {
        try {
            Storage storage(descriptor);
        } catch (const DataSourceException& e) {
            return e.what();
        }
        return std::string();
    }
};

TEST_F(PersistentStorageTest, ExistingFileIsLeftToCheckDriverInTheModeAskedFor) {
    const std::string path = file("existing.qmz");
    makeContainer(path);
    log.clear();

    Storage storage(descriptorFor(path));
    EXPECT_EQ(storage.getHandleToStorage(), -1);
    EXPECT_TRUE(log.has(LogLevel::Trace, "File[  : " + path + "] exists : 1"));
    EXPECT_TRUE(log.texts(LogLevel::Info).empty());
    EXPECT_EQ(storage.open(), 0);  // deciding again changes nothing
    EXPECT_EQ(storage.getHandleToStorage(), -1);

    ASSERT_TRUE(storage.checkDriver(true));
    const int handle = storage.getHandleToStorage();
    EXPECT_GT(handle, 0);
    EXPECT_FALSE(readOnlyHandle(handle));
    EXPECT_TRUE(log.has(LogLevel::Debug, "*** Persistence: opened handle " +
                                             std::to_string(handle) + " for filename " + path));
    ASSERT_TRUE(storage.closeFile());

    Storage reader(descriptorFor(path, /*readOnly=*/true));
    EXPECT_EQ(reader.getHandleToStorage(), -1);
    ASSERT_TRUE(reader.checkDriver(false));
    EXPECT_TRUE(readOnlyHandle(reader.getHandleToStorage()));
}

TEST_F(PersistentStorageTest, RefusedRequestsLogAndThrow) {
    const std::string missing = file("missing.qmz");
    const std::string existing = file("existing.qmz");
    const std::string locked = file("locked.qmz");
    makeContainer(existing);
    makeContainer(locked);
    makeReadOnlyOnDisk(locked);
    const std::string readOnlyText =
        "Readonly open requested with createalways or nonexistent file";
    const std::string overwriteText = "Overwriting of existing readonly file requested";

    struct Case {
        std::string path;
        bool readOnly, createAlways;
        std::string error;
    } cases[] = {
        {missing, true, false, readOnlyText},   // read-only, nothing to read
        {existing, true, true, readOnlyText},   // read-only and create-always
        {locked, false, false, overwriteText},  // write to a read-only file
        {locked, false, true, overwriteText},   // recreate a read-only file
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " ro=" + std::to_string(c.readOnly) +
                     " ca=" + std::to_string(c.createAlways));
        log.clear();
        EXPECT_EQ(refusal(descriptorFor(c.path, c.readOnly, c.createAlways)),
                  "Cannot access datasource");
        EXPECT_EQ(log.texts(LogLevel::Error), std::vector<std::string>{c.error});
        EXPECT_TRUE(log.texts(LogLevel::Info).empty());
    }
    EXPECT_EQ(testing::fileSize(missing), -1);  // nothing was created on the way
}

TEST_F(PersistentStorageTest, NewFileIsCreatedAndStaysOpen) {
    const std::string path = file("new.qmz");
    Storage storage(descriptorFor(path));

    EXPECT_TRUE(log.has(LogLevel::Trace, "File[  : " + path + "] exists : 0"));
    EXPECT_EQ(log.texts(LogLevel::Info),
              std::vector<std::string>{"*** Persistence: File " + path + " is being created."});
    const int created = storage.getHandleToStorage();
    ASSERT_GT(created, 0);
    EXPECT_FALSE(readOnlyHandle(created));
    EXPECT_TRUE(log.has(LogLevel::Debug, "*** Persistence: created handle " +
                                             std::to_string(created) + " for filename " + path));

    // Already writable: an exclusive check keeps the handle.
    log.clear();
    ASSERT_TRUE(storage.checkDriver(true));
    EXPECT_EQ(storage.getHandleToStorage(), created);
    EXPECT_TRUE(log.texts(LogLevel::Debug).empty());

    // A shared check closes it and reopens read-only; an exclusive one goes back.
    ASSERT_TRUE(storage.checkDriver(false));
    const int shared = storage.getHandleToStorage();
    EXPECT_NE(shared, created);
    EXPECT_TRUE(readOnlyHandle(shared));
    EXPECT_EQ(
        log.count(LogLevel::Debug, "*** Persistence: closed handle " + std::to_string(created)), 1);
    ASSERT_TRUE(storage.checkDriver(true));
    EXPECT_FALSE(readOnlyHandle(storage.getHandleToStorage()));
}

TEST_F(PersistentStorageTest, FailedCreationIsRefused) {
    const std::string path = file("no/such/dir/new.qmz");
    EXPECT_EQ(refusal(descriptorFor(path)), "Cannot access datasource");
    EXPECT_EQ(log.count(LogLevel::Info, "*** Persistence: File " + path + " is being created."), 1);
    EXPECT_EQ(log.count(LogLevel::Debug, "*** Persistence: created handle -"), 1);
    EXPECT_THROW(Storage(nullptr), DataSourceException);
}

TEST_F(PersistentStorageTest, CreateAlwaysReplacesAWritableFile) {
    const std::string path = file("again.qmz");
    {
        Storage first(descriptorFor(path));
        ASSERT_GE(QMXLcreatePathToGroup(first.getHandleToStorage(), "/kept"), 0);
        ASSERT_EQ(first.commit(), 1);
    }
    Storage second(descriptorFor(path, false, /*createAlways=*/true));
    EXPECT_EQ(log.count(LogLevel::Info, "*** Persistence: File " + path + " is being created."), 2);
    const int group = QMXLopenGroup(second.getHandleToStorage(), "/kept");
    EXPECT_LT(group, 0) << "the old contents survived a create-always";
    if (group > 0)
        QMXLcloseObject(group);
}

TEST_F(PersistentStorageTest, CommitCloseAndDeflate) {
    const std::string path = file("cycle.qmz");
    Storage storage(descriptorFor(path));
    const int handle = storage.getHandleToStorage();
    ASSERT_GE(QMXLcreatePathToGroup(handle, "/a/b"), 0);

    EXPECT_EQ(storage.commit(), 1);
    EXPECT_EQ(storage.getHandleToStorage(), handle);  // commit keeps the file open
    EXPECT_TRUE(storage.closeFile());
    EXPECT_EQ(storage.getHandleToStorage(), -1);

    // Compaction closes the file and keeps its contents.
    ASSERT_TRUE(storage.checkDriver(true));
    EXPECT_TRUE(storage.deflate());
    EXPECT_EQ(storage.getHandleToStorage(), -1);
    ASSERT_TRUE(storage.checkDriver(false));
    const int group = QMXLopenGroup(storage.getHandleToStorage(), "/a/b");
    EXPECT_GT(group, 0) << "contents lost by compaction";
    QMXLcloseObject(group);
}

TEST_F(PersistentStorageTest, FileThatIsNotHDF5FailsTheCheck) {
    const std::string path = file("garbage.qmz");
    testing::writeFile(path, std::string(4096, 'x'));
    Storage storage(descriptorFor(path));  // exists and writable: deferred
    log.clear();
    EXPECT_FALSE(storage.checkDriver(true));
    EXPECT_LE(storage.getHandleToStorage(), -1);
    EXPECT_EQ(log.count(LogLevel::Debug, "*** Persistence: opened handle"),
              0);  // failed opens are silent
    EXPECT_EQ(storage.commit(), -1);
    EXPECT_TRUE(storage.closeFile());
    EXPECT_FALSE(storage.deflate());
    EXPECT_EQ(testing::readFile(path), std::string(4096, 'x'));  // left as it was
}

TEST_F(PersistentStorageTest, NativeFileFromCreationToReopening) {
    const std::string path = file("native.h5");
    {
        Storage storage(descriptorFor(path, false, false, /*native=*/true));
        const int created = storage.getHandleToStorage();
        ASSERT_GT(created, 0);
        ASSERT_EQ(log.count(LogLevel::Debug,
                            "*** Persistence: created handle " + std::to_string(created)),
                  1);
        // The native driver logs through its own source file's logger.
        for (const auto& line : log.lines()) {
            if (line.text.rfind("*** Persistence: created handle", 0) == 0) {
                EXPECT_NE(line.logger.find("QMXNativeHDF5Driver"), std::string::npos)
                    << line.logger;
            }
        }
        ASSERT_GE(QMXLcreatePathToGroup(created, "/native/data"), 0);
        EXPECT_TRUE(storage.closeFile());

        for (bool exclusive : {false, true, false}) {
            SCOPED_TRACE(exclusive ? "exclusive" : "shared");
            ASSERT_TRUE(storage.checkDriver(exclusive));
            const int handle = storage.getHandleToStorage();
            EXPECT_EQ(readOnlyHandle(handle), !exclusive);
            const int group = QMXLopenGroup(handle, "/native/data");
            EXPECT_GT(group, 0);
            if (group > 0)
                QMXLcloseObject(group);
        }
    }
    // A later storage defers, then opens the existing native file read-only.
    Storage again(descriptorFor(path, true, false, true));
    EXPECT_EQ(again.getHandleToStorage(), -1);
    ASSERT_TRUE(again.checkDriver(false));
    EXPECT_TRUE(readOnlyHandle(again.getHandleToStorage()));
}

TEST_F(PersistentStorageTest, DestructionClosesEverything) {
    const std::string path = file("objects.qmz");
    {
        Storage storage(descriptorFor(path));
        ASSERT_GE(QMXLcreatePathToGroup(storage.getHandleToStorage(), "/g"), 0);
        // An object left open by a careless caller is closed with the file.
        ASSERT_GT(QMXLopenGroup(storage.getHandleToStorage(), "/g"), 0);
        log.clear();
    }
    EXPECT_EQ(log.count(LogLevel::Debug, "*** Persistence: Closing all handles for "), 1);
    EXPECT_EQ(QMXLgetHandleCount(), 0);
    EXPECT_EQ(QMXLgetOpenObjectCount(), 0);
}

}  // namespace
}  // namespace Quellmar
