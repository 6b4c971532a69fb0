// Public DAO operations with arguments a careless or hostile caller passes (NUL bytes, empty and
// separator-only names, null data). Each case must end in the exception named for it, and the
// file must hold exactly what it held before. Counts, shapes, types and composers a DAO refuses
// are tested with each DAO.
#include "DAOExceptions.h"
#include "QMXClassComposer.h"
#include "QMXLLists.h"
#include "SessionFixture.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using namespace Quellmar;
namespace qt = Quellmar::testing;
using qt::Session;

namespace {

// How a case must end: the start of what outcome() makes of it.
namespace Expect {
const char* const OutOfRange = "out_of_range";           // "invalid string position"
const char* const InvalidArgument = "invalid argument";  // QminvalidArgument
const char* const DataAccess = "data access";            // DataAccessViolationException
}  // namespace Expect

struct Case {
    const char* what;
    std::function<void(Session&)> call;
    const char* expect;
};

const std::string kNul = std::string("b\0x", 3);  // "b" followed by a NUL and more

std::vector<double> kValues{1, 2, 3, 4, 5};

void readBlob(Session& s, const std::string& name) {
    SerializationTransferObject o;
    s.blobs.read("g", name, o);
}

std::vector<Case> cases() {
    const auto obj = qt::makeObject("hostile");
    return {
        // Blob DAO.
        {"blob create: empty name", [=](Session& s) { s.blobs.create("g", "", obj); },
         Expect::DataAccess},
        {"blob create: NUL in name", [=](Session& s) { s.blobs.create("g", kNul, obj); },
         Expect::InvalidArgument},
        {"blob create: NUL in group",
         [=](Session& s) { s.blobs.create(std::string("g\0h", 3), "n", obj); },
         Expect::InvalidArgument},
        {"blob update: NUL in name", [=](Session& s) { s.blobs.update("g", kNul, obj); },
         Expect::InvalidArgument},
        {"blob read: NUL in name", [](Session& s) { readBlob(s, kNul); }, Expect::InvalidArgument},
        {"blob read: name of separators", [](Session& s) { readBlob(s, ".."); },
         Expect::OutOfRange},
        {"blob exists: NUL in name", [](Session& s) { s.blobs.exists("g", kNul); },
         Expect::InvalidArgument},
        {"blob remove: NUL in name", [](Session& s) { s.blobs.remove("g", kNul); },
         Expect::InvalidArgument},
        {"blob remove: empty name", [](Session& s) { s.blobs.remove("g", ""); },
         Expect::DataAccess},
        {"blob attribute: NUL in group",
         [](Session& s) { s.blobs.updateGroupDataId(std::string("g\0", 2), "x"); },
         Expect::InvalidArgument},
        {"blob createGroup: NUL in group",
         [](Session& s) { s.blobs.createGroup(std::string("g\0z", 3), 1); },
         Expect::InvalidArgument},
        // Vector DAO.
        {"vector create: null data",
         [](Session& s) { s.vectors.create("vg", "x", VT_DOUBLE, 5, nullptr); },
         Expect::DataAccess},
        {"vector create: NUL in name",
         [](Session& s) {
             s.vectors.create("vg", std::string("v\0x", 3), VT_DOUBLE, 5, kValues.data());
         },
         Expect::InvalidArgument},
        {"vector read: null data",
         [](Session& s) { s.vectors.read("vg", "v", VT_DOUBLE, nullptr); }, Expect::DataAccess},
        {"vector read: NUL in name",
         [](Session& s) {
             double d[5];
             s.vectors.read("vg", std::string("v\0", 2), VT_DOUBLE, d);
         },
         Expect::InvalidArgument},
        {"vector update: null data",
         [](Session& s) { s.vectors.update("vg", "v", VT_DOUBLE, 5, nullptr); },
         Expect::DataAccess},
        {"vector remove: NUL in path",
         [](Session& s) { s.vectors.remove(std::string("vg\0", 3), "v"); },
         Expect::InvalidArgument},
        {"vector readMany: NUL in a name",
         [](Session& s) {
             std::vector<std::vector<unsigned char>> r;
             s.vectors.readMany("vg", {std::string("v\0", 2)}, r);
         },
         Expect::InvalidArgument},
        // Array DAO.
        {"array update: NUL in name",
         [](Session& s) {
             s.arrays.update("vg", std::string("arr\0", 4), VT_INT32, 1, 1, kValues.data());
         },
         Expect::InvalidArgument},
    };
}

// What a file holds, as text: every member's path, kind, attribute names and stored size, and
// the bytes of every blob.
void snapshot(int file, const std::string& path, std::string& out) {
    QMXLGroupListing list;
    ASSERT_GE(QMXLlistGroup(file, path.c_str(), &list.count, &list.names, &list.kinds), 0) << path;
    const char* const* names = list.names;
    const int* kinds = list.kinds;
    for (int i = 0; i < list.count; ++i) {
        const std::string child = (path == "/" ? "" : path) + "/" + names[i];
        out += child + " kind " + std::to_string(kinds[i]);
        QMXLNameList attrs;
        if (QMXLlistAttributes(file, child.c_str(), &attrs.count, &attrs.names) >= 0)
            for (int a = 0; a < attrs.count; ++a)
                out += std::string(" @") + attrs.names[a];
        if (kinds[i] == QMXL_KIND_GROUP || kinds[i] == QMXL_KIND_OBJECT_GROUP) {
            out += "\n";
            snapshot(file, child, out);
        } else {
            long long size = -1;
            QMXLgetSizeOfDataset(file, path.c_str(), names[i], &size);
            out += " size " + std::to_string(size);
            if (kinds[i] == QMXL_KIND_OPAQUE && size > 0) {
                std::string bytes(static_cast<size_t>(size), '\0');
                QMXLreadOpaqueData(file, path.c_str(), names[i], bytes.data());
                out += " bytes " + bytes;
            }
            out += "\n";
        }
    }
}

std::string snapshotOf(const std::string& path) {
    const int file = QMXLopenFileReadOnly(path.c_str());
    EXPECT_GT(file, 0);
    std::string out;
    snapshot(file, "/", out);
    QMXLcloseFile(file);
    return out;
}

// Runs one case in a unit of work that is then reverted, as a host would after a failure.
std::string outcome(const Case& c, Session& s) {
    try {
        c.call(s);
        return "nothing";
    } catch (const std::out_of_range& e) {
        return std::string("out_of_range: ") + e.what();
    } catch (const QminvalidArgument& e) {
        return std::string("invalid argument: ") + e.what();
    } catch (const DataSourceException& e) {
        return std::string("data source: ") + e.what();
    } catch (const DataAccessViolationException& e) {
        return std::string("data access: ") + e.what();
    } catch (const std::shared_ptr<TransactionStack>& stack) {
        return "stack: " + stack->getErrorMessage();
    } catch (const std::exception& e) {
        return std::string("other: ") + e.what();
    }
}

}  // namespace

