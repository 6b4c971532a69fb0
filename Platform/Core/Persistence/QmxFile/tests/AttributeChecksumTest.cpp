// Checksums over the attributes of groups, datasets and the root: every write keeps them, and
// damage to a name, type or value fails every use of that object's attributes.
#include "TestFiles.h"

#include <cstdlib>

using namespace Quellmar;
using namespace Quellmar::testing;

namespace {

constexpr const char* kSum = "QMZ_ATTR_CRC32C";

class AttributeChecksums : public Quellmar::testing::ContainerTest {
protected:
    // A group with bookkeeping of every kind and a 2 x 3 array carrying its shape.
    void writeSample() {
        const int group = QMXLcreateOpaqueDataGroup(file, "/models");
        ASSERT_GT(group, 0) << lastError();
        const int version = 3;
        const unsigned long long maximum = 4096;
        ASSERT_OK(QMXLsetAttribute(group, "Version", &version));
        ASSERT_OK(QMXLcreateUInt64Attribute(group, "MaximumIdentifierValue", &maximum));
        ASSERT_OK(QMXLsetStringAttribute(group, "Id", "MDL-204117"));
        QMXLcloseGroup(group);
        const double values[6] = {1, 2, 3, 4, 5, 6};
        ASSERT_OK(QMXLcreateTypedDataset(file, "/r", "grid", 0, 0, 0, QMXL_FLOAT64, 6, values));
        const int grid = QMXLopenDataset(file, "/r/grid");
        const int rows = 2, cols = 3;
        ASSERT_OK(QMXLsetAttribute(grid, "Rows", &rows));
        ASSERT_OK(QMXLsetAttribute(grid, "Cols", &cols));
        QMXLcloseObject(grid);
    }

    // Damage placed with the file closed; then it is open again.
    void patch(const std::string& find, const std::string& with) {
        ContainerTest::patch(find, with);
        reopen();
    }

    // Every attribute call on the object fails, names it and says why.
    void expectDamaged(const char* object, const char* reason) {
        const bool isGroup = std::string(object) == "/models";
        const int handle = isGroup ? QMXLopenGroup(file, object) : QMXLopenDataset(file, object);
        ASSERT_GT(handle, 0) << lastError();
        int value = 0;
        char* text = nullptr;
        EXPECT_LT(QMXLhasAttribute(handle, "Version"), 0);
        EXPECT_ERROR(std::string("'") + object + "'");
        EXPECT_ERROR(reason);
        EXPECT_LT(QMXLreadAttribute(handle, isGroup ? "Version" : "Rows", &value), 0);
        EXPECT_LT(QMXLgetStringAttribute(handle, "Id", &text), 0);
        EXPECT_EQ(text, nullptr);
        // A write would seal the damage.
        EXPECT_LT(QMXLsetAttribute(handle, "Other", &value), 0);
        QMXLcloseObject(handle);
    }

    template <class Change>
    void withHdf5(Change change) {
        ContainerTest::withHdf5(change);
        reopen();
    }
};

TEST_F(AttributeChecksums, EveryWriteKeepsThemValidAcrossReopenUpdateAndCompaction) {
    writeSample();
    const int group = QMXLopenGroup(file, "/models");
    const int four = 4;
    const unsigned long long more = 8192;
    ASSERT_OK(QMXLupdateAttribute(group, "Version", &four));
    ASSERT_OK(QMXLupdateUInt64Attribute(group, "MaximumIdentifierValue", &more));
    ASSERT_OK(QMXLsetStringAttribute(group, "Id", ""));
    ASSERT_OK(QMXLsetStringAttribute(group, "Version", "now text"));  // another type
    QMXLcloseGroup(group);
    // Another size lays the dataset out anew and copies its attributes.
    const double values[12] = {};
    ASSERT_OK(QMXLupdateTypedDataset(file, "/r", "grid", QMXL_FLOAT64, 12, values));
    ASSERT_OK(QMXLupdateQMVersionOfFile(file, 7));
    close();
    ASSERT_OK(QMXLdeflate(path.c_str(), 100));
    reopen(true);
    const int reopened = QMXLopenGroup(file, "/models");
    char* text = nullptr;
    ASSERT_OK(QMXLgetStringAttribute(reopened, "Version", &text));
    EXPECT_STREQ(text, "now text");
    std::free(text);
    unsigned long long maximum = 0;
    ASSERT_OK(QMXLreadUInt64Attribute(reopened, "MaximumIdentifierValue", &maximum));
    EXPECT_EQ(maximum, 8192u);
    QMXLcloseGroup(reopened);
    const int grid = QMXLopenDataset(file, "/r/grid");
    int rows = 0;
    ASSERT_OK(QMXLreadAttribute(grid, "Rows", &rows));
    EXPECT_EQ(rows, 2);
    QMXLcloseObject(grid);
    int version = 0;
    ASSERT_OK(QMXLgetQMVersionOfFile(file, &version));
    EXPECT_EQ(version, 7);
    EXPECT_OK(QMXLhasAttribute(file, "QMZ_CHECKSUMS"));
}

// Small objects without attributes of their own pay nothing: no second checksum.
TEST_F(AttributeChecksums, OnlyObjectsWithAttributesCarryOne) {
    writeSample();
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/models", "blob", 0, 0, 3, "abc"));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/models", "small", 6, 0, 3, "abc"));
    const int blob = QMXLopenDataset(file, "/models/blob");
    const int small = QMXLopenDataset(file, "/models/small");  // carries its deflate level
    const int group = QMXLopenGroup(file, "/models");
    EXPECT_EQ(QMXLhasAttribute(blob, kSum), 0);
    EXPECT_OK(QMXLhasAttribute(small, kSum));
    EXPECT_OK(QMXLhasAttribute(group, kSum));
    EXPECT_OK(QMXLhasAttribute(file, kSum));
    QMXLcloseObject(blob);
    QMXLcloseObject(small);
    QMXLcloseGroup(group);
}

