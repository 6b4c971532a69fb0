// Runs of item creations and of size-then-read calls: what one call keeps open or knows for
// the next (the creation's group, the item's count and type) must never show through as a
// wrong place, a wrong checksum path or another item's size.
#include "TestFiles.h"

using namespace Quellmar;
using namespace Quellmar::testing;

using CreationRuns = ContainerTest;
using KeptAnswers = ContainerTest;

// Creations that alternate between groups, go straight below the file, or come through a
// group handle with relative and absolute paths: every item lands where its path says and its
// checksum covers exactly that path.
TEST_F(CreationRuns, EveryItemLandsUnderItsOwnPathAndItsChecksumCoversIt) {
    struct Made {
        int loc;
        const char* group;
        const char* name;
        std::string where;
    };
    ASSERT_OK(QMXLcreatePathToGroup(file, "/a"));
    const int a = QMXLopenGroup(file, "/a");
    ASSERT_GT(a, 0) << lastError();
    const Made made[] = {
        {file, "/g", "one", "/g/one"},       {file, "/g", "two", "/g/two"},
        {file, "/h/deep", "x", "/h/deep/x"}, {file, "/g", "three", "/g/three"},
        {file, "", "top", "/top"},           {file, "/", "root", "/root"},
        {a, "", "here", "/a/here"},          {a, "b", "below", "/a/b/below"},
        {a, "/z", "far", "/z/far"},          {a, "b", "again", "/a/b/again"},
        {file, "a/b", "same", "/a/b/same"},
    };
    int seed = 1;
    for (const Made& m : made) {
        const std::string data = pattern(40 + static_cast<size_t>(seed), seed);
        ASSERT_EQ(QMXLcreateCompressedOpaqueData(m.loc, m.group, m.name, 0, 0,
                                                 static_cast<long long>(data.size()), data.data()),
                  1)
            << m.where << ": " << lastError();
        ++seed;
    }
    QMXLcloseObject(a);
    QMXLcloseAllFileHandlesForFile(file);
    seed = 1;
    for (const Made& m : made) {
        const std::string data = pattern(40 + static_cast<size_t>(seed), seed);
        expectItemSum(m.where, data.data(), data.size());
        ++seed;
    }
    reopen(true);
    seed = 1;
    for (const Made& m : made) {
        const std::string parent = m.where.substr(0, m.where.rfind('/'));
        const std::string name = m.where.substr(m.where.rfind('/') + 1);
        EXPECT_EQ(readBlob(file, parent.c_str(), name.c_str()),
                  pattern(40 + static_cast<size_t>(seed), seed))
            << m.where;
        ++seed;
    }
    EXPECT_OK(QMXLverifyObject(file, "/"));
}

// A group removed between two creations is not written into through a stale identifier: the
// second creation makes the group anew and its item is found there.
TEST_F(CreationRuns, AGroupRemovedBetweenCreationsIsMadeAnew) {
    const std::string one = pattern(30, 1), two = pattern(31, 2);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "one", 0, 0, 30, one.data()));
    ASSERT_GE(QMXLremoveGroup(file, "/g"), 0) << lastError();
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "two", 0, 0, 31, two.data()));
    reopen(true);
    EXPECT_EQ(QMXLexistsDataset(file, "/g/one"), 0);
    EXPECT_EQ(readBlob(file, "/g", "two"), two);
}

// A group replaced by a dataset of its name between creations: the next creation below it
// fails with the reason and leaves nothing.
TEST_F(CreationRuns, AGroupReplacedByADatasetRefusesTheNextCreation) {
    const std::string data = pattern(20, 3);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "one", 0, 0, 20, data.data()));
    ASSERT_GE(QMXLremoveGroup(file, "/g"), 0) << lastError();
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/", "g", 0, 0, 20, data.data()));
    EXPECT_EQ(QMXLcreateCompressedOpaqueData(file, "/g", "two", 0, 0, 20, data.data()), -1);
    EXPECT_ERROR("cannot create an opaque data item '/g/two'");
    EXPECT_EQ(readBlob(file, "/", "g"), data);
}

// A group handle whose group was removed has no path any more: nothing can be created through
// it, since no checksum could name the item, and the refusal says so.
TEST_F(CreationRuns, CreationThroughAHandleOfARemovedGroupIsRefused) {
    ASSERT_OK(QMXLcreatePathToGroup(file, "/gone"));
    const int gone = QMXLopenGroup(file, "/gone");
    ASSERT_GT(gone, 0) << lastError();
    ASSERT_GE(QMXLremoveGroup(file, "/gone"), 0) << lastError();
    const std::string data = pattern(10, 7);
    EXPECT_EQ(QMXLcreateCompressedOpaqueData(gone, "", "x", 0, 0, 10, data.data()), -1);
    EXPECT_ERROR("path is unknown");
    EXPECT_EQ(QMXLcreateCompressedOpaqueData(gone, "sub", "x", 0, 0, 10, data.data()), -1);
    QMXLcloseObject(gone);
}

