// The vector and array DAOs' own choice of compressor.
#include "QMXClassComposer.h"
#include "QmException.h"
#include "VectorTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

using namespace Quellmar;
using namespace Quellmar::vectortest;

namespace {

std::vector<double> smooth(int count) {
    std::vector<double> values(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        values[static_cast<std::size_t>(i)] = std::cos(i * 1e-3) * 50.0;
    return values;
}

int threadChoice() {
    int previous = -9;
    QMXLsetThreadCompressor(QMXL_COMPRESSOR_FOLLOW, &previous);
    return previous;
}

class CompressorDAOTest : public StorageTest {
protected:
    CompressorDAOTest() {
        bind(vectors);
        bind(arrays);
        vectors.setCompression(5);
        arrays.setCompression(5);
    }
    // The stored compressor of group/name; needs a lock in force.
    int storedCompressor(const char* group, const char* name) {
        int compressor = -9, level = -9;
        EXPECT_EQ(QMXLgetDatasetCompression(vectors.getHandleToStorage(), group, name, &compressor,
                                            &level),
                  1);
        return compressor;
    }

    VectorProbe vectors;
    ArrayProbe arrays;
};

}  // namespace

// Every kind of item the two DAOs make takes the DAO's compressor. That each compressor's items
// read back unchanged is the file library's to test: reading does not depend on the choice.
TEST_F(CompressorDAOTest, VectorsAndArraysAreStoredWithTheChosenCompressor) {
    const auto values = smooth(60000);
    const auto stored = records(5000, 0);
    QMXClassComposer composer = recordComposer();
    const int compressors[] = {QMXL_DEFLATE, QMXL_BLOSC_LZ4, QMXL_BLOSC_ZSTD, QMXL_LZ4};
    for (int c : compressors) {
        const std::string group = "c" + std::to_string(c);
        vectors.setCompressor(c);
        arrays.setCompressor(c);
        ASSERT_TRUE(vectors.create(group, "typed", VT_DOUBLE, 60000, values.data()));
        ASSERT_TRUE(vectors.create(group, "records", composer, 5000, stored.data()));
        ASSERT_TRUE(arrays.create(group, "grid", VT_DOUBLE, 600, 100, values.data()));
        ASSERT_TRUE(arrays.create(group, "cells", composer, 50, 100, stored.data()));
        // The choice lasts for the DAO's calls only.
        EXPECT_EQ(threadChoice(), QMXL_COMPRESSOR_FOLLOW);
        for (const char* name : {"typed", "records", "grid", "cells"})
            EXPECT_EQ(storedCompressor(("/" + group).c_str(), name), c) << group << "/" << name;
    }
}

TEST_F(CompressorDAOTest, FollowingTakesTheProcessChoiceAndUpdatesUseTheDaos) {
    const auto values = smooth(20000);
    EXPECT_EQ(vectors.getCompressor(), QMXL_COMPRESSOR_FOLLOW);
    ASSERT_EQ(QMXLsetCompressor(QMXL_BLOSC_LZ4), 1);
    const bool made = vectors.create("f", "process", VT_DOUBLE, 20000, values.data());
    QMXLsetCompressor(QMXL_DEFLATE);
    ASSERT_TRUE(made);
    EXPECT_EQ(storedCompressor("/f", "process"), QMXL_BLOSC_LZ4);
    ASSERT_TRUE(vectors.create("f", "default", VT_DOUBLE, 20000, values.data()));
    EXPECT_EQ(storedCompressor("/f", "default"), QMXL_DEFLATE);

    // A small vector is stored plain; the update that makes it large takes the DAO's choice.
    ASSERT_TRUE(vectors.create("f", "small", VT_DOUBLE, 10, values.data()));
    EXPECT_EQ(storedCompressor("/f", "small"), QMXL_COMPRESSOR_FOLLOW);
    vectors.setCompressor(QMXL_BLOSC_ZSTD);
    ASSERT_TRUE(vectors.update("f", "small", VT_DOUBLE, 20000, values.data()));
    EXPECT_EQ(storedCompressor("/f", "small"), QMXL_BLOSC_ZSTD);
    EXPECT_EQ(threadChoice(), QMXL_COMPRESSOR_FOLLOW);
    endUnit();
    std::vector<double> back(20000);
    ASSERT_TRUE(vectors.read("f", "small", VT_DOUBLE, back.data()));
    EXPECT_EQ(back, values);
}

TEST_F(CompressorDAOTest, UnknownCompressorsAreRefusedAndTheChoiceIsKept) {
    vectors.setCompressor(QMXL_LZ4);
    EXPECT_THROW(vectors.setCompressor(4), QminvalidArgument);
    EXPECT_THROW(vectors.setCompressor(-2), QminvalidArgument);
    EXPECT_EQ(vectors.getCompressor(), QMXL_LZ4);
    // Copies carry the choice.
    QMXVectorDAO copy(vectors);
    EXPECT_EQ(copy.getCompressor(), QMXL_LZ4);
    vectors.setCompressor(QMXL_COMPRESSOR_FOLLOW);
    EXPECT_EQ(vectors.getCompressor(), QMXL_COMPRESSOR_FOLLOW);
}
