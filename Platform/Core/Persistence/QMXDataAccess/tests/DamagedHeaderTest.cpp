// A host reading a container whose object headers are damaged gets a DataAccessViolationException
// that names the damaged object, never a crash or made-up data: the file library checks each
// header before HDF5 decodes it.
#include "DAOExceptions.h"
#include "SessionFixture.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace Quellmar;
namespace qt = Quellmar::testing;
using qt::Session;

namespace {

// A container with an object group and its attributes, a blob and a float vector, all small
// enough to be stored compact: their data lie inside their headers' layout messages.
class DamagedHeaderThroughDaos : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file("c.qmz");
        {
            Session s(path);
            s.blobs.createGroup("models", 3);
            s.blobs.create("models", "notes", qt::makeObject(notes));
            s.vectors.create("results", "pressures", VT_FLOAT, static_cast<int>(pressures.size()),
                             pressures.data());
        }
        original = qt::readFile(path);
    }

    // Where the bytes of a compact item begin: its layout message's body is version 3, class 0,
    // a 2-byte size, then the data.
    std::size_t compactData(const std::string& data) {
        const std::size_t at = original.find(data);
        EXPECT_NE(at, std::string::npos);
        EXPECT_EQ(original[at - 4], 3);
        EXPECT_EQ(original[at - 3], 0);
        return at;
    }

    // The call throws DataAccessViolationException naming the damaged object.
    template <typename Call>
    void expectDamaged(std::string bytes, const std::string& object, Call call) {
        qt::writeFile(path, bytes);
        Session s(path, UserContext::ReadOnly);
        try {
            call(s);
            ADD_FAILURE() << "no exception";
        } catch (const DataAccessViolationException& e) {
            EXPECT_NE(std::string(e.what()).find("'" + object + "' is damaged"), std::string::npos)
                << e.what();
        }
    }

    qt::TempDir dir;
    std::string path;
    std::string original;
    const std::string notes = "the gearbox model, third revision, with the housing notes attached";
    const std::vector<float> pressures = std::vector<float>(24, 101.325f);
};

TEST_F(DamagedHeaderThroughDaos, CompactDataClaimingMoreThanItsMessage) {
    std::string bytes = original;
    const std::size_t blob = compactData(notes);
    bytes[blob - 2] = static_cast<char>(0xff);
    bytes[blob - 1] = static_cast<char>(0x7f);
    expectDamaged(bytes, "/models/notes", [](Session& s) {
        SerializationTransferObject out;
        s.blobs.read("models", "notes", out);
    });

    bytes = original;
    const std::string raw(reinterpret_cast<const char*>(pressures.data()),
                          pressures.size() * sizeof(float));
    const std::size_t vector = compactData(raw);
    bytes[vector - 1] = 0x40;  // 16 KiB more than the message holds
    expectDamaged(bytes, "/results/pressures", [&](Session& s) {
        std::vector<float> out(pressures.size());
        s.vectors.read("results", "pressures", VT_FLOAT, out.data());
    });
}

TEST_F(DamagedHeaderThroughDaos, AttributeNameWithoutItsEnd) {
    std::string bytes = original;
    // An attribute message (version 1) holds its name 8 bytes into its body; the name's size,
    // terminator included, is at 2.
    const std::size_t name = original.find(std::string("Version\0", 8));
    ASSERT_NE(name, std::string::npos);
    ASSERT_EQ(original[name - 8], 1);
    bytes[name - 6] = 4;  // "Vers" and no terminator there
    expectDamaged(bytes, "/models", [](Session& s) {
        int version = 0;
        s.blobs.readGroupDataVersion("models", version);
    });
    expectDamaged(bytes, "/models", [](Session& s) {
        SerializationTransferObject out;
        s.blobs.read("models", "notes", out);  // the path runs through the damaged group
    });
}

}  // namespace
