#include "TestFiles.h"

#include <atomic>
#include <thread>

using namespace Quellmar::testing;

using Handles = ContainerTest;

TEST_F(Handles, CopiesCountReferencesAndTheLastCloseCloses) {
    const int group = QMXLcreateOpaqueDataGroup(file, "/g");
    ASSERT_GT(group, 0) << lastError();
    EXPECT_OK(QMXLgetHandleReferenceCount(group));
    EXPECT_EQ(QMXLcopyHandle(group), group);
    EXPECT_EQ(QMXLcopyHandle(group), group);
    EXPECT_EQ(QMXLgetHandleReferenceCount(group), 3);
    const int before = QMXLgetOpenObjectCount();
    EXPECT_OK(QMXLcloseObject(group));
    EXPECT_OK(QMXLcloseGroup(group));
    EXPECT_OK(QMXLisValid(group));
    EXPECT_EQ(QMXLgetOpenObjectCount(), before);
    EXPECT_OK(QMXLcloseObject(group));
    EXPECT_EQ(QMXLisValid(group), 0);
    EXPECT_EQ(QMXLgetOpenObjectCount(), before - 1);
    EXPECT_LT(QMXLcloseObject(group), 0);
    EXPECT_ERROR("unknown or closed");
    EXPECT_LT(QMXLgetHandleReferenceCount(group), 0);
    EXPECT_LT(QMXLcopyHandle(group), 0);
}

TEST_F(Handles, ValuesAreNeverReused) {
    const int first = QMXLopenGroup(file, "/");
    ASSERT_GT(first, 0);
    QMXLcloseObject(first);
    const int second = QMXLopenGroup(file, "/");
    EXPECT_GT(second, first);
    // The stale value stays dead: it cannot close the new group.
    EXPECT_LT(QMXLcloseGroup(first), 0);
    EXPECT_OK(QMXLisValid(second));
    QMXLcloseGroup(second);
}

TEST_F(Handles, KindsAreTold) {
    const int group = QMXLopenGroup(file, "/");
    ASSERT_OK(QMXLcreateTypedDataset(file, "/", "d", 0, 0, 1, QMXL_INT32, 0, nullptr));
    const int dataset = QMXLopenDataset(file, "/d");
    const int type = QMXLcreateCompoundType(0, 8, 0);
    ASSERT_GT(dataset, 0);
    ASSERT_GT(type, 0);
    EXPECT_OK(QMXLisValidGroup(group));
    EXPECT_OK(QMXLisValidGroup(file));
    EXPECT_EQ(QMXLisValidGroup(dataset), 0);
    EXPECT_EQ(QMXLisValidGroup(type), 0);
    EXPECT_OK(QMXLisValid(dataset));
    EXPECT_EQ(QMXLisValid(-1), 0);
    EXPECT_EQ(QMXLisValidGroup(0), 0);
    EXPECT_LT(QMXLcloseGroup(dataset), 0);
    EXPECT_LT(QMXLcloseFile(group), 0);
    EXPECT_LT(QMXLopenGroup(dataset, "x"), 0);
    EXPECT_LT(QMXLhasAttribute(type, "x"), 0);
    QMXLcloseObject(type);
    QMXLcloseObject(dataset);
    QMXLcloseObject(group);
}

TEST_F(Handles, ClosingObjectsOfAFileLeavesOtherFilesAndDatatypesAlone) {
    const std::string otherPath = dir.file("other.qmz");
    const int other = QMXLcreateFile(otherPath.c_str());
    ASSERT_GT(other, 0);
    const int mine = QMXLcreatePathToGroup(file, "/a/b") == 1 ? QMXLopenGroup(file, "/a/b") : -1;
    const int copy = QMXLcopyHandle(mine);
    const int below = QMXLopenGroup(mine, ".");  // opened through a group: still this file's
    const int theirs = QMXLopenGroup(other, "/");
    const int type = QMXLcreateCompoundType(0, 4, 0);
    ASSERT_GT(mine, 0);
    ASSERT_GT(below, 0);
    ASSERT_GT(theirs, 0);
    ASSERT_EQ(copy, mine);

    EXPECT_OK(QMXLcloseOpenedObjectsForFile(file));
    EXPECT_EQ(QMXLisValid(mine), 0);
    EXPECT_EQ(QMXLisValid(below), 0);
    EXPECT_OK(QMXLisValid(file));
    EXPECT_OK(QMXLisValid(theirs));
    EXPECT_OK(QMXLisValid(type));

    // Every reference of the file handle goes, and the datatype still survives.
    QMXLcopyHandle(file);
    QMXLcopyHandle(file);
    EXPECT_OK(QMXLcloseAllFileHandlesForFile(file));
    EXPECT_EQ(QMXLisValid(file), 0);
    EXPECT_OK(QMXLisValid(type));
    EXPECT_OK(QMXLaddField(type, "x", 0, QMXL_INT32));
    EXPECT_OK(QMXLisValid(other));
    EXPECT_LT(QMXLcloseOpenedObjectsForFile(type), 0);
    EXPECT_LT(QMXLcloseAllFileHandlesForFile(theirs), 0);

    QMXLcloseObject(type);
    QMXLcloseOpenedObjectsForFile(other);
    QMXLcloseAllFileHandlesForFile(other);
}

TEST_F(Handles, EveryEntryPointTakesTheLibraryLock) {
    // Many threads working on their own files and one shared file at once.
    constexpr int kThreads = 6;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string name = "t" + std::to_string(t);
            for (int i = 0; i < 30; ++i) {
                const std::string item = name + "_" + std::to_string(i);
                const std::string data(100 + i, static_cast<char>('a' + t));
                if (QMXLcreateCompressedOpaqueData(file, ("/" + name).c_str(), item.c_str(), 0, 0,
                                                   static_cast<long long>(data.size()),
                                                   data.data()) != 1)
                    ++failures;
                std::string back(data.size(), '\0');
                if (QMXLreadOpaqueData(file, ("/" + name).c_str(), item.c_str(), back.data()) !=
                        1 ||
                    back != data)
                    ++failures;
                const int group = QMXLopenGroup(file, ("/" + name).c_str());
                const int copy = QMXLcopyHandle(group);
                if (group <= 0 || copy != group)
                    ++failures;
                QMXLcloseObject(copy);
                QMXLcloseObject(group);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
}