TEST(HostileInput, EveryOperationRefusesBadArgumentsAndLeavesTheFileAlone) {
    qt::TempDir dir;
    const std::string file = dir.file("hostile.qmz");
    {
        Session s(file);
        s.blobs.createGroup("g", 1);
        s.blobs.create("g", "b", qt::makeObject("original bytes"));
        s.vectors.create("vg", "v", VT_DOUBLE, 5, kValues.data());
        const int cells[4] = {1, 2, 3, 4};
        s.arrays.create("vg", "arr", VT_INT32, 2, 2, cells);
    }
    const std::string before = snapshotOf(file);
    ASSERT_NE(before.find("original bytes"), std::string::npos);
    const std::string pristine = qt::readFile(file);

    for (const Case& c : cases()) {
        qt::writeFile(file, pristine);  // every case starts from the same file
        std::string got;
        {
            Session s(file);
            got = outcome(c, s);
            s.stack->revert();
        }
        EXPECT_EQ(got.rfind(c.expect, 0), 0u) << c.what << ": got " << got;
        EXPECT_EQ(snapshotOf(file), before) << c.what << " changed the file";
    }
}

TEST(HostileInput, LongNamesRoundTripOrAreRefusedCleanly) {
    qt::TempDir dir;
    const std::string file = dir.file("long.qmz");
    for (size_t length : {255u, 4096u, 70000u}) {
        const std::string name(length, 'n');
        Session s(file);
        s.blobs.createGroup("g", 1);
        try {
            s.blobs.create("g", name, qt::makeObject("long"));
        } catch (const DataAccessViolationException&) {
            EXPECT_FALSE(s.blobs.exists("g", name)) << length;
            continue;
        }
        SerializationTransferObject o;
        s.blobs.read("g", name, o);
        EXPECT_EQ(qt::bytesOf(o), "long") << length;
    }
    std::string after = snapshotOf(file);  // still walkable
    EXPECT_NE(after.find("/g"), std::string::npos);
}

// The storage still exists but its file was removed behind its back.
TEST(HostileInput, VanishedFileFailsClearly) {
    qt::TempDir dir;
    const std::string file = dir.file("gone.qmz");
    Session s(file);
    s.blobs.createGroup("g", 1);
    s.stack->commit();
    ASSERT_EQ(std::remove(file.c_str()), 0);
    EXPECT_THROW(s.vectors.exists("g", "v"), DAOException);
}
