// How items are laid out on disk, where large ones start, and what small items cost.
#include "TestFiles.h"

using namespace Quellmar::testing;

using Layout = ContainerTest;

namespace {

struct Stored {
    H5D_layout_t layout = H5D_LAYOUT_ERROR;
    hsize_t chunk = 0;
    hsize_t bytes = 0;  // allocated for the data
    int filters = 0;
    haddr_t offset = HADDR_UNDEF;  // of contiguous data in the file
};

// Looks at a dataset of a closed file with HDF5 itself.
Stored inspect(const std::string& file, const std::string& path) {
    Stored s;
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    hid_t d = H5Dopen2(f, path.c_str(), H5P_DEFAULT);
    hid_t p = H5Dget_create_plist(d);
    s.layout = H5Pget_layout(p);
    if (s.layout == H5D_CHUNKED)
        H5Pget_chunk(p, 1, &s.chunk);
    s.filters = H5Pget_nfilters(p);
    s.bytes = H5Dget_storage_size(d);
    s.offset = H5Dget_offset(d);
    H5Pclose(p);
    H5Dclose(d);
    H5Fclose(f);
    return s;
}

}  // namespace

TEST_F(Layout, SmallDataIsCompactLargeDataContiguousCompressedDataChunked) {
    const std::string small(100, 's');
    const std::string large(100000, 'l');
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/", "small", 0, 100000, 100, small.data()));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/", "large", 0, 100000, 100000, large.data()));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/", "tiny", 6, 100000, 100, small.data()));
    const std::string medium(5000, 'm');
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/", "packed", 6, 100000, 5000, medium.data()));
    ASSERT_OK(
        QMXLcreateCompressedOpaqueData(file, "/", "packedLarge", 1, 4096, 100000, large.data()));
    const std::vector<double> vector(10, 2.5);
    ASSERT_OK(
        QMXLcreateTypedDataset(file, "/", "vector", 0, 100000, 1, QMXL_FLOAT64, 10, vector.data()));
    ASSERT_OK(QMXLcreateTypedDataset(file, "/", "shuffled", 1, 100000, 1, QMXL_FLOAT64, 1000,
                                     large.data()));
    QMXLcloseFile(file);
    file = -1;

    EXPECT_EQ(inspect(path, "/small").layout, H5D_COMPACT);
    EXPECT_EQ(inspect(path, "/vector").layout, H5D_COMPACT);
    EXPECT_EQ(inspect(path, "/large").layout, H5D_CONTIGUOUS);
    EXPECT_EQ(inspect(path, "/large").bytes, 100000u);
    // Too small for compression to pay for a chunk index.
    EXPECT_EQ(inspect(path, "/tiny").layout, H5D_COMPACT);
    // A chunk value far above the data never allocates more than the data.
    const Stored packed = inspect(path, "/packed");
    EXPECT_EQ(packed.layout, H5D_CHUNKED);
    EXPECT_EQ(packed.chunk, 5000u);
    EXPECT_LT(packed.bytes, 500u);
    EXPECT_EQ(packed.filters, 1);  // deflate alone for bytes
    const Stored packedLarge = inspect(path, "/packedLarge");
    EXPECT_EQ(packedLarge.chunk, 4096u);
    EXPECT_LT(packedLarge.bytes, 10000u);
    EXPECT_EQ(inspect(path, "/shuffled").filters, 2);  // shuffle, then deflate
}

TEST_F(Layout, UpdatesMoveItemsBetweenLayouts) {
    const std::string small(100, 's');
    const std::string large(100000, 'l');
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/", "x", 0, 0, 100, small.data()));
    ASSERT_OK(QMXLupdateOpaqueData(file, "/", "x", 100000, large.data()));
    QMXLcloseFile(file);
    EXPECT_EQ(inspect(path, "/x").layout, H5D_CONTIGUOUS);
    file = QMXLopenFile(path.c_str());
    ASSERT_OK(QMXLupdateOpaqueData(file, "/", "x", 100, small.data()));
    QMXLcloseFile(file);
    file = -1;
    EXPECT_EQ(inspect(path, "/x").layout, H5D_COMPACT);
}

TEST_F(Layout, LargeItemsStartOnAPageAndSmallOnesDoNot) {
    // Medium items: contiguous (beyond the compact size) but under a MiB.
    const std::vector<double> big((1u << 20) / 8 + 3, 1.5), medium(5000, 2.5);
    const long long bigCount = static_cast<long long>(big.size());
    ASSERT_OK(
        QMXLcreateTypedDataset(file, "/g", "small", 0, 0, 0, QMXL_FLOAT64, 5000, medium.data()));
    ASSERT_OK(
        QMXLcreateTypedDataset(file, "/g", "big", 0, 0, 0, QMXL_FLOAT64, bigCount, big.data()));
    ASSERT_OK(
        QMXLcreateTypedDataset(file, "/g", "big2", 0, 0, 0, QMXL_FLOAT64, bigCount, big.data()));
    ASSERT_OK(
        QMXLcreateTypedDataset(file, "/g", "small2", 0, 0, 0, QMXL_FLOAT64, 5000, medium.data()));
    close();
    EXPECT_EQ(inspect(path, "/g/big").offset % 4096, 0u);
    EXPECT_EQ(inspect(path, "/g/big2").offset % 4096, 0u);
    // Smaller items are not spread out to pages: 40,000 bytes apart, not both can start on one.
    const haddr_t a = inspect(path, "/g/small").offset, b = inspect(path, "/g/small2").offset;
    ASSERT_NE(a, HADDR_UNDEF);
    ASSERT_NE(b, HADDR_UNDEF);
    EXPECT_FALSE(a % 4096 == 0 && b % 4096 == 0) << a << " " << b;
}

TEST(LayoutCost, SmallObjectsStaySmallOnDisk) {
    // 200 objects of each kind, once in one session and once reopening the file for every
    // object as transactions do.
    TempDir dir;
    const std::string blob(100, 'b');
    const std::vector<double> vector(10, 1.25);
    for (bool reopenEach : {false, true}) {
        for (bool blobs : {true, false}) {
            const std::string path =
                dir.file(std::string(blobs ? "b" : "v") + (reopenEach ? "r" : "s") + ".qmz");
            int file = QMXLcreateFile(path.c_str());
            QMXLcloseFile(file);
            const long long empty = fileSize(path);
            file = QMXLopenFile(path.c_str());
            for (int i = 0; i < 200; ++i) {
                const std::string name = "o" + std::to_string(i);
                const int rc = blobs ? QMXLcreateCompressedOpaqueData(file, "/g", name.c_str(), 0,
                                                                      100000, 100, blob.data())
                                     : QMXLcreateTypedDataset(file, "/g", name.c_str(), 0, 100000,
                                                              1, QMXL_FLOAT64, 10, vector.data());
                ASSERT_OK(rc);
                if (reopenEach) {
                    QMXLcloseFile(file);
                    file = QMXLopenFile(path.c_str());
                }
            }
            QMXLcloseFile(file);
            const double perObject = static_cast<double>(fileSize(path) - empty) / 200.0;
            std::cout << (blobs ? "100-byte blob" : "10-double vector")
                      << (reopenEach ? ", reopened: " : ": ") << perObject << " bytes per object\n";
            // The raw HDF5 anchors: 481 (compact), 2,185 (contiguous, reopened each time).
            EXPECT_LT(perObject, 600.0);
        }
    }
}
