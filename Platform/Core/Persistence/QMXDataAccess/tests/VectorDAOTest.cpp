#include "DAOExceptions.h"
#include "QMXClassComposer.h"
#include "QmException.h"
#include "VectorTestSupport.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

using namespace Quellmar;
using namespace Quellmar::vectortest;

namespace {

class VectorDAOTest : public StorageTest {
protected:
    VectorDAOTest() { bind(dao); }
    VectorProbe dao;
};

// ---- Settings, chunk value and element type codes ---------------------------------------------

TEST(VectorSettings, CompressionIsClampedAndCopiesKeepTheSettings) {
    VectorProbe dao;
    dao.setCompression(-3);
    EXPECT_EQ(dao.getCompression(), 0);
    dao.setCompression(12);
    EXPECT_EQ(dao.getCompression(), 9);

    EXPECT_FALSE(dao.setFixed(false));
    EXPECT_TRUE(dao.setFixed(true));
    dao.setSizeHint(77);
    dao.setPathToRoot("//odd root/");  // stored as given
    const VectorProbe copy(dao);
    EXPECT_EQ(copy.getPathToRoot(), "//odd root/");
    EXPECT_EQ(copy.getSizeHint(), 77u);
}

TEST(VectorSettings, ChunkValueFollowsHintOrCount) {
    EXPECT_EQ(VectorProbe::chunkValue(0, 10), 100000);
    EXPECT_EQ(VectorProbe::chunkValue(0, 1000000), 100000);
    EXPECT_EQ(VectorProbe::chunkValue(0, 1000001), 1000000);
    EXPECT_EQ(VectorProbe::chunkValue(0, 10000000), 1000000);
    EXPECT_EQ(VectorProbe::chunkValue(0, 20000000), 2000000);
    EXPECT_EQ(VectorProbe::chunkValue(0, -5), 100000);
    EXPECT_EQ(VectorProbe::chunkValue(1, 10), 0);
    EXPECT_EQ(VectorProbe::chunkValue(9, 10), 0);
    EXPECT_EQ(VectorProbe::chunkValue(25, 10), 2);
    EXPECT_EQ(VectorProbe::chunkValue(4000000000u, 10), 400000000);
}

TEST(VectorSettings, ConvertAcceptsOnlyTheTable) {
    for (int code : {-1, 0, 1, 2, 3, 5, 7, 8, 15, 16})
        EXPECT_EQ(static_cast<int>(VectorProbe::convert(static_cast<tagVectorDataTypes>(code))),
                  code);
    for (int code : {-2, 4, 6, 9, 10, 11, 12, 13, 14, 17, 19, 20, 1000}) {
        try {
            VectorProbe::convert(static_cast<tagVectorDataTypes>(code));
            ADD_FAILURE() << "code " << code << " was accepted";
        } catch (const QminvalidArgument& e) {
            EXPECT_STREQ(e.what(), "Unknown data type.");
        }
    }
}

// ---- The operation frame ----------------------------------------------------------------------

TEST_F(VectorDAOTest, UnboundOperationsPushNothing) {
    VectorProbe unbound;
    unbound.setContext(stack);
    QMXClassComposer composer(8);
    std::vector<std::vector<unsigned char>> many;
    double value = 1;
    auto expectNoSource = [&](auto&& operation) {
        try {
            operation();
            ADD_FAILURE() << "an unbound DAO worked";
        } catch (const DataSourceException& e) {
            EXPECT_STREQ(e.what(), "No datasource defined!");
        }
    };
    expectNoSource([&] { unbound.create("g", "v", VT_DOUBLE, 1, &value); });
    expectNoSource([&] { unbound.create("g", "v", composer, 1, &value); });
    expectNoSource([&] { unbound.read("g", "v", VT_DOUBLE, &value); });
    expectNoSource([&] { unbound.read("g", "v", composer, &value); });
    expectNoSource([&] { unbound.readMany("g", {"v"}, many); });
    expectNoSource([&] { unbound.update("g", "v", VT_DOUBLE, 1, &value); });
    expectNoSource([&] { unbound.update("g", "v", composer, 1, &value); });
    expectNoSource([&] { unbound.remove("g", "v"); });
    expectNoSource([&] { unbound.exists("g", "v"); });
    expectNoSource([&] { unbound.getInfo("g", "v"); });
    std::string path = "g", name = "v";
    expectNoSource([&] { unbound.Create(path, name, 3, 1, &value); });
    EXPECT_TRUE(stack->empty());
    // Without a file there is no group.
    EXPECT_FALSE(unbound.existsGroup("g"));
    EXPECT_FALSE(unbound.removeGroup("g"));
}

TEST_F(VectorDAOTest, ForeignComposersAndNegativeCountsAreRefusedBeforeAnythingIsPushed) {
    ForeignComposer foreign;
    double value = 0;
    auto expectRefused = [&](auto&& operation) {
        try {
            operation();
            ADD_FAILURE() << "a foreign composer was used";
        } catch (const QminvalidArgument& e) {
            EXPECT_STREQ(e.what(), "Invalid class definition.");
        }
    };
    expectRefused([&] { dao.create("g", "v", foreign, 1, &value); });
    expectRefused([&] { dao.read("g", "v", foreign, &value); });
    expectRefused([&] { dao.update("g", "v", foreign, 1, &value); });
    QMXClassComposer composer(sizeof(double));
    composer& triad{"x", 0, ClassMemberTypes::MT_DOUBLE};
    EXPECT_THROW(dao.create("g", "v", VT_DOUBLE, -1, &value), QminvalidArgument);
    EXPECT_THROW(dao.create("g", "v", composer, -1, &value), QminvalidArgument);
    EXPECT_THROW(dao.update("g", "v", VT_DOUBLE, -1, &value), QminvalidArgument);
    EXPECT_THROW(dao.update("g", "v", composer, -1, &value), QminvalidArgument);
    EXPECT_TRUE(stack->empty());
    EXPECT_FALSE(dao.existsGroup("g"));
}

TEST_F(VectorDAOTest, EachOperationNamesItsFailureAndTakesItsLockKind) {
    const double values[3] = {1, 2, 3};
    double back[3] = {};
    QMXClassComposer composer(sizeof(double));
    composer& triad{"x", 0, ClassMemberTypes::MT_DOUBLE};
    std::vector<std::vector<unsigned char>> many;

    struct Case {
        const char* text;
        bool exclusive;
        std::function<void()> run;
    };
    const std::vector<Case> cases = {
        {"Error creating vector.", true, [&] { dao.create("g", "typed", VT_DOUBLE, 3, values); }},
        {"Error creating vector.", true, [&] { dao.create("g", "compound", composer, 3, values); }},
        {"Error accessing file.", false, [&] { dao.read("g", "typed", VT_DOUBLE, back); }},
        {"Error creating vector.", false, [&] { dao.read("g", "compound", composer, back); }},
        {"Error accessing file.", false, [&] { dao.readMany("g", {"typed"}, many); }},
        {"Error updating vector.", true, [&] { dao.update("g", "typed", VT_DOUBLE, 3, values); }},
        {"Error creating vector.", true, [&] { dao.update("g", "compound", composer, 3, values); }},
        {"Error accessing file.", false, [&] { dao.exists("g", "typed"); }},
        {"Error accessing file.", false, [&] { dao.getInfo("g", "typed"); }},
        {"Error removing vector.", true, [&] { dao.remove("g", "typed"); }},
    };
    for (const Case& c : cases) {
        c.run();
        EXPECT_EQ(stack->getErrorMessage(), c.text);
        ASSERT_EQ(stack->lockCount(), 1u);
        EXPECT_EQ(QMXLisFileReadOnly(dao.getHandleToStorage()), c.exclusive ? 0 : 1)
            << "operation named " << c.text;
        endUnit();
    }
}

TEST_F(VectorDAOTest, RefusedTypedCreationsLeaveWhatStoodBefore) {
    // An unknown element type is found under the lock.
    const double value = 1;
    try {
        dao.create("g", "v", static_cast<tagVectorDataTypes>(4), 1, &value);
        FAIL() << "element type 4 was accepted";
    } catch (const QminvalidArgument& e) {
        EXPECT_STREQ(e.what(), "Unknown data type.");
    }
    EXPECT_EQ(stack->lockCount(), 1u);
    EXPECT_EQ(stack->getErrorMessage(), "Error creating vector.");
    EXPECT_FALSE(dao.exists("g", "v"));

    ASSERT_TRUE(dao.create("t", "v", VT_DOUBLE, 1, &value));
    EXPECT_THROW(dao.create("t", "v", VT_DOUBLE, 1, &value), DataAccessViolationException);
    // The file library stores no "as stored" datasets.
    EXPECT_THROW(dao.create("t", "w", VT_AS_STORED, 1, &value), DataAccessViolationException);
    EXPECT_THROW(dao.create("t", "//", VT_DOUBLE, 1, &value), std::out_of_range);
    double back = 0;
    ASSERT_TRUE(dao.read("t", "v", VT_DOUBLE, &back));
    EXPECT_EQ(back, 1);
}

// ---- Round trips ------------------------------------------------------------------------------

template <class T>
void roundTrip(VectorProbe& dao, tagVectorDataTypes type) {
    std::vector<T> values(257);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<T>(i * 3 % 120);
    const std::string name = "v" + std::to_string(static_cast<int>(type));
    ASSERT_TRUE(dao.create("typed", name, type, static_cast<int>(values.size()), values.data()));

    std::vector<T> back(values.size());
    ASSERT_TRUE(dao.read("typed", name, type, back.data()));
    EXPECT_EQ(back, values) << "element type " << static_cast<int>(type);
    std::vector<T> asStored(values.size());
    ASSERT_TRUE(dao.read("typed", name, VT_AS_STORED, asStored.data()));
    EXPECT_EQ(asStored, values) << "element type " << static_cast<int>(type);

    const VectorInfo info = dao.getInfo("typed", name);
    EXPECT_EQ(info.rows, static_cast<int>(values.size()));
    EXPECT_EQ(info.cols, 1);
    EXPECT_EQ(info.type, static_cast<int>(type));
}

TEST_F(VectorDAOTest, EveryAcceptedElementTypeRoundTrips) {
    roundTrip<std::int32_t>(dao, VT_INT32);
    roundTrip<std::uint32_t>(dao, VT_UINT32);
    roundTrip<float>(dao, VT_FLOAT);
    roundTrip<double>(dao, VT_DOUBLE);
    roundTrip<std::int16_t>(dao, VT_INT16);
    roundTrip<std::int64_t>(dao, VT_INT64);
    roundTrip<std::uint64_t>(dao, VT_UINT64);
    roundTrip<std::uint16_t>(dao, VT_UINT16);
    roundTrip<std::uint8_t>(dao, VT_UINT8);

    ASSERT_TRUE(dao.create("e", "none", VT_DOUBLE, 0, nullptr));  // empty
    EXPECT_TRUE(dao.exists("e", "none"));
    const VectorInfo info = dao.getInfo("e", "none");
    EXPECT_EQ(info.rows, 0);
    EXPECT_EQ(info.type, VT_DOUBLE);
}

TEST_F(VectorDAOTest, ReadsConvertToTheRequestedType) {
    const std::vector<double> values = {0.5, -1.25, 3e10, 7};
    ASSERT_TRUE(dao.create("conv", "d", VT_DOUBLE, 4, values.data()));
    std::vector<float> floats(4);
    ASSERT_TRUE(dao.read("conv", "d", VT_FLOAT, floats.data()));
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_FLOAT_EQ(floats[i], static_cast<float>(values[i]));
    std::vector<std::int32_t> ints(4);
    ASSERT_TRUE(dao.read("conv", "d", VT_INT32, ints.data()));
    EXPECT_EQ(ints[3], 7);
}

TEST_F(VectorDAOTest, TypesWithoutACodeReportMinusOneAndInt8ReportsNineteen) {
    const std::int32_t anchor = 0;
    ASSERT_TRUE(dao.create("probe", "anchor", VT_INT32, 1, &anchor));  // opens the file
    const int file = dao.getHandleToStorage();
    ASSERT_GE(QMXLcreatePathToGroup(file, "/codes"), 0);
    const std::vector<std::int8_t> small = {-1, 2, -3};
    ASSERT_GE(
        QMXLcreateTypedDataset(file, "/codes", "i8", 0, 100000, 1, QMXL_INT8, 3, small.data()), 0);
    const long double wide[2] = {1.0L, 2.0L};
    ASSERT_GE(QMXLcreateTypedDataset(file, "/codes", "ld", 0, 100000, 1, QMXL_LONG_DOUBLE, 2, wide),
              0);
    const VectorInfo i8 = dao.getInfo("codes", "i8");
    EXPECT_EQ(i8.rows, 3);
    EXPECT_EQ(i8.type, 19);
    const VectorInfo ld = dao.getInfo("codes", "ld");
    EXPECT_EQ(ld.rows, 2);
    EXPECT_EQ(ld.type, -1);
}

TEST_F(VectorDAOTest, UpdateReplacesCountAndContentsWhateverTheSettings) {
    std::vector<std::int64_t> values(10, 5);
    ASSERT_TRUE(dao.create("u", "v", VT_INT64, 10, values.data()));
    const std::vector<std::int64_t> shorter = {9, 8, 7};
    ASSERT_TRUE(dao.update("u", "v", VT_INT64, 3, shorter.data()));
    EXPECT_EQ(dao.getInfo("u", "v").rows, 3);
    std::vector<std::int64_t> back(3);
    ASSERT_TRUE(dao.read("u", "v", VT_INT64, back.data()));
    EXPECT_EQ(back, shorter);

    std::vector<std::int64_t> longer(1000);
    for (std::size_t i = 0; i < longer.size(); ++i)
        longer[i] = static_cast<std::int64_t>(i);
    ASSERT_TRUE(dao.update("u", "v", VT_INT64, 1000, longer.data()));
    back.assign(1000, 0);
    ASSERT_TRUE(dao.read("u", "v", VT_INT64, back.data()));
    EXPECT_EQ(back, longer);

    // A small size hint and datasets that are not fixed still store.
    dao.setSizeHint(5);  // chunk value 0: the file library picks its own
    std::vector<float> floats(50, 1.5f);
    ASSERT_TRUE(dao.create("h", "hinted", VT_FLOAT, 50, floats.data()));
    dao.setSizeHint(0);
    dao.setFixed(false);
    dao.setCompression(6);
    ASSERT_TRUE(dao.create("h", "growing", VT_FLOAT, 50, floats.data()));
    floats.resize(80, 2.5f);
    ASSERT_TRUE(dao.update("h", "growing", VT_FLOAT, 80, floats.data()));
    std::vector<float> floatsBack(80);
    ASSERT_TRUE(dao.read("h", "growing", VT_FLOAT, floatsBack.data()));
    EXPECT_EQ(floatsBack, floats);
    floatsBack.assign(50, 0);
    ASSERT_TRUE(dao.read("h", "hinted", VT_FLOAT, floatsBack.data()));
    EXPECT_EQ(floatsBack, std::vector<float>(50, 1.5f));
}

// ---- Compound records -------------------------------------------------------------------------

TEST_F(VectorDAOTest, CompoundRecordsRoundTripAndAreMarked) {
    QMXClassComposer composer = recordComposer();
    const std::vector<Record> values = records(40, 100);
    ASSERT_TRUE(dao.create("c", "records", composer, 40, values.data()));

    std::vector<Record> back(40);
    ASSERT_TRUE(dao.read("c", "records", composer, back.data()));
    expectSame(back, values);
    const VectorInfo info = dao.getInfo("c", "records");
    EXPECT_EQ(info.rows, 40);
    EXPECT_EQ(info.cols, 1);
    EXPECT_EQ(info.type, -1);

    int compound = 0;
    EXPECT_EQ(readAttribute(dao.getHandleToStorage(), "/c/records", "Compound", compound), 1);
    EXPECT_EQ(compound, 1);
    endUnit();

    // A different count, and the mark stays.
    const std::vector<Record> fewer = records(7, 900);
    ASSERT_TRUE(dao.update("c", "records", composer, 7, fewer.data()));
    EXPECT_EQ(readAttribute(dao.getHandleToStorage(), "/c/records", "Compound", compound), 1);
    EXPECT_EQ(compound, 1);
    endUnit();
    back.assign(7, Record{});
    ASSERT_TRUE(dao.read("c", "records", composer, back.data()));
    expectSame(back, fewer);
}

TEST_F(VectorDAOTest, FailedCompoundCreationThrowsTheStackAndKeepsWhatStoodBefore) {
    QMXClassComposer composer = recordComposer();
    const std::vector<Record> first = records(5, 1);
    ASSERT_TRUE(dao.create("c", "taken", composer, 5, first.data()));
    endUnit();

    const std::vector<Record> second = records(5, 50);
    try {
        dao.create("c", "taken", composer, 5, second.data());
        FAIL() << "a second dataset of the same name was created";
    } catch (const std::shared_ptr<TransactionStack>& thrown) {
        EXPECT_EQ(thrown, stack);
        EXPECT_EQ(thrown->getErrorMessage(), QMXBaseDAO::getLastErrorMessage());
        EXPECT_FALSE(thrown->getErrorMessage().empty());
    }
    // The host undoes its unit of work; the vector that stood there before stays.
    stack->revert();
    std::vector<Record> back(5);
    ASSERT_TRUE(dao.read("c", "taken", composer, back.data()));
    expectSame(back, first);
}

TEST_F(VectorDAOTest, RevertingTheStackUndoesACompoundCreationAndRefusalsThrowIt) {
    QMXClassComposer composer = recordComposer();
    const std::vector<Record> values = records(4, 3);
    ASSERT_TRUE(dao.create("c", "undone", composer, 4, values.data()));
    EXPECT_TRUE(stack->revert());
    EXPECT_FALSE(dao.exists("c", "undone"));
    endUnit();

    // Without data nothing can be made, and reverting removes nothing else.
    bool thrownStack = false;
    try {
        dao.create("c", "halfway", composer, 5, nullptr);
    } catch (const std::shared_ptr<TransactionStack>& thrown) {
        thrownStack = thrown == stack;
    }
    ASSERT_TRUE(thrownStack);
    stack->revert();
    EXPECT_FALSE(dao.exists("c", "halfway"));
    EXPECT_TRUE(dao.existsGroup("c"));
    endUnit();

    // A datatype the file library refuses (no members), and a name of separators that only
    // fails inside the worker, arrive the same way.
    QMXClassComposer broken(sizeof(Record));
    EXPECT_THROW(dao.create("c", "broken", broken, 4, values.data()),
                 std::shared_ptr<TransactionStack>);
    EXPECT_THROW(dao.create("c", "//", composer, 4, values.data()),
                 std::shared_ptr<TransactionStack>);
}

// ---- Existence, information, removal, groups --------------------------------------------------

TEST_F(VectorDAOTest, ExistenceInformationAndRemovalOfVectorsAndGroups) {
    EXPECT_FALSE(dao.exists("x", "v"));
    const VectorInfo missing = dao.getInfo("x", "v");
    EXPECT_EQ(missing.rows, 0);
    EXPECT_EQ(missing.cols, 1);
    EXPECT_EQ(missing.type, -1);
    endUnit();

    const std::uint16_t values[4] = {1, 2, 3, 4};
    ASSERT_TRUE(dao.create("x", "v", VT_UINT16, 4, values));
    EXPECT_TRUE(dao.exists("x", "v"));
    ASSERT_TRUE(dao.remove("x", "v"));
    EXPECT_FALSE(dao.exists("x", "v"));
    EXPECT_THROW(dao.remove("x", "v"), DataAccessViolationException);
    std::uint16_t back[4];
    EXPECT_THROW(dao.read("x", "v", VT_UINT16, back), DataAccessViolationException);

    // Groups.
    EXPECT_FALSE(dao.existsGroup("grp"));
    EXPECT_FALSE(dao.removeGroup("grp"));
    const float value = 1;
    ASSERT_TRUE(dao.create("grp/sub", "v", VT_FLOAT, 1, &value));
    EXPECT_TRUE(dao.existsGroup("grp"));
    EXPECT_TRUE(dao.existsGroup("/grp/sub"));
    EXPECT_TRUE(dao.removeGroup("grp"));
    EXPECT_FALSE(dao.existsGroup("grp"));
    EXPECT_FALSE(dao.exists("grp/sub", "v"));
    EXPECT_THROW(dao.existsGroup(".."), std::out_of_range);
}

TEST_F(VectorDAOTest, PathsAreStrippedAndPlacedBelowTheRoot) {
    const std::int32_t value = 42;
    ASSERT_TRUE(dao.create("", "top", VT_INT32, 1, &value));
    ASSERT_TRUE(dao.create("/a/b", "/inner.", VT_INT32, 1, &value));
    const int file = dao.getHandleToStorage();
    EXPECT_TRUE(datasetOpens(file, "/top"));
    EXPECT_TRUE(datasetOpens(file, "/a/b/inner."));
    EXPECT_TRUE(dao.exists("a/b/", "/inner.."));  // trimmed to the same name

    dao.setPathToRoot("/Root");
    ASSERT_TRUE(dao.create("/deep/er", "v", VT_INT32, 1, &value));
    EXPECT_TRUE(datasetOpens(file, "/Root/deep/er/v"));
    EXPECT_TRUE(dao.existsGroup("deep"));
    EXPECT_FALSE(dao.existsGroup("a"));  // below the root there is no "a"

    std::string path = "//x//";
    std::string name = "./n";
    EXPECT_EQ(dao.constructPaths(path, name, false), 1);
    EXPECT_EQ(path, "/Root/x//");
    EXPECT_EQ(name, "n");
}

// ---- Reading many -----------------------------------------------------------------------------

TEST_F(VectorDAOTest, ReadManyReadsBytesAndKeepsEntriesItCannotRead) {
    const std::vector<std::uint8_t> bytes = {1, 2, 3, 250};
    const std::vector<double> doubles = {7, 8};
    ASSERT_TRUE(dao.create("m", "bytes", VT_UINT8, 4, bytes.data()));
    ASSERT_TRUE(dao.create("m", "doubles", VT_DOUBLE, 2, doubles.data()));
    ASSERT_TRUE(dao.create("m", "empty", VT_UINT8, 0, nullptr));
    endUnit();

    std::vector<std::vector<unsigned char>> result = {{9}, {9}, {9, 9}, {9, 9, 9}, {5}};
    ASSERT_TRUE(dao.readMany("m", {"bytes", "missing", "doubles", "empty"}, result));
    ASSERT_EQ(result.size(), 4u);
    EXPECT_EQ(result[0], std::vector<unsigned char>(bytes.begin(), bytes.end()));
    EXPECT_EQ(result[1], std::vector<unsigned char>{9});
    EXPECT_EQ(result[2], (std::vector<unsigned char>{7, 8}));
    EXPECT_EQ(result[3], (std::vector<unsigned char>{9, 9, 9}));
    EXPECT_EQ(stack->lockCount(), 1u);

    std::vector<std::vector<unsigned char>> grown;
    ASSERT_TRUE(dao.readMany("m", {"nothing", "bytes"}, grown));
    ASSERT_EQ(grown.size(), 2u);
    EXPECT_TRUE(grown[0].empty());
    EXPECT_EQ(grown[1].size(), 4u);

    ASSERT_TRUE(dao.readMany("m", {}, result));
    EXPECT_TRUE(result.empty());
}

TEST_F(VectorDAOTest, ReadManyRefusesAShapeThatDisagreesWithTheData) {
    const std::vector<std::uint8_t> bytes(10, 1);
    ASSERT_TRUE(dao.create("m", "damaged", VT_UINT8, 10, bytes.data()));
    ASSERT_TRUE(dao.create("m", "fine", VT_UINT8, 10, bytes.data()));
    // A shape claiming fewer rows than the dataset holds.
    const int rows = 3;
    const int cols = 1;
    {
        DatasetHandle dataset(QMXLopenDataset(dao.getHandleToStorage(), "/m/damaged"));
        ASSERT_GE(QMXLsetAttribute(dataset.getHandle(), "Rows", &rows), 0);
        ASSERT_GE(QMXLsetAttribute(dataset.getHandle(), "Cols", &cols), 0);
    }
    endUnit();
    ArrayProbe arrays;
    bind(arrays);
    std::vector<std::vector<unsigned char>> result;
    try {
        arrays.readMany("m", {"fine", "damaged"}, result);
        FAIL() << "a damaged shape was read";
    } catch (const DataAccessViolationException& e) {
        // Found by the shape query already, which names the object.
        EXPECT_STREQ(e.what(),
                     "shape 3 x 1 does not match the 10 stored elements of '/m/damaged' (the item "
                     "is damaged)");
    }
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[0].size(), 10u);  // read before the damaged one
    EXPECT_TRUE(result[1].empty());
}

}  // namespace
