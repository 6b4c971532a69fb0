// Where items land in the file: large ones on a page boundary, small ones packed as before.
#include "TestFiles.h"

#include <hdf5.h>

#include <vector>

using namespace Quellmar;
using Quellmar::testing::ContainerTest;
using Quellmar::testing::H5Id;
using Quellmar::testing::lastError;

namespace {

class LargeItemPlacement : public ContainerTest {
protected:
    haddr_t offsetOf(const char* dataset) {
        H5Id f(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
        H5Id d(H5Dopen2(f.id, dataset, H5P_DEFAULT));
        return H5Dget_offset(d.id);
    }
};

}  // namespace

TEST_F(LargeItemPlacement, LargeItemsStartOnAPageAndSmallOnesDoNot) {
    // Medium items: contiguous (beyond the compact size) but under a MiB.
    const std::vector<double> big((1u << 20) / 8 + 3, 1.5), medium(5000, 2.5);
    ASSERT_EQ(
        QMXLcreateTypedDataset(file, "/g", "small", 0, 0, 0, QMXL_FLOAT64, 5000, medium.data()), 1)
        << lastError();
    ASSERT_EQ(QMXLcreateTypedDataset(file, "/g", "big", 0, 0, 0, QMXL_FLOAT64,
                                     static_cast<long long>(big.size()), big.data()),
              1)
        << lastError();
    ASSERT_EQ(QMXLcreateTypedDataset(file, "/g", "big2", 0, 0, 0, QMXL_FLOAT64,
                                     static_cast<long long>(big.size()), big.data()),
              1)
        << lastError();
    ASSERT_EQ(
        QMXLcreateTypedDataset(file, "/g", "small2", 0, 0, 0, QMXL_FLOAT64, 5000, medium.data()), 1)
        << lastError();
    QMXLcloseOpenedObjectsForFile(file);
    QMXLcloseAllFileHandlesForFile(file);
    file = -1;
    EXPECT_EQ(offsetOf("/g/big") % 4096, 0u);
    EXPECT_EQ(offsetOf("/g/big2") % 4096, 0u);
    // Smaller items are not spread out to pages: 40,000 bytes apart, not both can start on one.
    const haddr_t a = offsetOf("/g/small"), b = offsetOf("/g/small2");
    ASSERT_NE(a, HADDR_UNDEF);
    ASSERT_NE(b, HADDR_UNDEF);
    EXPECT_FALSE(a % 4096 == 0 && b % 4096 == 0) << a << " " << b;
}