// What a creation keeps open is closed by the next call of any other kind, so it never counts
// as left open, and a host's handle copy between creations does not disturb the run.
TEST_F(CreationRuns, NothingKeptOutlivesTheRunAndHandleCopiesDoNotBreakIt) {
    const int before = QMXLgetOpenObjectCount();
    ASSERT_GT(before, 0);
    const std::string data = pattern(25, 4);
    for (const char* name : {"a", "b", "c"}) {
        const int copy = QMXLcopyHandle(file);
        ASSERT_EQ(copy, file);
        ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/run", name, 0, 0, 25, data.data()));
        ASSERT_OK(QMXLcloseObject(copy));
    }
    EXPECT_EQ(QMXLgetOpenObjectCount(), before);
    ASSERT_OK(QMXLcreateTypedDataset(file, "/run", "v", 0, 0, 1, QMXL_INT32, 1, "abcd"));
    EXPECT_EQ(QMXLgetOpenObjectCount(), before);
    reopen(true);
    for (const char* name : {"a", "b", "c"})
        EXPECT_EQ(readBlob(file, "/run", name), data) << name;
}

// The size and type a query keeps with the item serve only the same item: a read or query of
// another one asks HDF5 afresh.
TEST_F(KeptAnswers, AnswersKeptForOneItemNeverServeAnother) {
    const std::string small = pattern(10, 5), large = pattern(5000, 6);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/k", "small", 0, 0, 10, small.data()));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/k", "large", 0, 0, 5000, large.data()));
    const std::int16_t shorts[3] = {1, -2, 3};
    ASSERT_OK(QMXLcreateTypedDataset(file, "/k", "shorts", 0, 0, 1, QMXL_INT16, 3, shorts));
    reopen(true);

    long long size = -1;
    ASSERT_OK(QMXLgetSizeOfOpaqueData(file, "/k", "small", &size));
    EXPECT_EQ(size, 10);
    std::string back(5000, '\0');
    ASSERT_OK(QMXLreadOpaqueData(file, "/k", "large", back.data()));
    EXPECT_EQ(back, large);

    // The blob's kept size answers a dataset query of the same item: a byte count, no code.
    long long count = -1;
    int type = -5;
    ASSERT_OK(QMXLgetSizeOfOpaqueData(file, "/k", "large", &size));
    ASSERT_OK(QMXLgetDatasetInfo(file, "/k", "large", &count, &type));
    EXPECT_EQ(count, 5000);
    EXPECT_EQ(type, -1);

    // Asked twice, then read: the same answer each time and the stored values.
    for (int round = 0; round < 2; ++round) {
        ASSERT_OK(QMXLgetDatasetInfo(file, "/k", "shorts", &count, &type));
        EXPECT_EQ(count, 3);
        EXPECT_EQ(type, QMXL_INT16);
    }
    ASSERT_OK(QMXLgetDatasetInfo(file, "/k", "small", &count, &type));
    EXPECT_EQ(count, 10);
    EXPECT_EQ(type, -1);
    std::int16_t read[3] = {};
    ASSERT_OK(QMXLgetDatasetInfo(file, "/k", "shorts", &count, &type));
    ASSERT_OK(QMXLreadTypedDataset(file, "/k", "shorts", QMXL_INT16, read));
    EXPECT_EQ(read[0], 1);
    EXPECT_EQ(read[1], -2);
    EXPECT_EQ(read[2], 3);
    // A read of another kind than the kept item's refuses it and reports the kind.
    ASSERT_OK(QMXLgetDatasetInfo(file, "/k", "shorts", &count, &type));
    EXPECT_EQ(QMXLreadOpaqueData(file, "/k", "shorts", back.data()), -1);
    EXPECT_ERROR("is a typed dataset, not an opaque data item");
}

using ReadRuns = ContainerTest;

// A read whose group is missing, or is a dataset, reports that, as a read without a group
// kept does; and a group kept by one read is not used after it was replaced.
TEST_F(ReadRuns, MissingGroupsAndReplacedGroupsAreReportedAndNeverReadStale) {
    const std::string one = pattern(20, 1), two = pattern(21, 2);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "one", 0, 0, 20, one.data()));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/", "data", 0, 0, 20, one.data()));
    EXPECT_EQ(readBlob(file, "/g", "one"), one);
    long long size = -1;
    EXPECT_EQ(QMXLgetSizeOfOpaqueData(file, "/none", "one", &size), -1);
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_MISSING) << lastError();
    EXPECT_ERROR("does not exist");
    EXPECT_EQ(QMXLgetSizeOfOpaqueData(file, "/data", "one", &size), -1);
    EXPECT_ERROR("'/data/one'");

    EXPECT_EQ(readBlob(file, "/g", "one"), one);
    ASSERT_GE(QMXLremoveGroup(file, "/g"), 0) << lastError();
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "two", 0, 0, 21, two.data()));
    EXPECT_EQ(readBlob(file, "/g", "two"), two);
    EXPECT_EQ(readBlob(file, "/g", "one"), "<missing>");
}
