#include "TestFiles.h"

using namespace Quellmar::testing;

using Listing = ContainerTest;

TEST_F(Listing, MembersComeInNameOrderWithTheirKinds) {
    QMXLcloseGroup(QMXLcreateOpaqueDataGroup(file, "/top/objects"));
    ASSERT_OK(QMXLcreatePathToGroup(file, "/top/plain"));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/top", "blob", 0, 0, 1, "b"));
    ASSERT_OK(QMXLcreateCompressedStringDataset(file, "/top", "text", 0, 0, 1, "t"));
    ASSERT_OK(QMXLcreateTypedDataset(file, "/top", "vector", 0, 0, 1, QMXL_INT16, 0, nullptr));
    const int type = QMXLcreateCompoundType(0, 4, 0);
    QMXLaddField(type, "a", 0, QMXL_INT32);
    ASSERT_OK(QMXLcreateObjectDataset(file, "/top", "records", 0, 0, 1, type, 1, 0, nullptr));
    QMXLcloseObject(type);

    int count = -1;
    char** names = nullptr;
    int* kinds = nullptr;
    ASSERT_OK(QMXLlistGroup(file, "//top/.", &count, &names, &kinds));
    ASSERT_EQ(count, 6);
    const std::vector<std::pair<std::string, int>> expected = {
        {"blob", QMXL_KIND_OPAQUE}, {"objects", QMXL_KIND_OBJECT_GROUP},
        {"plain", QMXL_KIND_GROUP}, {"records", QMXL_KIND_COMPOUND},
        {"text", QMXL_KIND_STRING}, {"vector", QMXL_KIND_TYPED}};
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(names[i], expected[static_cast<size_t>(i)].first);
        EXPECT_EQ(kinds[i], expected[static_cast<size_t>(i)].second) << names[i];
    }
    EXPECT_EQ(QMXLreleaseStrings(count, names), count);
    EXPECT_OK(QMXLreleaseArray(&names));
    EXPECT_OK(QMXLreleaseArray(&kinds));
    EXPECT_EQ(names, nullptr);

    EXPECT_EQ(memberCount(file, "/top/plain"), 0);

    EXPECT_LT(QMXLlistGroup(file, "/top/blob", &count, &names, &kinds), 0);
    EXPECT_EQ(names, nullptr);
    EXPECT_LT(QMXLlistGroup(file, "/none", &count, &names, &kinds), 0);
    EXPECT_LT(QMXLlistGroup(file, "/", nullptr, &names, &kinds), 0);
    EXPECT_LT(QMXLlistGroup(-5, "/", &count, &names, &kinds), 0);
}

TEST_F(Listing, AttributeNames) {
    const int group = QMXLcreateOpaqueDataGroup(file, "/g");
    const int one = 1;
    QMXLsetAttribute(group, "b", &one);
    QMXLsetStringAttribute(group, "a", "x");
    QMXLcloseGroup(group);
    int count = 0;
    char** names = nullptr;
    ASSERT_OK(QMXLlistAttributes(file, "/g", &count, &names));
    ASSERT_EQ(count, 4);
    EXPECT_STREQ(names[0], "QMZ_ATTR_CRC32C");
    EXPECT_STREQ(names[1], "QMZ_OBJECT_GROUP");
    EXPECT_STREQ(names[2], "a");
    EXPECT_STREQ(names[3], "b");
    QMXLreleaseStrings(count, names);
    QMXLreleaseArray(&names);
    ASSERT_OK(QMXLlistAttributes(file, "/", &count, &names));
    EXPECT_EQ(count, 4);  // the container marker, its version, the checksum marker, their checksum
    QMXLreleaseStrings(count, names);
    QMXLreleaseArray(&names);
    EXPECT_LT(QMXLlistAttributes(file, "/missing", &count, &names), 0);
    EXPECT_LT(QMXLlistAttributes(file, nullptr, &count, &names), 0);
}
