#include "DAOExceptions.h"
#include "QMXClassComposer.h"
#include "QmException.h"
#include "VectorTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

using namespace Quellmar;
using namespace Quellmar::vectortest;

namespace {

class ArrayDAOTest : public StorageTest {
protected:
    ArrayDAOTest() { bind(dao); }

    void expectShape(const std::string& dataset, int rows, int cols) {
        int value = 0;
        EXPECT_EQ(readAttribute(dao.getHandleToStorage(), dataset, "Rows", value), 1);
        EXPECT_EQ(value, rows);
        EXPECT_EQ(readAttribute(dao.getHandleToStorage(), dataset, "Cols", value), 1);
        EXPECT_EQ(value, cols);
    }

    ArrayProbe dao;
};

std::vector<double> ramp(int count) {
    std::vector<double> values(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        values[static_cast<std::size_t>(i)] = i + 0.25;
    return values;
}

TEST_F(ArrayDAOTest, ShapeIsStoredReportedAndRewrittenByUpdate) {
    const std::vector<double> values = ramp(12);
    ASSERT_TRUE(dao.create("arr", "m", VT_DOUBLE, 3, 4, values.data()));
    EXPECT_EQ(stack->getErrorMessage(), "Error creating array.");
    expectShape("/arr/m", 3, 4);
    VectorInfo info = dao.getInfo("arr", "m");
    EXPECT_EQ(info.rows, 3);
    EXPECT_EQ(info.cols, 4);
    EXPECT_EQ(info.type, VT_DOUBLE);
    // One run of 12 elements in the caller's order.
    std::vector<double> back(12);
    ASSERT_TRUE(dao.read("arr", "m", VT_DOUBLE, back.data()));
    EXPECT_EQ(back, values);
    EXPECT_FALSE(hasAttribute(dao.getHandleToStorage(), "/arr/m", "Compound"));
    endUnit();

    const std::vector<double> other = ramp(10);
    ASSERT_TRUE(dao.update("arr", "m", VT_DOUBLE, 2, 5, other.data()));
    EXPECT_EQ(stack->getErrorMessage(), "Error updating array.");
    expectShape("/arr/m", 2, 5);
    info = dao.getInfo("arr", "m");
    EXPECT_EQ(info.rows, 2);
    EXPECT_EQ(info.cols, 5);
    back.assign(10, 0);
    ASSERT_TRUE(dao.read("arr", "m", VT_DOUBLE, back.data()));
    EXPECT_EQ(back, other);
}

TEST_F(ArrayDAOTest, CompoundArraysCarryShapeButNoCompoundMark) {
    QMXClassComposer composer = recordComposer();
    const std::vector<Record> cells = records(6, 30);
    ASSERT_TRUE(dao.create("cells", "grid", composer, 2, 3, cells.data()));
    ASSERT_TRUE(dao.create("cells", "list", composer, 6, cells.data()));  // a plain vector
    const int file = dao.getHandleToStorage();
    expectShape("/cells/grid", 2, 3);
    EXPECT_FALSE(hasAttribute(file, "/cells/grid", "Compound"));
    EXPECT_TRUE(hasAttribute(file, "/cells/list", "Compound"));
    EXPECT_FALSE(hasAttribute(file, "/cells/list", "Rows"));

    const VectorInfo info = dao.getInfo("cells", "grid");
    EXPECT_EQ(info.rows, 2);
    EXPECT_EQ(info.cols, 3);
    EXPECT_EQ(info.type, -1);
    std::vector<Record> back(6);
    ASSERT_TRUE(dao.read("cells", "grid", composer, back.data()));
    expectSame(back, cells);
    endUnit();

    ASSERT_TRUE(dao.update("cells", "grid", composer, 1, 2, cells.data()));
    expectShape("/cells/grid", 1, 2);
    EXPECT_EQ(dao.getInfo("cells", "grid").rows, 1);
}

TEST_F(ArrayDAOTest, VectorsReportAsVectorsAndReadManySkipsArraysOfSeveralColumns) {
    const std::vector<std::uint8_t> bytes = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(dao.create("r", "wide", VT_UINT8, 2, 3, bytes.data()));
    ASSERT_TRUE(dao.create("r", "column", VT_UINT8, 6, 1, bytes.data()));
    ASSERT_TRUE(dao.create("r", "vector", VT_UINT8, 4, bytes.data()));
    const VectorInfo info = dao.getInfo("r", "vector");
    EXPECT_EQ(info.rows, 4);
    EXPECT_EQ(info.cols, 1);
    EXPECT_EQ(info.type, VT_UINT8);
    endUnit();

    std::vector<std::vector<unsigned char>> result = {{42}, {}, {}};
    ASSERT_TRUE(dao.readMany("r", {"wide", "column", "vector"}, result));
    EXPECT_EQ(result[0], std::vector<unsigned char>{42});
    EXPECT_EQ(result[1], std::vector<unsigned char>(bytes.begin(), bytes.end()));
    EXPECT_EQ(result[2], std::vector<unsigned char>(bytes.begin(), bytes.begin() + 4));
}

TEST_F(ArrayDAOTest, RefusedCreationsFailAsDataSourceAndAreUndone) {
    const double value = 0;
    try {
        dao.create("bad", "a", static_cast<tagVectorDataTypes>(4), 1, 1, &value);
        FAIL() << "element type 4 was accepted";
    } catch (const DataSourceException& e) {
        EXPECT_EQ(std::string(e.what()), stack->getErrorMessage());
    }
    EXPECT_TRUE(stack->empty()) << "the failed creation was not undone";

    const std::vector<double> values = ramp(4);
    ASSERT_TRUE(dao.create("bad", "b", VT_DOUBLE, 2, 2, values.data()));
    endUnit();
    try {
        dao.update("bad", "b", static_cast<tagVectorDataTypes>(4), 2, 2, values.data());
        FAIL() << "element type 4 was accepted";
    } catch (const QminvalidArgument& e) {
        EXPECT_STREQ(e.what(), "Unknown data type.");
    }
    EXPECT_EQ(stack->lockCount(), 1u);
    endUnit();

    // A refused creation is undone and keeps the array that stood there.
    const std::vector<double> first = ramp(6);
    ASSERT_TRUE(dao.create("dup", "a", VT_DOUBLE, 2, 3, first.data()));
    endUnit();
    const std::vector<double> second(6, -1);
    try {
        dao.create("dup", "a", VT_DOUBLE, 3, 2, second.data());
        FAIL() << "a second array of the same name was created";
    } catch (const DataSourceException& e) {
        EXPECT_FALSE(std::string(e.what()).empty());
        EXPECT_EQ(std::string(e.what()), stack->getErrorMessage());
    }
    EXPECT_TRUE(stack->empty());

    std::vector<double> back(6);
    ASSERT_TRUE(dao.read("dup", "a", VT_DOUBLE, back.data()));
    EXPECT_EQ(back, first);
    expectShape("/dup/a", 2, 3);
}

TEST_F(ArrayDAOTest, CreationWithoutDataOrDataSourceLeavesNothingBehind) {
    QMXClassComposer composer = recordComposer();
    EXPECT_THROW(dao.create("half", "typed", VT_DOUBLE, 2, 2, nullptr), DataSourceException);
    EXPECT_TRUE(stack->empty());
    EXPECT_THROW(dao.create("half", "cells", composer, 2, 2, nullptr), DataSourceException);
    EXPECT_TRUE(stack->empty());
    EXPECT_FALSE(dao.exists("half", "typed"));
    EXPECT_FALSE(dao.exists("half", "cells"));
    // Failures before the stack is touched pass unchanged.
    ForeignComposer foreign;
    endUnit();
    EXPECT_THROW(dao.create("half", "f", foreign, 1, 1, nullptr), QminvalidArgument);
    EXPECT_THROW(dao.update("half", "f", foreign, 1, 1, nullptr), QminvalidArgument);
    EXPECT_TRUE(stack->empty());

    ArrayProbe unbound;
    unbound.setContext(stack);
    const double value = 0;
    EXPECT_THROW(unbound.create("g", "a", VT_DOUBLE, 1, 1, &value), DataSourceException);
    EXPECT_THROW(unbound.create("g", "a", composer, 1, 1, &value), DataSourceException);
    EXPECT_THROW(unbound.update("g", "a", VT_DOUBLE, 1, 1, &value), DataSourceException);
    EXPECT_THROW(unbound.update("g", "a", composer, 1, 1, &value), DataSourceException);
    EXPECT_TRUE(stack->empty());
}

TEST_F(ArrayDAOTest, ShapesOutsideTheIntRangeAreRefusedBeforeAnythingHappens) {
    const double value = 0;
    QMXClassComposer composer = recordComposer();
    const int shapes[][2] = {{65536, 65536}, {INT_MAX, 2}, {-1, 3}, {3, -1}, {-2, -2}};
    for (const auto& shape : shapes) {
        EXPECT_THROW(dao.create("big", "a", VT_DOUBLE, shape[0], shape[1], &value),
                     QminvalidArgument);
        EXPECT_THROW(dao.create("big", "c", composer, shape[0], shape[1], &value),
                     QminvalidArgument);
        EXPECT_THROW(dao.update("big", "a", VT_DOUBLE, shape[0], shape[1], &value),
                     QminvalidArgument);
        EXPECT_THROW(dao.update("big", "c", composer, shape[0], shape[1], &value),
                     QminvalidArgument);
    }
    EXPECT_TRUE(stack->empty());
    EXPECT_FALSE(dao.existsGroup("big"));
    // The largest product that fits is still an element count.
    try {
        dao.create("big", "a", VT_DOUBLE, 0, INT_MAX, nullptr);
    } catch (const QminvalidArgument&) {
        ADD_FAILURE() << "0 x INT_MAX was refused";
    } catch (const std::exception&) {
    }
}

TEST_F(ArrayDAOTest, SettingsApplyToArraysAndCopiesKeepThem) {
    dao.setPathToRoot("/Arrays");
    dao.setCompression(9);
    ArrayProbe copy(dao);
    EXPECT_EQ(copy.getCompression(), 9);
    const std::vector<double> values = ramp(20);
    ASSERT_TRUE(copy.create("x", "a", VT_DOUBLE, 4, 5, values.data()));
    EXPECT_TRUE(datasetOpens(copy.getHandleToStorage(), "/Arrays/x/a"));
    const VectorInfo info = dao.getInfo("x", "a");
    EXPECT_EQ(info.rows, 4);
    EXPECT_EQ(info.cols, 5);
}

}  // namespace
