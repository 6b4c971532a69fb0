#include "TestFiles.h"

using namespace Quellmar::testing;

using Listing = ContainerTest;

TEST_F(Listing, MembersComeInNameOrderWithTheirKinds) {
    QMXLcloseGroup(QMXLcreateOpaqueDataGroup(file, "/top/objects"));
    ASSERT_EQ(QMXLcreatePathToGroup(file, "/top/plain"), 1);
    ASSERT_EQ(QMXLcreateCompressedOpaqueData(file, "/top", "blob", 0, 0, 1, "b"), 1);
    ASSERT_EQ(QMXLcreateCompressedStringDataset(file, "/top", "text", 0, 0, 1, "t"), 1);
    ASSERT_EQ(QMXLcreateTypedDataset(file, "/top", "vector", 0, 0, 1, QMXL_INT16, 0, nullptr), 1);
    const int type = QMXLcreateCompoundType(0, 4, 0);
    QMXLaddField(type, "a", 0, QMXL_INT32);
    ASSERT_EQ(QMXLcreateObjectDataset(file, "/top", "records", 0, 0, 1, type, 1, 0, nullptr), 1);
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
    EXPECT_EQ(QMXLreleaseArray(&names), 1);
    EXPECT_EQ(QMXLreleaseArray(&kinds), 1);
    EXPECT_EQ(names, nullptr);

    ASSERT_EQ(QMXLlistGroup(file, "/top/plain", &count, &names, &kinds), 1);
    EXPECT_EQ(count, 0);
    QMXLreleaseStrings(count, names);
    QMXLreleaseArray(&names);
    QMXLreleaseArray(&kinds);

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
    ASSERT_EQ(QMXLlistAttributes(file, "/", &count, &names), 1);
    EXPECT_EQ(count, 4);  // the container marker, its version, the checksum marker, their checksum
    QMXLreleaseStrings(count, names);
    QMXLreleaseArray(&names);
    EXPECT_LT(QMXLlistAttributes(file, "/missing", &count, &names), 0);
    EXPECT_LT(QMXLlistAttributes(file, nullptr, &count, &names), 0);
}
