// Row reads and row appends of the array DAO: the rows read and the shape that "Rows" and
// "Cols" keep, through appends, reverts and refusals.
#include "DAOExceptions.h"
#include "QMXClassComposer.h"
#include "QmException.h"
#include "VectorTestSupport.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

using namespace Quellmar;
using namespace Quellmar::vectortest;

namespace {

std::vector<double> grid(int rows, int cols, double start) {
    std::vector<double> out(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
    std::iota(out.begin(), out.end(), start);
    return out;
}

class ArrayRowsTest : public StorageTest {
protected:
    ArrayRowsTest() { bind(arrays); }

    // Shape as the host sees it and as the attributes say, and every element.
    void expectArray(const std::string& name, int rows, int cols,
                     const std::vector<double>& values) {
        const VectorInfo info = arrays.getInfo("m", name);
        EXPECT_EQ(info.rows, rows);
        EXPECT_EQ(info.cols, cols);
        int storedRows = 0;
        EXPECT_EQ(readAttribute(arrays.getHandleToStorage(), "/m/" + name, "Rows", storedRows), 1);
        EXPECT_EQ(storedRows, rows);
        std::vector<double> back(values.size(), -1);
        ASSERT_TRUE(arrays.read("m", name, VT_DOUBLE, back.data()));
        EXPECT_EQ(back, values);
        endUnit();
    }

    ArrayProbe arrays;
};

TEST_F(ArrayRowsTest, RowsReadAsTheirElements) {
    const std::vector<double> values = grid(1000, 8, 0);
    ASSERT_TRUE(arrays.create("m", "a", VT_DOUBLE, 1000, 8, values.data()));
    endUnit();

    std::vector<double> rows(3 * 8, -1);
    ASSERT_TRUE(arrays.readRows("m", "a", VT_DOUBLE, 500, 3, rows.data()));
    EXPECT_EQ(rows, std::vector<double>(values.begin() + 500 * 8, values.begin() + 503 * 8));
    // Converted as whole reads convert; the last row.
    std::vector<std::int64_t> last(8, 0);
    ASSERT_TRUE(arrays.readRows("m", "a", VT_INT64, 999, 1, last.data()));
    EXPECT_EQ(last.front(), 999 * 8);
    EXPECT_EQ(last.back(), 999 * 8 + 7);
    endUnit();
    // A vector reads as an array of one column.
    const std::vector<double> plain = grid(10, 1, 5);
    ASSERT_TRUE(arrays.create("m", "plain", VT_DOUBLE, 10, plain.data()));
    double one = 0;
    ASSERT_TRUE(arrays.readRows("m", "plain", VT_DOUBLE, 4, 1, &one));
    EXPECT_EQ(one, 9);
    endUnit();

    QMXClassComposer composer = recordComposer();
    const std::vector<Record> cells = records(6, 0);
    ASSERT_TRUE(arrays.create("m", "cells", composer, 3, 2, cells.data()));
    std::vector<Record> middle(2);
    ASSERT_TRUE(arrays.readRows("m", "cells", composer, 1, 1, middle.data()));
    expectSame(middle, std::vector<Record>(cells.begin() + 2, cells.begin() + 4));
    endUnit();
}

TEST_F(ArrayRowsTest, RowRangesPastTheEndAndBadArgumentsAreRefused) {
    const std::vector<double> values = grid(4, 3, 0);
    ASSERT_TRUE(arrays.create("m", "a", VT_DOUBLE, 4, 3, values.data()));
    endUnit();

    std::vector<double> buffer(9, 2.0);
    EXPECT_THROW(arrays.readRows("m", "a", VT_DOUBLE, 2, 3, buffer.data()),
                 DataAccessViolationException);
    endUnit();
    EXPECT_THROW(arrays.readRows("m", "a", VT_DOUBLE, 5, 0, buffer.data()),
                 DataAccessViolationException);
    endUnit();
    EXPECT_THROW(arrays.readRows("m", "missing", VT_DOUBLE, 0, 1, buffer.data()),
                 DataAccessViolationException);
    endUnit();
    EXPECT_THROW(arrays.readRows("m", "a", VT_DOUBLE, -1, 1, buffer.data()), QminvalidArgument);
    EXPECT_THROW(arrays.readRows("m", "a", VT_DOUBLE, 0, -1, buffer.data()), QminvalidArgument);
    // A first row whose element index would overflow is refused, not wrapped around.
    EXPECT_THROW(arrays.readRows("m", "a", VT_DOUBLE, (1LL << 62), 1, buffer.data()),
                 QminvalidArgument);
    endUnit();
    // A shape that does not hold the stored elements reads no rows. (A creation takes the
    // write lock the attribute is written under.)
    const double one = 1;
    ASSERT_TRUE(arrays.create("m", "lock", VT_DOUBLE, 1, 1, &one));
    const int cols = 2;
    {
        DatasetHandle dataset(QMXLopenDataset(arrays.getHandleToStorage(), "/m/a"));
        ASSERT_EQ(QMXLsetAttribute(dataset.getHandle(), "Cols", &cols), 1);
    }
    try {
        arrays.readRows("m", "a", VT_DOUBLE, 0, 1, buffer.data());
        FAIL() << "rows of a shape that does not match were read";
    } catch (const DataAccessViolationException& e) {
        EXPECT_NE(std::string(e.what()).find("does not match the 12 stored elements"),
                  std::string::npos)
            << e.what();
    }
    const int three = 3;
    {
        DatasetHandle dataset(QMXLopenDataset(arrays.getHandleToStorage(), "/m/a"));
        ASSERT_EQ(QMXLsetAttribute(dataset.getHandle(), "Cols", &three), 1);
    }
    endUnit();
    // The last rows exactly up to the end are fine.
    ASSERT_TRUE(arrays.readRows("m", "a", VT_DOUBLE, 1, 3, buffer.data()));
    EXPECT_EQ(buffer, std::vector<double>(values.begin() + 3, values.end()));
    endUnit();
}

TEST_F(ArrayRowsTest, AppendedRowsGrowRowsAndKeepCols) {
    std::vector<double> expected = grid(2, 3, 0);
    ASSERT_TRUE(arrays.create("m", "a", VT_DOUBLE, 2, 3, expected.data()));
    endUnit();
    for (int round = 1; round <= 3; ++round) {
        const std::vector<double> more = grid(round, 3, 100.0 * round);
        ASSERT_TRUE(arrays.appendRows("m", "a", VT_DOUBLE, round, 3, more.data()));
        expected.insert(expected.end(), more.begin(), more.end());
        endUnit();
    }
    // rows 0: nothing changes.
    ASSERT_TRUE(arrays.appendRows("m", "a", VT_DOUBLE, 0, 3, nullptr));
    endUnit();
    expectArray("a", 8, 3, expected);

    std::vector<double> row(3);
    ASSERT_TRUE(arrays.readRows("m", "a", VT_DOUBLE, 7, 1, row.data()));
    EXPECT_EQ(row, std::vector<double>(expected.end() - 3, expected.end()));
    endUnit();

    QMXClassComposer composer = recordComposer();
    std::vector<Record> cells = records(2, 1);
    ASSERT_TRUE(arrays.create("m", "cells", composer, 1, 2, cells.data()));
    const std::vector<Record> more = records(4, 3);
    ASSERT_TRUE(arrays.appendRows("m", "cells", composer, 2, 2, more.data()));
    endUnit();
    const VectorInfo info = arrays.getInfo("m", "cells");
    EXPECT_EQ(info.rows, 3);
    EXPECT_EQ(info.cols, 2);
    std::vector<Record> back(6);
    ASSERT_TRUE(arrays.read("m", "cells", composer, back.data()));
    cells.insert(cells.end(), more.begin(), more.end());
    expectSame(back, cells);
    endUnit();
}

TEST_F(ArrayRowsTest, RevertRestoresElementsAndRows) {
    const std::vector<double> start = grid(3, 4, 0);
    ASSERT_TRUE(arrays.create("m", "a", VT_DOUBLE, 3, 4, start.data()));
    endUnit();

    const std::vector<double> more = grid(5, 4, 50);
    ASSERT_TRUE(arrays.appendRows("m", "a", VT_DOUBLE, 5, 4, more.data()));
    ASSERT_TRUE(arrays.appendRows("m", "a", VT_DOUBLE, 1, 4, more.data()));
    EXPECT_EQ(arrays.getInfo("m", "a").rows, 9);
    EXPECT_TRUE(stack->revert());
    expectArray("a", 3, 4, start);

    // A committed append stays through the revert of a later one.
    ASSERT_TRUE(arrays.appendRows("m", "a", VT_DOUBLE, 2, 4, more.data()));
    endUnit();
    ASSERT_TRUE(arrays.appendRows("m", "a", VT_DOUBLE, 1, 4, more.data()));
    EXPECT_TRUE(stack->revert());
    std::vector<double> expected = start;
    expected.insert(expected.end(), more.begin(), more.begin() + 8);
    expectArray("a", 5, 4, expected);
}

TEST_F(ArrayRowsTest, RefusedRowAppendsChangeNothing) {
    const std::vector<double> start = grid(2, 3, 0);
    ASSERT_TRUE(arrays.create("m", "a", VT_DOUBLE, 2, 3, start.data()));
    const std::vector<double> plain = grid(6, 1, 0);
    ASSERT_TRUE(arrays.create("m", "plain", VT_DOUBLE, 6, plain.data()));
    endUnit();
    const std::vector<double> more = grid(4, 4, 0);

    // Another column count than the stored one.
    try {
        arrays.appendRows("m", "a", VT_DOUBLE, 1, 4, more.data());
        FAIL() << "rows of another width were appended";
    } catch (const DataAccessViolationException& e) {
        EXPECT_NE(std::string(e.what()).find("has 3 columns, not 4"), std::string::npos)
            << e.what();
    }
    endUnit();
    // A vector has no rows to append to.
    try {
        arrays.appendRows("m", "plain", VT_DOUBLE, 1, 1, more.data());
        FAIL() << "rows were appended to a vector";
    } catch (const DataAccessViolationException& e) {
        EXPECT_NE(std::string(e.what()).find("is not an array"), std::string::npos) << e.what();
    }
    endUnit();
    EXPECT_THROW(arrays.appendRows("m", "missing", VT_DOUBLE, 1, 3, more.data()),
                 DataAccessViolationException);
    endUnit();
    // Records onto a typed array.
    QMXClassComposer composer = recordComposer();
    const Record cells[3] = {};
    EXPECT_THROW(arrays.appendRows("m", "a", composer, 1, 3, cells), DataAccessViolationException);
    endUnit();
    EXPECT_THROW(arrays.appendRows("m", "a", VT_DOUBLE, -1, 3, more.data()), QminvalidArgument);
    EXPECT_THROW(arrays.appendRows("m", "a", VT_DOUBLE, 1, -3, more.data()), QminvalidArgument);
    // Rows beyond what "Rows" can hold: refused before a byte of the (short) buffer is read.
    EXPECT_THROW(arrays.appendRows("m", "a", VT_DOUBLE, 2147483647, 3, more.data()),
                 QminvalidArgument);
    const double column[2] = {1, 2};
    ASSERT_TRUE(arrays.create("m", "narrow", VT_DOUBLE, 2, 1, column));
    endUnit();
    EXPECT_THROW(arrays.appendRows("m", "narrow", VT_DOUBLE, 2147483646, 1, more.data()),
                 QminvalidArgument);
    endUnit();
    EXPECT_TRUE(stack->revert());

    expectArray("a", 2, 3, start);
    EXPECT_EQ(arrays.getInfo("m", "plain").rows, 6);
    endUnit();
}

}  // namespace
