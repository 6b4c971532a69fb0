// Range reads and appends of the vector DAO: round trips, conversion, reverts and refusals.
#include "DAOExceptions.h"
#include "QMXClassComposer.h"
#include "QMXTransactions.h"
#include "QmException.h"
#include "VectorTestSupport.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

using namespace Quellmar;
using namespace Quellmar::vectortest;

namespace {

std::vector<double> ramp(int count, double start) {
    std::vector<double> out(static_cast<std::size_t>(count));
    std::iota(out.begin(), out.end(), start);
    return out;
}

class VectorRangeTest : public StorageTest {
protected:
    VectorRangeTest() { bind(dao); }

    std::vector<double> readAll(const std::string& path, const std::string& name) {
        const VectorInfo info = dao.getInfo(path, name);
        std::vector<double> out(static_cast<std::size_t>(info.rows));
        EXPECT_TRUE(dao.read(path, name, VT_DOUBLE, out.data()));
        return out;
    }

    VectorProbe dao;
};

// ---- Range reads -------------------------------------------------------------------------------

TEST_F(VectorRangeTest, TypedRangesReadWhatTheWholeReadHolds) {
    const std::vector<double> values = ramp(5000, 0.5);
    ASSERT_TRUE(dao.create("r", "v", VT_DOUBLE, 5000, values.data()));
    endUnit();

    // Where a range falls and an empty range at the end are the file library's to test; here
    // the element type reaches it: as stored, converted, and the stored type asked for.
    std::vector<double> part(10, -1);
    ASSERT_TRUE(dao.readRange("r", "v", VT_DOUBLE, 1234, 10, part.data()));
    EXPECT_EQ(part, std::vector<double>(values.begin() + 1234, values.begin() + 1244));
    std::vector<std::int32_t> asInt(3, 0);
    ASSERT_TRUE(dao.readRange("r", "v", VT_INT32, 100, 3, asInt.data()));
    EXPECT_EQ(asInt, (std::vector<std::int32_t>{100, 101, 102}));
    std::vector<double> asStored(1, 0);
    ASSERT_TRUE(dao.readRange("r", "v", VT_AS_STORED, 4999, 1, asStored.data()));
    EXPECT_EQ(asStored[0], 4999.5);
}

TEST_F(VectorRangeTest, CompoundRangesReadTheirRecords) {
    QMXClassComposer composer = recordComposer();
    const std::vector<Record> values = records(50, 10);
    ASSERT_TRUE(dao.create("c", "s", composer, 50, values.data()));
    endUnit();

    std::vector<Record> part(7);
    ASSERT_TRUE(dao.readRange("c", "s", composer, 20, 7, part.data()));
    expectSame(part, std::vector<Record>(values.begin() + 20, values.begin() + 27));
}

TEST_F(VectorRangeTest, BadRangesAreRefused) {
    const std::vector<double> values = ramp(100, 0);
    ASSERT_TRUE(dao.create("r", "v", VT_DOUBLE, 100, values.data()));
    endUnit();

    std::vector<double> buffer(20, 3.0);
    try {
        dao.readRange("r", "v", VT_DOUBLE, 0, -1, buffer.data());
        FAIL() << "a negative count was accepted";
    } catch (const QminvalidArgument& e) {
        EXPECT_STREQ(e.what(), "Element count out of range.");
    }
    try {
        dao.readRange("r", "v", VT_DOUBLE, -1, 1, buffer.data());
        FAIL() << "a negative first element was accepted";
    } catch (const QminvalidArgument& e) {
        EXPECT_STREQ(e.what(), "Element index out of range.");
    }
    EXPECT_THROW(dao.readRange("r", "v", VT_INT8, 0, 1, buffer.data()), QminvalidArgument);
    endUnit();

    // Past the end: the file library's message, and a buffer that holds nothing stale.
    try {
        dao.readRange("r", "v", VT_DOUBLE, 95, 10, buffer.data());
        FAIL() << "95+10 past the end was read";
    } catch (const DataAccessViolationException& e) {
        EXPECT_EQ(std::string(e.what()), QMXBaseDAO::getLastErrorMessage());
        EXPECT_FALSE(std::string(e.what()).empty());
    }
    EXPECT_EQ(std::vector<double>(buffer.begin(), buffer.begin() + 10), std::vector<double>(10, 0));
    endUnit();
    EXPECT_THROW(dao.readRange("r", "missing", VT_DOUBLE, 0, 1, buffer.data()),
                 DataAccessViolationException);
    endUnit();

    ForeignComposer foreign;
    EXPECT_THROW(dao.readRange("r", "v", foreign, 0, 1, buffer.data()), QminvalidArgument);
    VectorProbe unbound;
    EXPECT_THROW(unbound.readRange("r", "v", VT_DOUBLE, 0, 1, buffer.data()), DataSourceException);
}

// ---- Appends ----------------------------------------------------------------------------------

TEST_F(VectorRangeTest, AppendsAddToTheEndAndConvertAsUpdatesDo) {
    const std::vector<double> start = ramp(10, 0);
    ASSERT_TRUE(dao.create("a", "v", VT_DOUBLE, 10, start.data()));
    endUnit();

    std::vector<double> expected = start;
    for (int round = 0; round < 5; ++round) {
        const std::vector<double> more = ramp(7, 100.0 * (round + 1));
        ASSERT_TRUE(dao.append("a", "v", VT_DOUBLE, 7, more.data()));
        expected.insert(expected.end(), more.begin(), more.end());
        endUnit();
    }
    // Given as another type: stored as the vector's own.
    const std::int32_t asInt[2] = {-4, 9};
    ASSERT_TRUE(dao.append("a", "v", VT_INT32, 2, asInt));
    expected.push_back(-4);
    expected.push_back(9);
    // count 0 changes nothing.
    ASSERT_TRUE(dao.append("a", "v", VT_DOUBLE, 0, nullptr));
    endUnit();

    EXPECT_EQ(readAll("a", "v"), expected);
    const VectorInfo info = dao.getInfo("a", "v");
    EXPECT_EQ(info.rows, 47);
    EXPECT_EQ(info.type, VT_DOUBLE);
    // The appended part reads by range as well.
    std::vector<double> tail(3);
    ASSERT_TRUE(dao.readRange("a", "v", VT_DOUBLE, 44, 3, tail.data()));
    EXPECT_EQ(tail, std::vector<double>(expected.end() - 3, expected.end()));
    endUnit();
}

TEST_F(VectorRangeTest, CompoundAppendsReadWholeAndARevertedOneKeepsTheRecords) {
    QMXClassComposer composer = recordComposer();
    std::vector<Record> expected = records(4, 0);
    ASSERT_TRUE(dao.create("c", "s", composer, 4, expected.data()));
    endUnit();
    const std::vector<Record> more = records(6, 4);
    ASSERT_TRUE(dao.append("c", "s", composer, 6, more.data()));
    expected.insert(expected.end(), more.begin(), more.end());
    endUnit();
    std::vector<Record> back(10);
    ASSERT_TRUE(dao.read("c", "s", composer, back.data()));
    expectSame(back, expected);
    endUnit();

    const std::vector<Record> reverted = records(9, 10);
    ASSERT_TRUE(dao.append("c", "s", composer, 9, reverted.data()));
    EXPECT_TRUE(stack->revert());
    ASSERT_TRUE(dao.read("c", "s", composer, back.data()));
    expectSame(back, expected);
    EXPECT_EQ(dao.getInfo("c", "s").rows, 10);
    endUnit();
}

TEST_F(VectorRangeTest, AppendsOfTheWrongKindChangeNothing) {
    const std::vector<double> start = ramp(8, 0);
    ASSERT_TRUE(dao.create("a", "v", VT_DOUBLE, 8, start.data()));
    QMXClassComposer composer = recordComposer();
    const std::vector<Record> recs = records(2, 0);
    ASSERT_TRUE(dao.create("a", "c", composer, 2, recs.data()));
    endUnit();

    // Records onto a typed vector (which kinds and record types fit is the file library's to
    // test; here its refusal must reach the host and change nothing).
    EXPECT_THROW(dao.append("a", "v", composer, 2, recs.data()), DataAccessViolationException);
    endUnit();
    EXPECT_THROW(dao.append("a", "missing", VT_DOUBLE, 1, start.data()),
                 DataAccessViolationException);
    endUnit();
    try {
        dao.append("a", "v", VT_DOUBLE, -1, start.data());
        FAIL() << "a negative count was accepted";
    } catch (const QminvalidArgument& e) {
        EXPECT_STREQ(e.what(), "Element count out of range.");
    }
    EXPECT_THROW(dao.append("a", "v", VT_INT8, 1, start.data()), QminvalidArgument);
    ForeignComposer foreign;
    EXPECT_THROW(dao.append("a", "c", foreign, 1, recs.data()), QminvalidArgument);
    VectorProbe unbound;
    EXPECT_THROW(unbound.append("a", "v", VT_DOUBLE, 1, start.data()), DataSourceException);
    endUnit();

    // Reverting after the refusals takes nothing away either.
    EXPECT_TRUE(stack->revert());
    EXPECT_EQ(readAll("a", "v"), start);
    std::vector<Record> back(2);
    ASSERT_TRUE(dao.read("a", "c", composer, back.data()));
    expectSame(back, recs);
    EXPECT_EQ(dao.getInfo("a", "c").rows, 2);
    endUnit();
}

TEST_F(VectorRangeTest, AnAppendUndoThatCannotShortenReportsFalse) {
    const std::vector<double> start = ramp(4, 0);
    ASSERT_TRUE(dao.create("u", "v", VT_DOUBLE, 4, start.data()));
    // Longer than the vector is, or a dataset that is gone: nothing to shorten to.
    VectorAppend longer(dao.getHandleToStorage(), "/u", "v", 9, -1);
    EXPECT_FALSE(longer.revert());
    VectorAppend missing(dao.getHandleToStorage(), "/u", "gone", 0, -1);
    EXPECT_FALSE(missing.revert());
    // One that can: the vector shortens, and the array's rows are written back.
    VectorAppend shorter(dao.getHandleToStorage(), "/u", "v", 2, 1);
    EXPECT_TRUE(shorter.revert());
    int rows = 0;
    EXPECT_EQ(readAttribute(dao.getHandleToStorage(), "/u/v", "Rows", rows), 1);
    EXPECT_EQ(rows, 1);
    endUnit();
    EXPECT_EQ(dao.getInfo("u", "v").rows, 2);
    endUnit();
}

TEST_F(VectorRangeTest, TheVectorAppendRefusesArrays) {
    ArrayProbe arrays;
    bind(arrays);
    const std::vector<double> cells = ramp(6, 0);
    ASSERT_TRUE(arrays.create("m", "a", VT_DOUBLE, 2, 3, cells.data()));
    endUnit();

    try {
        dao.append("m", "a", VT_DOUBLE, 3, cells.data());
        FAIL() << "a vector append broke an array's shape";
    } catch (const DataAccessViolationException& e) {
        EXPECT_NE(std::string(e.what()).find("is an array"), std::string::npos) << e.what();
    }
    endUnit();
    const VectorInfo info = arrays.getInfo("m", "a");
    EXPECT_EQ(info.rows, 2);
    EXPECT_EQ(info.cols, 3);
    EXPECT_EQ(dao.getInfo("m", "a").rows, 6);
    endUnit();
}

}  // namespace
