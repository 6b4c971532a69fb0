#include "TestFiles.h"

#include <climits>
#include <cstdlib>

using namespace Quellmar::testing;

using Attributes = ContainerTest;

TEST_F(Attributes, IntegersOnGroupsDatasetsAndTheFile) {
    const int group = QMXLcreateOpaqueDataGroup(file, "/g");
    ASSERT_EQ(QMXLcreateTypedDataset(file, "/g", "d", 0, 0, 1, QMXL_INT8, 0, nullptr), 1);
    const int dataset = QMXLopenDataset(file, "//g/d");
    ASSERT_GT(group, 0);
    ASSERT_GT(dataset, 0);
    for (int object : {group, dataset, file}) {
        int value = 3;
        EXPECT_EQ(QMXLhasAttribute(object, "Version"), 0);
        ASSERT_OK(QMXLcreateAttribute(object, "Version", &value));
        EXPECT_EQ(QMXLhasAttribute(object, "Version"), 1);
        EXPECT_LT(QMXLcreateAttribute(object, "Version", &value), 0);
        EXPECT_ERROR("exists already");
        value = INT_MIN;
        ASSERT_EQ(QMXLupdateAttribute(object, "Version", &value), 1);
        int read = 0;
        ASSERT_EQ(QMXLreadAttribute(object, "Version", &read), 1);
        EXPECT_EQ(read, INT_MIN);
        value = 42;
        ASSERT_EQ(QMXLsetAttribute(object, "Version", &value), 1);
        ASSERT_EQ(QMXLsetAttribute(object, "Other", &value), 1);
        ASSERT_EQ(QMXLreadAttribute(object, "Version", &read), 1);
        EXPECT_EQ(read, 42);
        EXPECT_LT(QMXLupdateAttribute(object, "Missing", &value), 0);
        EXPECT_ERROR("Missing");
        EXPECT_LT(QMXLreadAttribute(object, "Missing", &read), 0);
    }
    QMXLcloseObject(dataset);
    QMXLcloseGroup(group);
}

TEST_F(Attributes, UnsignedSixtyFourBitValuesKeepEveryBit) {
    const int group = QMXLcreateOpaqueDataGroup(file, "/g");
    const unsigned long long max = ~0ull;
    ASSERT_EQ(QMXLcreateUInt64Attribute(group, "MaximumIdentifierValue", &max), 1);
    unsigned long long read = 0;
    ASSERT_EQ(QMXLreadUInt64Attribute(group, "MaximumIdentifierValue", &read), 1);
    EXPECT_EQ(read, max);
    const unsigned long long other = 1ull << 63;
    ASSERT_EQ(QMXLupdateUInt64Attribute(group, "MaximumIdentifierValue", &other), 1);
    ASSERT_EQ(QMXLreadUInt64Attribute(group, "MaximumIdentifierValue", &read), 1);
    EXPECT_EQ(read, other);
    EXPECT_LT(QMXLcreateUInt64Attribute(group, "MaximumIdentifierValue", &other), 0);
    EXPECT_LT(QMXLupdateUInt64Attribute(group, "Nothing", &other), 0);
    // A 16-bit value in a 32-bit attribute reads back whole.
    const int high = 65535;
    ASSERT_EQ(QMXLcreateAttribute(group, "MaximumIdentifierValueHigh", &high), 1);
    int highRead = 0;
    ASSERT_EQ(QMXLreadAttribute(group, "MaximumIdentifierValueHigh", &highRead), 1);
    EXPECT_EQ(highRead, 65535);
    QMXLcloseGroup(group);
    reopen(true);
    const int again = QMXLopenOpaqueDataGroup(file, "/g");
    ASSERT_EQ(QMXLreadUInt64Attribute(again, "MaximumIdentifierValue", &read), 1);
    EXPECT_EQ(read, other);
    QMXLcloseGroup(again);
}

TEST_F(Attributes, StringsAreSetReplacedAndReadWithMalloc) {
    const int group = QMXLcreateOpaqueDataGroup(file, "/g");
    char* text = nullptr;
    EXPECT_LT(QMXLgetStringAttribute(group, "Id", &text), 0);
    EXPECT_EQ(text, nullptr);
    ASSERT_EQ(QMXLsetStringAttribute(group, "Id", "a fairly long identifier text"), 1);
    ASSERT_EQ(QMXLgetStringAttribute(group, "Id", &text), 1);
    EXPECT_STREQ(text, "a fairly long identifier text");
    std::free(text);
    ASSERT_EQ(QMXLsetStringAttribute(group, "Id", "short"), 1);
    ASSERT_EQ(QMXLgetStringAttribute(group, "Id", &text), 1);
    EXPECT_STREQ(text, "short");
    std::free(text);
    ASSERT_EQ(QMXLsetStringAttribute(group, "Empty", ""), 1);
    ASSERT_EQ(QMXLgetStringAttribute(group, "Empty", &text), 1);
    EXPECT_STREQ(text, "");
    std::free(text);
    // Texts and numbers are not mixed up.
    int number = 0;
    EXPECT_LT(QMXLreadAttribute(group, "Id", &number), 0);
    EXPECT_ERROR("not a single number");
    ASSERT_EQ(QMXLsetAttribute(group, "Id", &number), 1);  // set replaces whatever was there
    ASSERT_EQ(QMXLreadAttribute(group, "Id", &number), 1);
    EXPECT_LT(QMXLgetStringAttribute(group, "Id", &text), 0);
    QMXLcloseGroup(group);
}

TEST_F(Attributes, BadArguments) {
    int value = 1;
    unsigned long long big = 1;
    char* text = nullptr;
    EXPECT_LT(QMXLhasAttribute(file, nullptr), 0);
    EXPECT_LT(QMXLhasAttribute(file, ""), 0);
    EXPECT_LT(QMXLhasAttribute(-1, "a"), 0);
    EXPECT_LT(QMXLcreateAttribute(file, "a", nullptr), 0);
    EXPECT_LT(QMXLupdateAttribute(file, nullptr, &value), 0);
    EXPECT_LT(QMXLsetAttribute(0, "a", &value), 0);
    EXPECT_LT(QMXLreadAttribute(file, "a", nullptr), 0);
    EXPECT_LT(QMXLcreateUInt64Attribute(file, "a", nullptr), 0);
    EXPECT_LT(QMXLreadUInt64Attribute(file, "", &big), 0);
    EXPECT_LT(QMXLsetStringAttribute(file, "a", nullptr), 0);
    EXPECT_LT(QMXLgetStringAttribute(file, "a", nullptr), 0);
    EXPECT_LT(QMXLgetStringAttribute(file, nullptr, &text), 0);
    EXPECT_EQ(text, nullptr);
}
