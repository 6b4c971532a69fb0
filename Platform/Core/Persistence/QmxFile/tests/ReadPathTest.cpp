// Reads by name take shortcuts: the path a checksum covers is taken from the group the call
// keeps open, and a read-only session finds members through their group's checked index even
// when an earlier session of the process left the group known as sound. Whatever the spelling,
// handle or order of the calls, a read must verify against the path HDF5 reports and find
// exactly the members that are there.
#include "TestFiles.h"

using namespace Quellmar::testing;

namespace {

// Where the dataspace message of the object's version-1 header keeps its rank; 0 when the
// header has none in its first block.
std::size_t rankOffset(const std::string& path, const std::string& object) {
    H5O_info_t info{};
    {
        H5Id file(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
        if (H5Oget_info_by_name2(file.id, object.c_str(), &info, H5O_INFO_BASIC, H5P_DEFAULT) < 0)
            return 0;
    }
    const std::string bytes = Quellmar::testing::readFile(path);
    const std::uint64_t end = info.addr + 16 + le(bytes, info.addr + 8, 4);
    for (std::uint64_t at = info.addr + 16; at + 8 <= end; at += 8 + le(bytes, at + 2, 2))
        if (le(bytes, at, 2) == 0x01)
            return at + 8 + 1;
    return 0;
}

struct Item {
    const char* group;
    const char* name;
    std::string data;
};

class ReadPath : public ::testing::Test {
protected:
    void TearDown() override { close(); }
    void close() {
        if (file > 0) {
            QMXLcloseOpenedObjectsForFile(file);
            EXPECT_OK(QMXLcloseAllFileHandlesForFile(file));
        }
        file = -1;
    }
    void open(bool writable) {
        close();
        file = writable ? QMXLopenFile(path.c_str()) : QMXLopenFileReadOnly(path.c_str());
        ASSERT_GT(file, 0) << lastError();
    }
    void create(const std::vector<Item>& items) {
        path = dir.file("r.qmz");
        file = QMXLcreateFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
        for (const Item& item : items)
            ASSERT_EQ(QMXLcreateCompressedOpaqueData(file, item.group, item.name, 0, 0,
                                                     static_cast<long long>(item.data.size()),
                                                     item.data.data()),
                      1)
                << item.group << "/" << item.name << ": " << lastError();
    }
    // The blob at (loc, group, name), read as a host does: its size, then its bytes.
    std::string read(int loc, const char* group, const char* name) {
        long long size = -1;
        if (QMXLgetSizeOfOpaqueData(loc, group, name, &size) != 1)
            return "size failed: " + lastError();
        std::string out(static_cast<std::size_t>(size), '\x55');
        if (QMXLreadOpaqueData(loc, group, name, out.data()) != 1)
            return "read failed: " + lastError();
        return out;
    }

    TempDir dir;
    std::string path;
    int file = -1;
};

// The checksums cover "/a/b/x", "/a/y", "/z": every spelling and every handle reaches the same
// object, and the read checks it against that path, not against the spelling it was given.
TEST_F(ReadPath, EverySpellingAndHandleVerifiesAgainstTheReportedPath) {
    const std::vector<Item> items = {
        {"/a/b", "x", pattern(64, 1)}, {"/a", "y", pattern(48, 2)}, {"/", "z", pattern(32, 3)}};
    create(items);
    const std::vector<unsigned char> numbers = {1, 2, 3, 5, 8, 13};
    ASSERT_OK(QMXLcreateTypedDataset(file, "/a", "t", 0, 0, 0, QMXL_UINT8, 6, numbers.data()));
    for (const bool writable : {true, false}) {
        SCOPED_TRACE(writable ? "read-write session" : "read-only session");
        // The writing session that created them reads first; then fresh sessions.
        if (!writable || file <= 0)
            open(writable);
        EXPECT_EQ(read(file, "//a//b/", "x"), items[0].data);
        EXPECT_EQ(read(file, "a/b", "x"), items[0].data);
        EXPECT_EQ(read(file, "/a", "y"), items[1].data);
        EXPECT_EQ(read(file, "/a/b", "x"), items[0].data) << "back to a group read before";
        EXPECT_EQ(read(file, "/", "z"), items[2].data);
        EXPECT_EQ(read(file, "", "z"), items[2].data);
        const int a = QMXLopenGroup(file, "/a");
        ASSERT_GT(a, 0) << lastError();
        EXPECT_EQ(read(a, "b", "x"), items[0].data) << "relative to a group handle";
        EXPECT_EQ(read(a, "", "y"), items[1].data) << "straight below a group handle";
        EXPECT_EQ(read(a, "/a/b", "x"), items[0].data) << "absolute through a group handle";
        std::vector<unsigned char> typed(6);
        EXPECT_OK(QMXLreadTypedDataset(a, ".", "t", QMXL_UINT8, typed.data()));
        EXPECT_EQ(typed, numbers);
        EXPECT_OK(QMXLreadTypedDataset(file, "//a/", "t", QMXL_UINT8, typed.data()));
        EXPECT_EQ(typed, numbers);
        EXPECT_OK(QMXLcloseObject(a));
        close();
    }
}

// An item whose checksum covers another path (moved by a program that did not rewrite it) still
// fails when its group is the one the calls keep open, in the session that reads it and after
// reads of its intact neighbours.
TEST_F(ReadPath, AKeptGroupDoesNotMaskAChecksumOverAnotherPath) {
    create({{"/g", "kept", pattern(40, 4)}, {"/g", "moved", pattern(40, 5)}});
    const std::vector<unsigned char> numbers(40, 7);
    ASSERT_OK(QMXLcreateTypedDataset(file, "/g", "typed", 0, 0, 0, QMXL_UINT8, 40, numbers.data()));
    close();
    {
        H5Id f(H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT));
        ASSERT_GE(H5Lmove(f.id, "/g/moved", f.id, "/g/elsewhere", H5P_DEFAULT, H5P_DEFAULT), 0);
        ASSERT_GE(H5Lmove(f.id, "/g/typed", f.id, "/g/retyped", H5P_DEFAULT, H5P_DEFAULT), 0);
    }
    for (const bool writable : {false, true}) {
        SCOPED_TRACE(writable ? "read-write session" : "read-only session");
        open(writable);
        EXPECT_EQ(read(file, "/g", "kept"), pattern(40, 4));
        const std::string failed = read(file, "/g", "elsewhere");
        EXPECT_NE(failed.find("read failed"), std::string::npos) << failed;
        EXPECT_NE(failed.find("checksum mismatch"), std::string::npos) << failed;
        std::vector<unsigned char> typed(40);
        EXPECT_LT(QMXLreadTypedDataset(file, "/g", "retyped", QMXL_UINT8, typed.data()), 0);
        EXPECT_ERROR("checksum mismatch");
        EXPECT_EQ(read(file, "/g", "kept"), pattern(40, 4)) << "the neighbour reads again";
    }
}

// A group the writing session made or changed is known as sound when the unchanged file opens
// again; a read-only session then lists its members from its index once. Every member is found
// with its own bytes, a missing one stays missing, and near names are not taken for members.
TEST_F(ReadPath, ReadOnlySessionAfterAWriterFindsExactlyTheMembers) {
    std::vector<Item> items;
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i)
        names.push_back("m" + std::to_string(i));
    for (int i = 0; i < 40; ++i)
        items.push_back({"/many", names[static_cast<std::size_t>(i)].c_str(),
                         pattern(static_cast<std::size_t>(10 + i), 100u + unsigned(i))});
    create(items);
    close();
    // A writer that reads and adds one, so the group was both checked and changed by it.
    open(true);
    EXPECT_EQ(read(file, "/many", "m3"), items[3].data);
    const std::string late = pattern(20, 99);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/many", "late", 0, 0, 20, late.data()));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first read-only session" : "second read-only session");
        open(false);
        for (const Item& item : items)
            EXPECT_EQ(read(file, item.group, item.name), item.data) << item.name;
        EXPECT_EQ(read(file, "/many", "late"), late);
        for (const char* absent : {"m40", "m", "M1", "m1 ", "lat"}) {
            long long size = -1;
            EXPECT_LT(QMXLgetSizeOfOpaqueData(file, "/many", absent, &size), 0) << absent;
            EXPECT_NE(lastError().find("does not exist"), std::string::npos)
                << absent << ": " << lastError();
            EXPECT_EQ(QMXLexistsDataset(file, (std::string("/many/") + absent).c_str()), 0)
                << absent;
        }
        EXPECT_OK(QMXLexistsDataset(file, "/many/m39"));
    }
}

