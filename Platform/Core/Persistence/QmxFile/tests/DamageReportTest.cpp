// How the file library reports what a reader must tell apart: nothing stored under a name,
// something of another kind there, and damage; sizes the stored bytes cannot hold; and the
// sealing of items another program added.
#include "TestFiles.h"

using namespace Quellmar;
using namespace Quellmar::testing;

namespace {

class DamageReport : public ContainerTest {
protected:
    // Lets `change` work on the closed file with HDF5 itself, then reopens it.
    template <class Change>
    void behindTheLibrary(Change change) {
        withHdf5(change);
        reopen();
    }
    void makeItems() {
        const std::int32_t values[4] = {1, 2, 3, 4};
        ASSERT_GT(QMXLcreateTypedDataset(file, "/g", "v", 0, 0, 1, QMXL_INT32, 4, values), 0)
            << lastError();
        ASSERT_GT(QMXLcreateCompressedOpaqueData(file, "/g", "blob", 0, 0, 3, "abc"), 0)
            << lastError();
    }
    // The byte offset of a dataset's object header.
    haddr_t headerOf(const std::string& dataset) {
        close();
        H5Id f(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
        H5O_info_t info;
        EXPECT_GE(H5Oget_info_by_name2(f.id, dataset.c_str(), &info, H5O_INFO_BASIC, H5P_DEFAULT),
                  0);
        return info.addr;
    }
};

TEST_F(DamageReport, AbsenceAndOtherKindsAreToldFromOtherFailures) {
    makeItems();
    long long size = 0;
    EXPECT_LT(QMXLgetSizeOfDataset(file, "/g", "missing", &size), 0);
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_MISSING) << lastError();
    EXPECT_LT(QMXLgetSizeOfOpaqueData(file, "/nogroup/deeper", "blob", &size), 0);
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_MISSING) << lastError();
    EXPECT_LT(QMXLgetSizeOfStringDataset(file, "/g", "blob", &size), 0);  // an opaque item
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_OTHER_KIND) << lastError();
    EXPECT_LT(QMXLgetSizeOfDataset(file, "/", "g", &size), 0);  // a group
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_OTHER_KIND) << lastError();
    EXPECT_LT(QMXLopenGroup(file, "/g/v"), 0);
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_OTHER_KIND) << lastError();
    EXPECT_LT(QMXLopenOpaqueDataGroup(file, "/g"), 0);  // a plain group
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_OTHER_KIND) << lastError();
    EXPECT_LT(QMXLopenGroup(file, "/none"), 0);
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_MISSING) << lastError();
    EXPECT_LT(QMXLopenGroup(-5, "/g"), 0);  // a bad handle is neither
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_OTHER) << lastError();
    // Asking does not change the answer, and a success does not clear it.
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_OTHER);
    ASSERT_GE(QMXLgetSizeOfDataset(file, "/g", "v", &size), 0);
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_OTHER);
}

TEST_F(DamageReport, AnUnreadableHeaderBehindANameIsDamageNotAbsence) {
    makeItems();
    const haddr_t address = headerOf("/g/blob");
    ASSERT_GT(address, 0u);
    std::string bytes = Quellmar::testing::readFile(path);
    bytes.replace(static_cast<std::size_t>(address), 16, std::string(16, '\xff'));
    Quellmar::testing::writeFile(path, bytes);
    reopen(true);

    long long size = 0;
    EXPECT_LT(QMXLgetSizeOfOpaqueData(file, "/g", "blob", &size), 0);
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_OTHER) << lastError();
    EXPECT_ERROR("'/g/blob'");
    EXPECT_LT(QMXLexistsDataset(file, "/g/blob"), 0) << "damage answered as 'no dataset'";
    // A soft link to nothing is still nothing.
    behindTheLibrary(
        [](hid_t f) { H5Lcreate_soft("/g/nowhere", f, "/g/dangling", H5P_DEFAULT, H5P_DEFAULT); });
    EXPECT_LT(QMXLgetSizeOfDataset(file, "/g", "dangling", &size), 0);
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_MISSING) << lastError();
}

TEST_F(DamageReport, SealingAddsOnlyMissingChecksumsAndNeverSealsDamage) {
    makeItems();
    behindTheLibrary([](hid_t f) {
        // As h5py would: a new dataset and a new group with an attribute, without checksums.
        const hsize_t n = 3;
        H5Id space(H5Screate_simple(1, &n, nullptr));
        H5Id d(H5Dcreate2(f, "/g/added", H5T_STD_I16LE, space.id, H5P_DEFAULT, H5P_DEFAULT,
                          H5P_DEFAULT));
        const short values[3] = {7, 8, 9};
        H5Dwrite(d.id, H5T_NATIVE_SHORT, H5S_ALL, H5S_ALL, H5P_DEFAULT, values);
        H5Id g(H5Gcreate2(f, "/extra", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
        H5Id scalar(H5Screate(H5S_SCALAR));
        H5Id a(H5Acreate2(g.id, "Note", H5T_STD_I32LE, scalar.id, H5P_DEFAULT, H5P_DEFAULT));
        const int one = 1;
        H5Awrite(a.id, H5T_NATIVE_INT, &one);
        // And damage to an item that has its checksum.
        H5Id v(H5Dopen2(f, "/g/v", H5P_DEFAULT));
        const std::int32_t other[4] = {1, 2, 3, 5};
        H5Dwrite(v.id, H5T_NATIVE_INT32, H5S_ALL, H5S_ALL, H5P_DEFAULT, other);
    });
    short added[3] = {};
    EXPECT_LT(QMXLreadTypedDataset(file, "/g", "added", QMXL_INT16, added), 0);
    EXPECT_ERROR("checksum attribute is missing");
    const int extra = QMXLopenGroup(file, "/extra");
    int note = 0;
    EXPECT_LT(QMXLreadAttribute(extra, "Note", &note), 0);
    QMXLcloseGroup(extra);

    EXPECT_OK(QMXLsealObject(file, "/g/added"));
    EXPECT_OK(QMXLsealObject(file, "/extra"));
    EXPECT_EQ(QMXLsealObject(file, "/g/v"), 0) << "a checksum that is there is never rewritten";
    EXPECT_EQ(QMXLsealObject(file, "/g/added"), 0);
    EXPECT_LT(QMXLsealObject(file, "/g/missing"), 0);
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_MISSING);

    reopen(true);
    ASSERT_GT(QMXLreadTypedDataset(file, "/g", "added", QMXL_INT16, added), 0) << lastError();
    EXPECT_EQ(added[2], 9);
    const int sealedGroup = QMXLopenGroup(file, "/extra");
    EXPECT_GT(QMXLreadAttribute(sealedGroup, "Note", &note), 0) << lastError();
    EXPECT_EQ(note, 1);
    QMXLcloseGroup(sealedGroup);
    std::int32_t v[4] = {};
    EXPECT_LT(QMXLreadTypedDataset(file, "/g", "v", QMXL_INT32, v), 0);
    EXPECT_ERROR("checksum mismatch");
    EXPECT_LT(QMXLsealObject(file, "/g/added"), 0) << "read-only files are not changed";
}

}  // namespace
