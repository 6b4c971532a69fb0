// Plain and native drivers: the file-library calls, results and log lines of each operation.
#include "QMXPersistentStorageDriver.h"
#include "StorageFixture.h"

namespace Quellmar {
namespace {

using testing::makeContainer;

class StorageDriverTest : public testing::StorageTest {};

TEST_F(StorageDriverTest, NothingOpenAndAFailedOpenThatKeepsItsValueSilently) {
    QMXPersistentStorageDriver driver;
    EXPECT_EQ(driver.getFileHandle(), -1);
    EXPECT_EQ(driver.close(), 1);
    EXPECT_EQ(driver.commit(), -1);
    EXPECT_EQ(driver.findHandle(file("any.qmz")), -1);
    EXPECT_TRUE(log.lines().empty());

    const int handle = driver.open(file("missing.qmz"), false);
    EXPECT_LT(handle, 0);
    EXPECT_EQ(driver.getFileHandle(), handle);
    EXPECT_TRUE(log.texts(LogLevel::Debug).empty());
    // A failed value counts as no file.
    EXPECT_EQ(driver.close(), 1);
    EXPECT_EQ(driver.commit(), -1);
}

TEST_F(StorageDriverTest, CreateOpenCommitClose) {
    const std::string path = file("plain.qmz");
    QMXPersistentStorageDriver driver;
    const int created = driver.create(path);
    ASSERT_GT(created, 0);
    EXPECT_EQ(driver.getFileHandle(), created);
    EXPECT_EQ(driver.findHandle(path), created);
    EXPECT_EQ(driver.findHandle(""), -1);
    EXPECT_EQ(driver.findHandle(path + "x"), -1);
    EXPECT_EQ(driver.findHandle(file("other.qmz")), -1);

    EXPECT_EQ(driver.commit(), 1);
    EXPECT_EQ(driver.close(), 1);
    EXPECT_EQ(driver.getFileHandle(), -1);
    EXPECT_EQ(QMXLisValid(created), 0) << "close left the file handle open";

    const int opened = driver.open(path, true);
    ASSERT_GT(opened, 0);
    EXPECT_EQ(QMXLisFileReadOnly(opened), 1);
    EXPECT_EQ(driver.close(), 1);

    const std::string c = std::to_string(created), o = std::to_string(opened);
    const std::vector<std::string> expected = {
        "*** Persistence: created handle " + c + " for filename " + path,
        "*** Persistence: committed handle " + c + " with return code 1",
        "*** Persistence: closed handle " + c,
        "*** Persistence: opened handle " + o + " for filename " + path,
        "*** Persistence: closed handle " + o,
    };
    std::vector<std::string> debug = log.texts(LogLevel::Debug);
    // The commit's return code is the library's or-ed results; compare up to it.
    ASSERT_EQ(debug.size(), expected.size());
    EXPECT_EQ(debug[1].rfind("*** Persistence: committed handle " + c + " with return code ", 0),
              0u);
    debug[1] = expected[1];
    EXPECT_EQ(debug, expected);
}

TEST_F(StorageDriverTest, PlainDriverRefusesANativeFile) {
    const std::string path = file("native.h5");
    makeContainer(path, /*native=*/true);
    log.clear();

    QMXPersistentStorageDriver driver;
    EXPECT_EQ(driver.open(path, false), -1);
    EXPECT_EQ(driver.getFileHandle(), -1);
    EXPECT_EQ(log.texts(LogLevel::Debug),
              (std::vector<std::string>{"*** Persistence: reopened handle fails for filename " +
                                            path + " Not a QMZ file.",
                                        "*** Persistence: opened handle -1 for filename " + path}));
    EXPECT_EQ(QMXLgetHandleCount(), 0) << "the refused file was left open";

    QMXNativeHDF5Driver native;
    const int handle = native.open(path, true);
    ASSERT_GT(handle, 0);
    EXPECT_EQ(native.close(), 1);
}

TEST_F(StorageDriverTest, CommitFileLeavesNoHandleOpen) {
    const std::string path = file("committed.qmz");
    makeContainer(path);
    QMXPersistentStorageDriver driver;
    EXPECT_EQ(driver.commitFile(path), 1);
    EXPECT_EQ(driver.getFileHandle(), -1);
    EXPECT_EQ(QMXLgetHandleCount(), 0);
    EXPECT_EQ(driver.commitFile(file("missing.qmz")), -1);
    EXPECT_EQ(QMXLgetHandleCount(), 0);
}

TEST_F(StorageDriverTest, DestructorClosesTheFileAndLogs) {
    const std::string path = file("dtor.qmz");
    int handle = -1;
    {
        QMXNativeHDF5Driver driver;
        handle = driver.create(path);
        ASSERT_GT(handle, 0);
        ASSERT_GT(QMXLcopyHandle(handle), 0);  // a second file reference goes too
        log.clear();
    }
    EXPECT_EQ(QMXLisValid(handle), 0);
    EXPECT_EQ(QMXLgetHandleCount(), 0);
    const auto debug = log.texts(LogLevel::Debug);
    ASSERT_EQ(debug.size(), 1u);
    EXPECT_EQ(debug[0].rfind("*** Persistence: Closing all handles for " + std::to_string(handle) +
                                 ". Return code ",
                             0),
              0u);
}

}  // namespace
}  // namespace Quellmar