// A writer that read one member of a group and changed nothing hands the unchanged file's
// checks on: the group is known sound, its other members are not. A read-only session then
// finds them through the group's index and checks each header before HDF5 reads it.
TEST_F(ReadPath, MembersFoundThroughTheIndexAreCheckedBeforeHdf5ReadsThem) {
    create({{"/g", "a", pattern(16, 21)}, {"/g", "b", pattern(16, 22)}});
    close();
    const std::size_t rank = rankOffset(path, "/g/b");
    ASSERT_NE(rank, 0u);
    std::string bytes = Quellmar::testing::readFile(path);
    bytes[rank] = 40;
    Quellmar::testing::writeFile(path, bytes);
    open(true);
    EXPECT_EQ(read(file, "/g", "a"), pattern(16, 21));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        open(false);
        EXPECT_EQ(read(file, "/g", "a"), pattern(16, 21));
        const std::string failed = read(file, "/g", "b");
        EXPECT_NE(failed.find("'/g/b' is damaged: "), std::string::npos) << failed;
        EXPECT_NE(failed.find("rank 40"), std::string::npos) << failed;
    }
}

// A group of the newer kind (links kept in its header, no symbol table) has no index to list:
// its members are looked up through HDF5 in every session, before and after a writer.
TEST_F(ReadPath, GroupsWithoutAnIndexAreLookedUpThroughHdf5) {
    create({{"/plain", "item", pattern(16, 7)}});
    close();
    {
        H5Id fapl(H5Pcreate(H5P_FILE_ACCESS));
        ASSERT_GE(H5Pset_libver_bounds(fapl.id, H5F_LIBVER_LATEST, H5F_LIBVER_LATEST), 0);
        H5Id f(H5Fopen(path.c_str(), H5F_ACC_RDWR, fapl.id));
        ASSERT_GE(f.id, 0);
        H5Id g(H5Gcreate2(f.id, "/newer", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
        ASSERT_GE(g.id, 0);
    }
    open(true);
    const std::string data = pattern(24, 8);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/newer", "item", 0, 0, 24, data.data()));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        open(false);
        EXPECT_EQ(read(file, "/newer", "item"), data);
        EXPECT_EQ(read(file, "/plain", "item"), pattern(16, 7));
        long long size = -1;
        EXPECT_LT(QMXLgetSizeOfOpaqueData(file, "/newer", "other", &size), 0);
        EXPECT_ERROR("does not exist");
    }
}

// A creation opens its group straight away and makes it only when that fails: missing groups
// are made, an item standing where a group should be refuses the creation, and creations after
// a refusal go on as before.
TEST_F(ReadPath, CreationOpensMakesOrRefusesItsGroup) {
    const std::string first = pattern(30, 11), second = pattern(31, 12), third = pattern(32, 13);
    create({{"/deep/er", "first", first}});
    close();
    open(true);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/deep/er", "second", 0, 0, 31, second.data()));
    EXPECT_LT(QMXLcreateCompressedOpaqueData(file, "/deep/er/first", "x", 0, 0, 32, third.data()),
              0);
    EXPECT_ERROR("/deep/er/first/x");
    EXPECT_LT(QMXLcreateCompressedOpaqueData(file, "/deep/er", "second", 0, 0, 32, third.data()),
              0);
    EXPECT_ERROR("exists already");
    ASSERT_OK(
        QMXLcreateCompressedOpaqueData(file, "/deep/new/one", "third", 0, 0, 32, third.data()));
    open(false);
    EXPECT_EQ(read(file, "/deep/er", "first"), first);
    EXPECT_EQ(read(file, "/deep/er", "second"), second);
    EXPECT_EQ(read(file, "/deep/new/one", "third"), third);
    EXPECT_EQ(QMXLexistsDataset(file, "/deep/er/first"), 1) << "still an item, not a group";
}

// A handle opened on the item a size query just looked up shares that lookup: one dataset is
// open for both, the handle outlives the shared item and the item outlives the handle, and
// the attributes read through it are still checked.
TEST_F(ReadPath, AHandleOnTheItemJustLookedUpSharesItAndEachOutlivesTheOther) {
    create({});
    std::vector<double> values(300000);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<double>(i) * 0.5;
    ASSERT_OK(QMXLcreateTypedDataset(file, "/g", "v", 0, 0, 0, QMXL_FLOAT64,
                                     static_cast<long long>(values.size()), values.data()));
    const int rows = 1234567;
    {
        const int handle = QMXLopenDataset(file, "/g/v");
        ASSERT_GT(handle, 0) << lastError();
        ASSERT_OK(QMXLcreateAttribute(handle, "Rows", &rows));
        ASSERT_OK(QMXLcloseObject(handle));
    }
    auto datasetsOpen = [] { return H5Fget_obj_count(H5F_OBJ_ALL, H5F_OBJ_DATASET); };
    for (int session = 0; session < 2; ++session) {
        open(false);
        long long count = 0;
        int type = 0;
        ASSERT_OK(QMXLgetDatasetInfo(file, "/g", "v", &count, &type));
        ASSERT_EQ(count, 300000);
        const int handle = QMXLopenDataset(file, "/g/v");
        ASSERT_GT(handle, 0) << lastError();
        EXPECT_EQ(datasetsOpen(), 1) << "the handle shares the item looked up";
        int back = 0;
        EXPECT_OK(QMXLreadAttribute(handle, "Rows", &back));
        EXPECT_EQ(back, rows);
        if (session == 0) {
            // The handle goes first; the item it shared serves the range read.
            EXPECT_OK(QMXLcloseObject(handle));
            std::vector<double> range(1000);
            EXPECT_OK(QMXLreadTypedDatasetRange(file, "/g", "v", QMXL_FLOAT64, 150000, 1000,
                                                range.data()));
            EXPECT_EQ(range, std::vector<double>(values.begin() + 150000, values.begin() + 151000));
            EXPECT_EQ(datasetsOpen(), 1) << "kept for the next call";
        } else {
            // A call that releases the item leaves the handle working.
            EXPECT_OK(QMXLexistsDataset(file, "/g/v"));
            EXPECT_EQ(datasetsOpen(), 1) << "only the handle's";
            back = 0;
            EXPECT_OK(QMXLreadAttribute(handle, "Rows", &back));
            EXPECT_EQ(back, rows);
            EXPECT_OK(QMXLcloseObject(handle));
            EXPECT_EQ(datasetsOpen(), 0);
        }
        close();
    }

    // Damage to an attribute is found through a shared handle, each time it is asked.
    const int damaged = rows ^ 1;
    Quellmar::testing::patchOnce(path, std::string(reinterpret_cast<const char*>(&rows), 4),
                                 std::string(reinterpret_cast<const char*>(&damaged), 4));
    open(false);
    for (int attempt = 0; attempt < 2; ++attempt) {
        long long count = 0;
        int type = 0;
        ASSERT_OK(QMXLgetDatasetInfo(file, "/g", "v", &count, &type));
        const int handle = QMXLopenDataset(file, "/g/v");
        ASSERT_GT(handle, 0) << lastError();
        int back = 0;
        EXPECT_LT(QMXLreadAttribute(handle, "Rows", &back), 0) << "attempt " << attempt;
        EXPECT_ERROR("attribute checksum mismatch");
        EXPECT_OK(QMXLcloseObject(handle));
    }
}

}  // namespace
