#include "TestFiles.h"

using namespace Quellmar::testing;

using Groups = ContainerTest;

namespace {

// True when the group exists at the plain path.
bool groupAt(int file, const char* path) {
    const int group = QMXLopenGroup(file, path);
    if (group > 0)
        QMXLcloseGroup(group);
    return group > 0;
}

}  // namespace

TEST_F(Groups, EveryPathShapeReachesTheGroupItMeans) {
    ASSERT_OK(QMXLcreatePathToGroup(file, "//results"));
    EXPECT_TRUE(groupAt(file, "/results"));
    ASSERT_OK(QMXLcreatePathToGroup(file, "//a/b/"));
    EXPECT_TRUE(groupAt(file, "/a/b"));
    EXPECT_TRUE(groupAt(file, "//a/b/."));
    EXPECT_TRUE(groupAt(file, "a/./b"));
    ASSERT_OK(QMXLcreatePathToGroup(file, "/Design/."));
    EXPECT_TRUE(groupAt(file, "/Design"));
    ASSERT_OK(QMXLcreatePathToGroup(file, "//abc."));
    EXPECT_TRUE(groupAt(file, "/abc."));
    EXPECT_FALSE(groupAt(file, "/abc"));
    EXPECT_TRUE(groupAt(file, "/"));
    EXPECT_TRUE(groupAt(file, "."));

    // Items addressed the way the storage addresses them.
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "//results", "x", 0, 0, 2, "hi"));
    long long size = 0;
    EXPECT_OK(QMXLgetSizeOfOpaqueData(file, "/results", "x", &size));
    EXPECT_OK(QMXLgetSizeOfOpaqueData(file, "//results/", "x", &size));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/Design/.", "abc.", 0, 0, 2, "hi"));
    EXPECT_OK(QMXLgetSizeOfOpaqueData(file, "/Design", "abc.", &size));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/", "top", 0, 0, 2, "hi"));
    EXPECT_OK(QMXLremoveDataset(file, "///top"));
    EXPECT_OK(QMXLremoveDataset(file, "//results/x"));
    EXPECT_LT(QMXLremoveDataset(file, "//results/x"), 0);
    EXPECT_ERROR("/results/x");
}

TEST_F(Groups, ItemsCanBeRemovedThroughTheirGroup) {
    ASSERT_OK(QMXLcreateTypedDataset(file, "//v", "d", 0, 100000, 1, QMXL_FLOAT64, 0, nullptr));
    const int group = QMXLopenGroup(file, "//v");
    ASSERT_GT(group, 0);
    EXPECT_LT(QMXLremoveDataset(group, ""), 0);
    EXPECT_OK(QMXLremoveDataset(group, "d"));
    EXPECT_LT(QMXLremoveDataset(group, "d"), 0);
    EXPECT_LT(QMXLremoveDataset(-1, "d"), 0);
    EXPECT_LT(QMXLremoveDataset(group, "."), 0);
    QMXLcloseGroup(group);
}

TEST_F(Groups, ObjectGroupsAreToldFromPlainGroups) {
    ASSERT_OK(QMXLcreatePathToGroup(file, "/plain"));
    EXPECT_EQ(QMXLexistsOpaqueDataGroup(file, "/plain"), 0);
    EXPECT_EQ(QMXLexistsOpaqueDataGroup(file, "/missing/deeper"), 0);
    EXPECT_LT(QMXLopenOpaqueDataGroup(file, "/plain"), 0);
    EXPECT_ERROR("not an object group");
    EXPECT_LT(QMXLopenOpaqueDataGroup(file, "/missing"), 0);
    EXPECT_ERROR("does not exist");

    const int group = QMXLcreateOpaqueDataGroup(file, "//objects/inner/");
    ASSERT_GT(group, 0) << lastError();
    QMXLcloseGroup(group);
    EXPECT_OK(QMXLexistsOpaqueDataGroup(file, "/objects/inner"));
    EXPECT_EQ(QMXLexistsOpaqueDataGroup(file, "/objects"), 0);
    const int opened = QMXLopenOpaqueDataGroup(file, "//objects/inner/.");
    EXPECT_GT(opened, 0);
    QMXLcloseGroup(opened);

    // The root and a plain group become object groups when asked to.
    const int root = QMXLcreateOpaqueDataGroup(file, "/");
    ASSERT_GT(root, 0) << lastError();
    QMXLcloseGroup(root);
    EXPECT_OK(QMXLexistsOpaqueDataGroup(file, "/"));
    const int again = QMXLcreateOpaqueDataGroup(file, "/plain");
    ASSERT_GT(again, 0);
    QMXLcloseGroup(again);
    EXPECT_OK(QMXLexistsOpaqueDataGroup(file, "/plain"));

    // Something that is not a group is in the way.
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/", "blob", 0, 0, 1, "b"));
    EXPECT_EQ(QMXLexistsOpaqueDataGroup(file, "/blob"), 0);
    EXPECT_LT(QMXLcreateOpaqueDataGroup(file, "/blob/x"), 0);
    EXPECT_LT(QMXLcreatePathToGroup(file, "/blob"), 0);
    EXPECT_LT(QMXLopenGroup(file, "/blob"), 0);
    EXPECT_ERROR("not a group");
}

TEST_F(Groups, RemovingGroups) {
    ASSERT_OK(QMXLcreatePathToGroup(file, "/a/b/c"));
    EXPECT_OK(QMXLremoveGroup(file, "//a/b/"));
    EXPECT_FALSE(groupAt(file, "/a/b"));
    EXPECT_TRUE(groupAt(file, "/a"));
    EXPECT_LT(QMXLremoveGroup(file, "/a/b"), 0);
    EXPECT_LT(QMXLremoveGroup(file, "/"), 0);
    EXPECT_LT(QMXLremoveGroup(file, "//."), 0);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/a", "x", 0, 0, 1, "x"));
    EXPECT_LT(QMXLremoveGroup(file, "/a/x"), 0);
    EXPECT_LT(QMXLremoveDataset(file, "/a"), 0);
}

TEST_F(Groups, BadArguments) {
    EXPECT_LT(QMXLopenGroup(file, nullptr), 0);
    EXPECT_LT(QMXLopenGroup(file, ""), 0);
    EXPECT_LT(QMXLcreatePathToGroup(file, nullptr), 0);
    EXPECT_LT(QMXLcreatePathToGroup(-3, "/a"), 0);
    EXPECT_LT(QMXLremoveGroup(file, ""), 0);
    EXPECT_LT(QMXLopenOpaqueDataGroup(0, "/a"), 0);
    EXPECT_LT(QMXLcreateOpaqueDataGroup(file, nullptr), 0);
    EXPECT_LT(QMXLexistsOpaqueDataGroup(file, nullptr), 0);
    EXPECT_LT(QMXLexistsOpaqueDataGroup(99999, "/"), 0);
    EXPECT_LT(QMXLcloseGroup(0), 0);
}