TEST_F(AttributeChecksums, DamagedValuesAndNamesFailEveryUseAndTheVerification) {
    writeSample();
    EXPECT_OK(QMXLverifyObject(file, "/models"));
    patch("MDL-204117", "MDL-204118");
    expectDamaged("/models", "attribute checksum mismatch: the object's attributes are damaged");
    EXPECT_LT(QMXLverifyObject(file, "/models"), 0);
    EXPECT_ERROR("the attributes of '/models'");
    EXPECT_ERROR("attribute checksum mismatch");
    // A damaged name reads as another attribute: "Rows" gone, "Rowz" there.
    patch(std::string("Rows\0", 5), std::string("Rowz\0", 5));
    expectDamaged("/r/grid", "attribute checksum mismatch");
    // The root's bookkeeping is covered as well.
    patch("QMZ_FORMAT_VERSION", "QMZ_FORMAT_VERSIOM");
    int version = 0;
    EXPECT_LT(QMXLreadAttribute(file, "QMZ_CHECKSUMS", &version), 0);
    EXPECT_ERROR("attribute checksum mismatch");
}

TEST_F(AttributeChecksums, AMissingChecksumIsDamageOnlyInMarkedFiles) {
    writeSample();
    withHdf5([](hid_t f) { ASSERT_GE(H5Adelete_by_name(f, "/models", kSum, H5P_DEFAULT), 0); });
    expectDamaged("/models", "the attribute checksum is missing");

    // A file from before checksums: neither the marker nor any attribute checksum.
    withHdf5([](hid_t f) {
        ASSERT_GE(H5Adelete(f, "QMZ_CHECKSUMS"), 0);
        ASSERT_GE(H5Adelete(f, kSum), 0);
        ASSERT_GE(H5Adelete_by_name(f, "/r/grid", kSum, H5P_DEFAULT), 0);
    });
    const int group = QMXLopenGroup(file, "/models");
    int version = 0;
    ASSERT_OK(QMXLreadAttribute(group, "Version", &version));
    EXPECT_EQ(version, 3);
    // Its next attribute write starts a checksum, which then guards the object.
    ASSERT_OK(QMXLsetAttribute(group, "Version", &version));
    EXPECT_OK(QMXLhasAttribute(group, kSum));
    QMXLcloseGroup(group);
    patch("MDL-204117", "MDL-204118");
    expectDamaged("/models", "attribute checksum mismatch");
}

TEST_F(AttributeChecksums, AChecksumOfAnotherTypeIsDamage) {
    writeSample();
    withHdf5([](hid_t f) {
        ASSERT_GE(H5Adelete_by_name(f, "/models", kSum, H5P_DEFAULT), 0);
        const hid_t space = H5Screate(H5S_SCALAR);
        const hid_t a = H5Acreate_by_name(f, "/models", kSum, H5T_IEEE_F64LE, space, H5P_DEFAULT,
                                          H5P_DEFAULT, H5P_DEFAULT);
        const double value = 1.0;
        H5Awrite(a, H5T_NATIVE_DOUBLE, &value);
        H5Aclose(a);
        H5Sclose(space);
    });
    expectDamaged("/models", "the attribute checksum is unreadable");
}

}  // namespace

namespace {

// Group storage that a lookup by name never touches: a name index node whose sibling address
// points past the end of the file. Listing and reading still work; HDF5's own walk of the
// header (as h5py's visit does) fails, and so does the verification.
TEST_F(AttributeChecksums, VerifyObjectDecodesTheWholeHeader) {
    for (const char* name : {"a", "b", "c"})
        ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/three", name, 0, 0, 3, "xyz"));
    EXPECT_OK(QMXLverifyObject(file, "/three"));
    EXPECT_OK(QMXLverifyObject(file, "/three/b"));
    EXPECT_OK(QMXLverifyObject(file, "/"));
    // The group's version-1 index node, written after the root's: a leaf with one child and
    // no siblings. Its right sibling now lies at 10,000, past the end of the file.
    close();
    std::string bytes = Quellmar::testing::readFile(path);
    const std::string leaf = std::string("TREE\0\0\x01\0", 8) + std::string(16, '\xff');
    const auto at = bytes.rfind(leaf);
    ASSERT_NE(at, std::string::npos);
    ASSERT_NE(bytes.find(leaf), at) << "the root's node is the first";
    bytes.replace(at + 16, 8, std::string("\x10\x27", 2) + std::string(6, '\0'));
    Quellmar::testing::writeFile(path, bytes);
    reopen();
    EXPECT_EQ(memberCount(file, "/three"), 3) << lastError();
    EXPECT_LT(QMXLverifyObject(file, "/three"), 0);
    EXPECT_ERROR("the header of '/three'");
    EXPECT_OK(QMXLverifyObject(file, "/three/b"));
    EXPECT_LT(QMXLverifyObject(file, "/missing"), 0);
}

}  // namespace
