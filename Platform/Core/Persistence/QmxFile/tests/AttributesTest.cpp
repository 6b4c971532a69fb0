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

// Integer attributes of the item a size query keeps are served again from the kept item (an
// array's shape, read before every row read). Only that item's own handles get them, by their
// own memory type, and a write in between is seen.
TEST_F(Attributes, KeptItemAnswersForItselfUntilAWrite) {
    ASSERT_OK(QMXLcreateTypedDataset(file, "/g", "d", 0, 0, 4, QMXL_INT8, 0, nullptr));
    ASSERT_OK(QMXLcreateTypedDataset(file, "/g", "e", 0, 0, 4, QMXL_INT8, 0, nullptr));
    for (const auto& [name, cols] : {std::pair<const char*, int>{"//g/d", 3}, {"//g/e", 11}}) {
        const int handle = QMXLopenDataset(file, name);
        ASSERT_GT(handle, 0) << lastError();
        ASSERT_OK(QMXLcreateAttribute(handle, "Cols", &cols));
        QMXLcloseObject(handle);
    }
    long long count = 0;
    int type = 0;
    auto keepD = [&] { ASSERT_OK(QMXLgetDatasetInfo(file, "/g", "d", &count, &type)); };
    auto readCols = [](int handle) {
        int value = -1;
        EXPECT_OK(QMXLreadAttribute(handle, "Cols", &value));
        return value;
    };

    const int e = QMXLopenDataset(file, "//g/e");
    keepD();
    const int d = QMXLopenDataset(file, "//g/d");  // a handle on the kept item itself
    ASSERT_GT(d, 0);
    ASSERT_GT(e, 0);
    EXPECT_EQ(readCols(d), 3);
    EXPECT_EQ(readCols(d), 3);
    EXPECT_EQ(readCols(e), 11) << "another item's attribute of the same name";
    unsigned long long wide = 0;
    EXPECT_OK(QMXLreadUInt64Attribute(d, "Cols", &wide));
    EXPECT_EQ(wide, 3u);
    EXPECT_OK(QMXLhasAttribute(d, "Cols"));
    EXPECT_EQ(QMXLhasAttribute(d, "Rows"), 0);
    int value = 0;
    EXPECT_LT(QMXLreadAttribute(d, "Rows", &value), 0);
    EXPECT_ERROR("does not exist");

    // Writes through a handle on the kept item, right after it answered from what it kept.
    keepD();
    const int other = QMXLopenDataset(file, "//g/d");
    ASSERT_GT(other, 0);
    EXPECT_EQ(readCols(other), 3);
    EXPECT_EQ(readCols(other), 3);
    const int seven = 7;
    ASSERT_OK(QMXLupdateAttribute(other, "Cols", &seven));
    EXPECT_EQ(readCols(other), 7);
    EXPECT_EQ(readCols(d), 7);
    keepD();
    const int third = QMXLopenDataset(file, "//g/d");
    ASSERT_GT(third, 0);
    EXPECT_EQ(readCols(third), 7);
    const int nine = 9;
    ASSERT_OK(QMXLsetAttribute(third, "Cols", &nine));
    EXPECT_EQ(readCols(third), 9);
    EXPECT_EQ(readCols(other), 9);
    QMXLcloseObject(third);
    QMXLcloseObject(other);
    QMXLcloseObject(e);
    QMXLcloseObject(d);
}

// An item's integer attributes read in a read-only session are remembered, with what was
// verified of the item, for the next read-only session of the unchanged file (an array's shape,
// asked before every row read). No change of the file may leave one stale: neither a writer's
// of this process nor one from outside.
TEST_F(Attributes, RememberedIntegersNeverOutliveAChangeOfTheFile) {
    const std::vector<double> values(300000, 1.5);  // large: its slice checksums are remembered
    ASSERT_OK(QMXLcreateTypedDataset(file, "/g", "d", 0, 0, 0, QMXL_FLOAT64,
                                     static_cast<long long>(values.size()), values.data()));
    const auto setCols = [&](int cols) {
        reopen();
        const int handle = QMXLopenDataset(file, "/g/d");
        ASSERT_GT(handle, 0) << lastError();
        ASSERT_OK(QMXLsetAttribute(handle, "Cols", &cols));
        QMXLcloseObject(handle);
    };
    // A read-only session reading as a row read does: size, a handle on the item, the value,
    // then a range. -1 when the value cannot be read.
    const auto readCols = [&] {
        reopen(true);
        long long count = 0;
        int type = 0;
        EXPECT_OK(QMXLgetDatasetInfo(file, "/g", "d", &count, &type));
        const int handle = QMXLopenDataset(file, "/g/d");
        EXPECT_GT(handle, 0) << lastError();
        int value = -1;
        if (QMXLreadAttribute(handle, "Cols", &value) < 0)
            value = -1;
        QMXLcloseObject(handle);
        double x = 0;
        EXPECT_OK(QMXLreadTypedDatasetRange(file, "/g", "d", QMXL_FLOAT64, 5, 1, &x));
        return value;
    };
    setCols(3);
    for (int session = 0; session < 3; ++session)
        EXPECT_EQ(readCols(), 3) << session;
    setCols(5);  // a writer of this process
    for (int session = 0; session < 3; ++session)
        EXPECT_EQ(readCols(), 5) << session;
    withHdf5([&](hid_t f) {  // from outside: found changed or refused as damaged, never stale
        ASSERT_GE(H5Adelete_by_name(f, "/g/d", "Cols", H5P_DEFAULT), 0);
        H5Id space(H5Screate(H5S_SCALAR));
        H5Id a(H5Acreate_by_name(f, "/g/d", "Cols", H5T_STD_I32LE, space.id, H5P_DEFAULT,
                                 H5P_DEFAULT, H5P_DEFAULT));
        const int eight = 8;
        ASSERT_GE(H5Awrite(a.id, H5T_NATIVE_INT, &eight), 0);
    });
    const int outside = readCols();
    EXPECT_TRUE(outside == 8 || outside == -1) << outside;
}
