// The library's own loops for converting numbers, held bit for bit against HDF5's conversion,
// and every pair of numeric types read through the library against HDF5 reading the same file.
#include "NumberCopy.h"
#include "TestFiles.h"
#include "TypeCodes.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

using namespace Quellmar;
using namespace Quellmar::testing;

namespace {

template <class To, class From>
To bitsAs(From bits) {
    static_assert(sizeof(To) == sizeof(From));
    To v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// HDF5's conversion of `in` (elements of `from`) into `to`, done in place as HDF5 does it.
std::vector<unsigned char> hdf5Converts(const std::vector<unsigned char>& in, hid_t from, hid_t to,
                                        std::size_t count) {
    std::vector<unsigned char> buf(count * std::max(H5Tget_size(from), H5Tget_size(to)));
    std::memcpy(buf.data(), in.data(), in.size());
    EXPECT_GE(H5Tconvert(from, to, count, buf.data(), nullptr, H5P_DEFAULT), 0);
    buf.resize(count * H5Tget_size(to));
    return buf;
}

template <class T>
std::vector<unsigned char> bytesOf(const std::vector<T>& values) {
    std::vector<unsigned char> bytes(values.size() * sizeof(T));
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

// Doubles around every edge of the float range, then random bit patterns: NaNs with payloads
// of both signs, signalling ones, subnormals, infinities and ordinary numbers.
std::vector<double> awkwardDoubles() {
    constexpr double fmax = std::numeric_limits<float>::max();
    constexpr double fmin = std::numeric_limits<float>::min();
    constexpr double ftrue = std::numeric_limits<float>::denorm_min();
    // Halfway between the largest float and the next power: a plain cast rounds below it down.
    const double halfway = fmax + std::ldexp(1.0, 103);
    std::vector<double> v = {0.0,
                             -0.0,
                             1.0,
                             -1.0,
                             0.1,
                             fmax,
                             -fmax,
                             std::nextafter(fmax, INFINITY),
                             -std::nextafter(fmax, INFINITY),
                             std::nextafter(halfway, 0.0),
                             halfway,
                             std::nextafter(halfway, INFINITY),
                             -halfway,
                             2 * fmax,
                             std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::lowest(),
                             INFINITY,
                             -INFINITY,
                             std::numeric_limits<double>::quiet_NaN(),
                             -std::numeric_limits<double>::quiet_NaN(),
                             bitsAs<double>(std::uint64_t{0x7FF0000000000001}),  // signalling
                             bitsAs<double>(std::uint64_t{0xFFF4000000000123}),
                             fmin,
                             std::nextafter(fmin, 0.0),
                             ftrue,
                             ftrue / 2,
                             ftrue * 0.75,
                             ftrue * 0.25,
                             std::numeric_limits<double>::min(),
                             std::numeric_limits<double>::denorm_min(),
                             3.4028235677973366e38,
                             16777217.0};
    std::mt19937_64 random(21);
    for (int i = 0; i < 200000; ++i)
        v.push_back(bitsAs<double>(random()));
    return v;
}

}  // namespace

TEST(NumberCopy, DoublesToFloatsIsHdf5sConversionBitForBit) {
    const std::vector<double> in = awkwardDoubles();
    const std::vector<unsigned char> expected =
        hdf5Converts(bytesOf(in), H5T_NATIVE_DOUBLE, H5T_NATIVE_FLOAT, in.size());
    std::vector<unsigned char> ours(in.size() * sizeof(float));
    qmxfile::doublesToFloats(bytesOf(in).data(), ours.data(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i)
        ASSERT_EQ(std::memcmp(&ours[i * 4], &expected[i * 4], 4), 0)
            << "double " << in[i] << " (bits " << std::hex << bitsAs<std::uint64_t>(in[i]) << ")";
    // The edge a plain cast gets wrong: just above the largest float is infinity, not the largest
    // float.
    float f;
    std::memcpy(&f, &ours[7 * 4], 4);
    EXPECT_EQ(f, INFINITY);
    std::memcpy(&f, &ours[8 * 4], 4);
    EXPECT_EQ(f, -INFINITY);
}

namespace {

const int kNumberCodes[] = {QMXL_INT8,   QMXL_UINT8, QMXL_INT16,  QMXL_UINT16,  QMXL_INT32,
                            QMXL_UINT32, QMXL_INT64, QMXL_UINT64, QMXL_FLOAT32, QMXL_FLOAT64};

class NumberPairs : public ContainerTest {
protected:
    // Values of the stored type made by HDF5 from awkward doubles, so each type holds its own
    // extremes; more than one slice of the widest type.
    static std::vector<unsigned char> storedValues(int code, std::size_t count) {
        std::vector<double> source = awkwardDoubles();
        source.resize(count);
        for (std::size_t i = 40; i < count; i += 3)
            source[i] = (static_cast<double>(i) - count / 2.0) * 977.25;
        return hdf5Converts(bytesOf(source), H5T_NATIVE_DOUBLE, qmxfile::memoryTypeOf(code), count);
    }
};

}  // namespace

// Every stored numeric type read as every other: the library's sliced, checksummed read gives
// exactly what HDF5 gives reading the same dataset, whichever of them converts.
TEST_F(NumberPairs, EveryPairReadsAsHdf5ReadsIt) {
    constexpr std::size_t n = 140000;  // over a slice of doubles
    for (int stored : kNumberCodes) {
        const std::string name = std::string("v") + std::to_string(stored);
        const std::vector<unsigned char> values = storedValues(stored, n);
        ASSERT_OK(QMXLcreateTypedDataset(file, "/g", name.c_str(), 0, 0, 0, stored,
                                         static_cast<long long>(n), values.data()));
    }
    reopen(true);
    const hid_t raw = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    ASSERT_GE(raw, 0);
    for (int stored : kNumberCodes) {
        const std::string name = std::string("v") + std::to_string(stored);
        const hid_t ds = H5Dopen2(raw, ("/g/" + name).c_str(), H5P_DEFAULT);
        ASSERT_GE(ds, 0);
        for (int wanted : kNumberCodes) {
            const hid_t type = qmxfile::memoryTypeOf(wanted);
            std::vector<unsigned char> ours(n * H5Tget_size(type), 0xEE),
                theirs(n * H5Tget_size(type), 0xEE);
            ASSERT_EQ(QMXLreadTypedDataset(file, "/g", name.c_str(), wanted, ours.data()), 1)
                << qmxfile::nameOfCode(stored) << " as " << qmxfile::nameOfCode(wanted) << ": "
                << lastError();
            ASSERT_GE(H5Dread(ds, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, theirs.data()), 0);
            EXPECT_TRUE(ours == theirs)
                << qmxfile::nameOfCode(stored) << " read as " << qmxfile::nameOfCode(wanted);
        }
        H5Dclose(ds);
    }
    H5Fclose(raw);
}

// Floats written into a stored double and doubles into a stored float convert on the way in
// too; what is stored is HDF5's conversion and its checksum holds.
TEST_F(NumberPairs, WritesThatConvertStoreHdf5sValues) {
    constexpr std::size_t n = 140000;
    const int stored[] = {QMXL_FLOAT64, QMXL_FLOAT32};
    const int given[] = {QMXL_FLOAT32, QMXL_FLOAT64};
    for (int k = 0; k < 2; ++k) {
        const std::string name = "w" + std::to_string(k);
        const std::vector<unsigned char> values = storedValues(given[k], n);
        // An empty item of the stored type, then the caller's elements written into it.
        ASSERT_OK(QMXLcreateTypedDataset(file, "/g", name.c_str(), 0, 0, 0, stored[k],
                                         static_cast<long long>(n),
                                         storedValues(stored[k], n).data()));
        ASSERT_OK(QMXLupdateTypedDataset(file, "/g", name.c_str(), given[k],
                                         static_cast<long long>(n), values.data()));
        const std::vector<unsigned char> expected = hdf5Converts(
            values, qmxfile::memoryTypeOf(given[k]), qmxfile::memoryTypeOf(stored[k]), n);
        std::vector<unsigned char> back(expected.size());
        ASSERT_OK(QMXLreadTypedDataset(file, "/g", name.c_str(), stored[k], back.data()));
        EXPECT_TRUE(back == expected) << name;
    }
}
