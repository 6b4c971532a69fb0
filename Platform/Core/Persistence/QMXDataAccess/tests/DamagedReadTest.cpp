// A host reading a damaged container through the DAOs: every read either hands the stored
// bytes or throws DataAccessViolationException naming the object. A damaged size never
// reaches the host's buffer, damaged attributes never read as defaults, and damage is never
// answered as "not there".
#include "DAOExceptions.h"
#include "SessionFixture.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace Quellmar;
namespace qt = Quellmar::testing;
using qt::Session;

namespace {

// The one place the bytes occur in the file.
std::size_t uniqueOffset(const std::string& bytes, const std::string& pattern) {
    const std::size_t at = bytes.find(pattern);
    EXPECT_NE(at, std::string::npos) << "pattern not found";
    EXPECT_EQ(bytes.find(pattern, at + 1), std::string::npos) << "pattern found twice";
    return at;
}

// A dataspace message of one dimension stores the size and the maximum size as 64-bit
// little-endian numbers side by side.
std::string dimensions(unsigned long long count) {
    std::string one(8, '\0');
    for (int i = 0; i < 8; ++i)
        one[i] = static_cast<char>(count >> (8 * i));
    return one + one;
}

// Sets byte 5 of the stored size of the only one-dimensional dataset of `count` elements to
// 0x2d: the size then reads as 0x2d0000000000 + count, while an int keeps only `count`. The
// maximum size gets the same byte, so the header stays consistent in itself and it is the size
// checks behind the header check that must refuse it.
void damageSize(const std::string& file, unsigned long long count) {
    std::string bytes = qt::readFile(file);
    const std::size_t at = uniqueOffset(bytes, dimensions(count));
    bytes[at + 5] = '\x2d';
    bytes[at + 8 + 5] = '\x2d';
    qt::writeFile(file, bytes);
}

// File offset of an object's header, as h5py reports it.
long long headerAddress(const std::string& file, const std::string& path) {
    const std::string command = "/usr/bin/python3 -c \"import h5py; f = h5py.File('" + file +
                                "', 'r'); print(h5py.h5o.get_info(f.id, b'" + path +
                                "').addr)\" 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    char line[64] = {};
    if (!pipe || !std::fgets(line, sizeof line, pipe.get()))
        return -1;
    return std::atoll(line);
}

void overwriteHeader(const std::string& file, const std::string& path) {
    const long long address = headerAddress(file, path);
    ASSERT_GT(address, 0) << path;
    std::string bytes = qt::readFile(file);
    bytes.replace(static_cast<std::size_t>(address), 16, std::string(16, '\xff'));
    qt::writeFile(file, bytes);
}

// The text of the DataAccessViolationException `call` throws; a test failure when it throws
// nothing or something else.
template <class Call>
std::string violationOf(Call call) {
    try {
        call();
    } catch (const DataAccessViolationException& e) {
        return e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "other exception: " << e.what();
        return {};
    }
    ADD_FAILURE() << "no exception";
    return {};
}

const int kOne = 1;

// With the caller's line in a failure.
#define violation(call)           \
    [&] {                         \
        SCOPED_TRACE("here");     \
        return violationOf(call); \
    }()

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class DamagedRead : public ::testing::Test {
protected:
    qt::TempDir dir;
    std::string file = dir.file("damaged.qmz");
};

TEST_F(DamagedRead, AVectorSizeBeyondAnIntIsDamageAndTheBufferStaysUntouched) {
    {
        Session s(file);
        std::vector<float> pressures(24);
        for (int i = 0; i < 24; ++i)
            pressures[i] = 1000.0f + static_cast<float>(i);
        s.vectors.create("results", "pressures", VT_FLOAT, 24, pressures.data());
        s.vectors.create("results", "intact", VT_FLOAT, 3, pressures.data());
    }
    damageSize(file, 24);

    Session s(file, UserContext::ReadOnly);
    EXPECT_TRUE(contains(violation([&] { s.vectors.getInfo("results", "pressures"); }),
                         "/results/pressures"));
    // The host's 24 elements and what lies behind them: nothing may be written, not even zeros.
    std::vector<float> buffer(24 + 1024, 7.0f);
    EXPECT_TRUE(contains(
        violation([&] { s.vectors.read("results", "pressures", VT_FLOAT, buffer.data()); }),
        "/results/pressures"));
    for (float value : buffer)
        ASSERT_EQ(value, 7.0f);
    std::vector<std::vector<unsigned char>> many;
    violation([&] { s.vectors.readMany("results", {"pressures"}, many); });
    // Damage is not absence, and the rest of the file still reads.
    violation([&] { s.vectors.exists("results", "pressures"); });
    float intact[3] = {};
    s.vectors.read("results", "intact", VT_FLOAT, intact);
    EXPECT_EQ(intact[2], 1002.0f);
}

// Files from before checksums (no marker) may hold chunks never written, so only the DAO's own
// limit stands between a damaged count there and the host's buffer.
TEST_F(DamagedRead, ACountBeyondAnIntIsRefusedEvenWhereTheStorageCannotTell) {
    std::vector<double> values(3000, 0.5);
    {
        Session s(file);
        s.vectors.setCompression(6);
        s.vectors.create("series", "wave", VT_DOUBLE, 3000, values.data());
    }
    // What a file written before checksums looks like: no marker, no checksums.
    const std::string script =
        "/usr/bin/python3 -c \"import h5py\n"
        "with h5py.File('" +
        file +
        "', 'r+') as f:\n"
        "    f.visititems(lambda n, o: None if [o.attrs.__delitem__(k) for k in ('QMZ_CRC32C', "
        "'QMZ_ATTR_CRC32C') if k in o.attrs] else None)\n"
        "    [f.attrs.__delitem__(k) for k in ('QMZ_ATTR_CRC32C', 'QMZ_CHECKSUMS') if k in "
        "f.attrs]\n\"";
    ASSERT_EQ(std::system(script.c_str()), 0);
    damageSize(file, 3000);

    Session s(file, UserContext::ReadOnly);
    EXPECT_TRUE(
        contains(violation([&] { s.vectors.getInfo("series", "wave"); }),
                 "'/series/wave' claims 49478023252920 elements, more than a vector holds"));
    std::vector<double> buffer(3000 + 1024, 7.0);
    violation([&] { s.vectors.read("series", "wave", VT_DOUBLE, buffer.data()); });
    for (double value : buffer)
        ASSERT_EQ(value, 7.0);
}

TEST_F(DamagedRead, ABlobSizeTheStoredBytesCannotHoldIsDamage) {
    {
        Session s(file);
        s.blobs.createGroup("models", 1);
        s.blobs.create("models", "notes", qt::makeObject(std::string(37, 'n')));
    }
    damageSize(file, 37);
    Session s(file, UserContext::ReadOnly);
    SerializationTransferObject object(std::make_shared<std::vector<unsigned char>>(5, 'x'));
    EXPECT_TRUE(
        contains(violation([&] { s.blobs.read("models", "notes", object); }), "/models/notes"));
    EXPECT_EQ(qt::bytesOf(object), "xxxxx");  // the host's buffer was not resized to the claim
    violation([&] { s.blobs.exists("models", "notes"); });
}

TEST_F(DamagedRead, DamagedGroupAttributesThrowInsteadOfGivingDefaults) {
    {
        Session s(file);
        s.blobs.createGroup("models", 3);
        s.blobs.updateGroupDataId("models", "MDL-2041");
        s.blobs.updateFileCreationSoftwareRevision("models", "2.4.1");
        s.blobs.updateMaxIdentifierValue("models", 4096, 2);
    }
    std::string bytes = qt::readFile(file);
    bytes[uniqueOffset(bytes, std::string("MaximumIdentifierValueHigh"))] ^=
        1;  // one bit of a name
    qt::writeFile(file, bytes);

    Session s(file, UserContext::ReadOnly);
    std::string id;
    std::string revision;
    int version = 0;
    unsigned long long value = 0;
    unsigned short high = 0;
    EXPECT_TRUE(contains(violation([&] { s.blobs.readGroupDataId("models", id); }), "/models"));
    EXPECT_TRUE(
        contains(violation([&] { s.blobs.readFileCreationSoftwareRevision("models", revision); }),
                 "attribute checksum mismatch"));
    violation([&] { s.blobs.readGroupDataVersion("models", version); });
    violation([&] { s.blobs.readMaxIdentifierValue("models", value, high); });
    EXPECT_EQ(id, "");
    EXPECT_EQ(revision, "");
    EXPECT_EQ(version, 0);
}

TEST_F(DamagedRead, AGroupThatLostItsMarkIsDamagedNotAPlainGroup) {
    {
        Session s(file);
        s.blobs.createGroup("models", 3);
        s.blobs.updateGroupDataId("models", "MDL-2041");
        s.vectors.create("plain", "v", VT_INT32, 1, &kOne);
    }
    {
        Session s(file, UserContext::ReadOnly);
        EXPECT_TRUE(s.blobs.existsGroup("models"));
        EXPECT_FALSE(s.blobs.existsGroup("plain"));  // a group, but not one of objects
        EXPECT_FALSE(s.blobs.existsGroup("missing"));
    }
    std::string bytes = qt::readFile(file);
    bytes[uniqueOffset(bytes, std::string("QMZ_OBJECT_GROUP"))] ^= 4;
    qt::writeFile(file, bytes);
    {
        Session s(file, UserContext::ReadOnly);
        EXPECT_TRUE(contains(violation([&] { s.blobs.existsGroup("models"); }), "/models"));
        std::string id;
        EXPECT_TRUE(contains(violation([&] { s.blobs.readGroupDataId("models", id); }), "/models"));
    }
    Session writer(file);
    EXPECT_TRUE(contains(violation([&] { writer.blobs.createGroup("models", 1); }), "/models"))
        << "a damaged group is reported, not marked over";
    writer.blobs.createGroup("plain", 2);  // a plain group still becomes an object group
    EXPECT_TRUE(writer.blobs.existsGroup("plain"));
}

TEST_F(DamagedRead, AnUnreadableHeaderIsNeverReportedAsAbsent) {
    {
        Session s(file);
        s.blobs.createGroup("models", 1);
        s.blobs.create("models", "notes", qt::makeObject("Gearbox assembly, revision C."));
        s.blobs.create("models", "gearbox", qt::makeObject("gears"));
        const int counts[3] = {1, 2, 3};
        s.vectors.create("results", "counts", VT_INT32, 3, counts);
        s.vectors.create("results", "intact", VT_INT32, 3, counts);
        s.vectors.create("results/mesh", "kept", VT_INT32, 3, counts);
    }
    overwriteHeader(file, "/models/notes");
    overwriteHeader(file, "/results/counts");
    overwriteHeader(file, "/results/mesh");

    Session s(file, UserContext::ReadOnly);
    EXPECT_TRUE(contains(violation([&] { s.blobs.exists("models", "notes"); }), "/models/notes"));
    EXPECT_TRUE(
        contains(violation([&] { s.vectors.exists("results", "counts"); }), "/results/counts"));
    EXPECT_TRUE(
        contains(violation([&] { s.vectors.getInfo("results", "counts"); }), "/results/counts"));
    EXPECT_TRUE(
        contains(violation([&] { s.arrays.getInfo("results", "counts"); }), "/results/counts"));
    violation([&] { s.vectors.existsGroup("results/mesh"); });
    // Absent things, and things of another kind, are still simply not there.
    EXPECT_TRUE(s.blobs.exists("models", "gearbox"));
    EXPECT_FALSE(s.blobs.exists("models", "missing"));
    EXPECT_FALSE(s.blobs.exists("nogroup", "notes"));
    EXPECT_FALSE(s.blobs.exists("results", "intact"));  // a vector, not an object
    EXPECT_FALSE(s.vectors.exists("results", "missing"));
    EXPECT_FALSE(s.vectors.existsGroup("nogroup"));
    const VectorInfo none = s.vectors.getInfo("results", "missing");
    EXPECT_EQ(none.rows, 0);
    EXPECT_EQ(none.type, -1);
}

}  // namespace
