#include "TestFiles.h"

#include <climits>
#include <cstdlib>

using namespace Quellmar::testing;

using Attributes = ContainerTest;

TEST_F(Attributes, IntegersOnGroupsDatasetsAndTheFile) {
    const int group = QMXLcreateOpaqueDataGroup(file, "/g");
    ASSERT_OK(QMXLcreateTypedDataset(file, "/g", "d", 0, 0, 1, QMXL_INT8, 0, nullptr));
    const int dataset = QMXLopenDataset(file, "//g/d");
    ASSERT_GT(group, 0);
    ASSERT_GT(dataset, 0);
    for (int object : {group, dataset, file}) {
        int value = 3;
        EXPECT_EQ(QMXLhasAttribute(object, "Version"), 0);
        ASSERT_OK(QMXLcreateAttribute(object, "Version", &value));
        EXPECT_OK(QMXLhasAttribute(object, "Version"));
        EXPECT_LT(QMXLcreateAttribute(object, "Version", &value), 0);
        EXPECT_ERROR("exists already");
        value = INT_MIN;
        ASSERT_OK(QMXLupdateAttribute(object, "Version", &value));
        int read = 0;
        ASSERT_OK(QMXLreadAttribute(object, "Version", &read));
        EXPECT_EQ(read, INT_MIN);
        value = 42;
        ASSERT_OK(QMXLsetAttribute(object, "Version", &value));
        ASSERT_OK(QMXLsetAttribute(object, "Other", &value));
        ASSERT_OK(QMXLreadAttribute(object, "Version", &read));
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
    ASSERT_OK(QMXLcreateUInt64Attribute(group, "MaximumIdentifierValue", &max));
    unsigned long long read = 0;
    ASSERT_OK(QMXLreadUInt64Attribute(group, "MaximumIdentifierValue", &read));
    EXPECT_EQ(read, max);
    const unsigned long long other = 1ull << 63;
    ASSERT_OK(QMXLupdateUInt64Attribute(group, "MaximumIdentifierValue", &other));
    ASSERT_OK(QMXLreadUInt64Attribute(group, "MaximumIdentifierValue", &read));
    EXPECT_EQ(read, other);
    EXPECT_LT(QMXLcreateUInt64Attribute(group, "MaximumIdentifierValue", &other), 0);
    EXPECT_LT(QMXLupdateUInt64Attribute(group, "Nothing", &other), 0);
    // A 16-bit value in a 32-bit attribute reads back whole.
    const int high = 65535;
    ASSERT_OK(QMXLcreateAttribute(group, "MaximumIdentifierValueHigh", &high));
    int highRead = 0;
    ASSERT_OK(QMXLreadAttribute(group, "MaximumIdentifierValueHigh", &highRead));
    EXPECT_EQ(highRead, 65535);
    QMXLcloseGroup(group);
    reopen(true);
    const int again = QMXLopenOpaqueDataGroup(file, "/g");
    ASSERT_OK(QMXLreadUInt64Attribute(again, "MaximumIdentifierValue", &read));
    EXPECT_EQ(read, other);
    QMXLcloseGroup(again);
}

TEST_F(Attributes, StringsAreSetReplacedAndReadWithMalloc) {
    const int group = QMXLcreateOpaqueDataGroup(file, "/g");
    char* text = nullptr;
    EXPECT_LT(QMXLgetStringAttribute(group, "Id", &text), 0);
    EXPECT_EQ(text, nullptr);
    ASSERT_OK(QMXLsetStringAttribute(group, "Id", "a fairly long identifier text"));
    ASSERT_OK(QMXLgetStringAttribute(group, "Id", &text));
    EXPECT_STREQ(text, "a fairly long identifier text");
    std::free(text);
    ASSERT_OK(QMXLsetStringAttribute(group, "Id", "short"));
    ASSERT_OK(QMXLgetStringAttribute(group, "Id", &text));
    EXPECT_STREQ(text, "short");
    std::free(text);
    ASSERT_OK(QMXLsetStringAttribute(group, "Empty", ""));
    ASSERT_OK(QMXLgetStringAttribute(group, "Empty", &text));
    EXPECT_STREQ(text, "");
    std::free(text);
    // Texts and numbers are not mixed up.
    int number = 0;
    EXPECT_LT(QMXLreadAttribute(group, "Id", &number), 0);
    EXPECT_ERROR("not a single number");
    ASSERT_OK(QMXLsetAttribute(group, "Id", &number));  // set replaces whatever was there
    ASSERT_OK(QMXLreadAttribute(group, "Id", &number));
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
