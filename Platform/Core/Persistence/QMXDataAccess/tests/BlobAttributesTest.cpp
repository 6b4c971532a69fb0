#include "BlobHost.h"
#include "DAOExceptions.h"
#include "QMXBlobDAO.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace Quellmar {
namespace {

using testing::Session;
using testing::TempDir;

class BlobAttributes : public ::testing::Test {
protected:
    void SetUp() override {
        session = std::make_unique<Session>(file);
        session->bind(dao);
        dao.createGroup("g", 3);
    }
    // Ends the unit of work so the file can be changed or inspected from outside.
    void endSession() {
        dao.setDataSource(nullptr);
        session.reset();
    }
    void startSession(UserContext::AccessIntent intent = UserContext::ReadWrite) {
        session = std::make_unique<Session>(file, intent);
        session->bind(dao);
    }

    TempDir dir;
    const std::string file = dir.file("attributes.qmz");
    QMXBlobDAO dao;
    std::unique_ptr<Session> session;
};

TEST_F(BlobAttributes, VersionIsWrittenByCreateGroupAndReplaced) {
    int version = -1;
    dao.readGroupDataVersion("g", version);
    EXPECT_EQ(version, 3);
    dao.updateGroupDataVersion("g", 7);
    dao.readGroupDataVersion("/g/", version);
    EXPECT_EQ(version, 7);
    // An object group made elsewhere without "Version" leaves the output alone.
    endSession();
    ASSERT_TRUE(testing::makeObjectGroup(file, "/bare"));
    startSession();
    version = 42;
    dao.readGroupDataVersion("bare", version);
    EXPECT_EQ(version, 42);
    dao.updateGroupDataVersion("bare", 5);
    dao.readGroupDataVersion("bare", version);
    EXPECT_EQ(version, 5);
}

TEST_F(BlobAttributes, TextAttributesRoundTripAndMissingOnesLeaveTheOutput) {
    std::string id = "caller";
    std::string hash = "caller";
    dao.readGroupDataId("g", id);
    dao.readChainGangValue("g", hash);
    EXPECT_EQ(id, "caller");
    EXPECT_EQ(hash, "caller");

    dao.updateGroupDataId("g", "id-1");
    dao.updateGroupDataId("g", "id-2");
    dao.updateChainGangValue("g", std::string("h\xff\x01", 3));
    endSession();
    startSession(UserContext::ReadOnly);
    dao.readGroupDataId("g", id);
    dao.readChainGangValue("g", hash);
    EXPECT_EQ(id, "id-2");
    EXPECT_EQ(hash, std::string("h\xff\x01", 3));
}

TEST_F(BlobAttributes, MaximumIdentifierKeepsBothPartsExactly) {
    unsigned long long value = 17;
    unsigned short high = 4;
    dao.readMaxIdentifierValue("g", value, high);
    EXPECT_EQ(value, 17u);
    EXPECT_EQ(high, 4u);

    dao.updateMaxIdentifierValue("g", std::numeric_limits<unsigned long long>::max(), 65535);
    dao.readMaxIdentifierValue("g", value, high);
    EXPECT_EQ(value, std::numeric_limits<unsigned long long>::max());
    EXPECT_EQ(high, 65535u);

    dao.updateMaxIdentifierValue("g", 1ull << 63, 0x8000);
    endSession();
    // The high part is stored zero-extended, never sign-extended.
    EXPECT_EQ(testing::readIntAttribute(file, "/g", "MaximumIdentifierValueHigh", -1), 0x8000);
    EXPECT_EQ(testing::readIntAttribute(file, "/g", "Version", -1), 3);
    startSession(UserContext::ReadOnly);
    dao.readMaxIdentifierValue("g", value, high);
    EXPECT_EQ(value, 1ull << 63);
    EXPECT_EQ(high, 0x8000u);
}

TEST_F(BlobAttributes, HighPartKeepsTheLowSixteenBitsOfTheStoredInteger) {
    endSession();
    ASSERT_TRUE(testing::writeIntAttribute(file, "/g", "MaximumIdentifierValueHigh", 0x12345));
    startSession();
    unsigned long long value = 9;
    unsigned short high = 0;
    dao.readMaxIdentifierValue("g", value, high);
    EXPECT_EQ(high, 0x2345u);
    EXPECT_EQ(value, 9u);  // its own attribute is missing
}

TEST_F(BlobAttributes, RevisionsFallBackToTheOlderIntegerAttributes) {
    std::string creation;
    std::string modified;
    dao.readFileCreationSoftwareRevision("g", creation);
    dao.readFileLastModifiedSoftwareRevision("g", modified);
    EXPECT_EQ(creation, "Software_Revision_Unknown");
    EXPECT_EQ(modified, "Software_Revision_Unknown");
    std::string given = "given";
    dao.readFileCreationSoftwareRevision("g", given);
    EXPECT_EQ(given, "given");

    endSession();
    ASSERT_TRUE(testing::writeIntAttribute(file, "/g", "CreationRevision", 1234));
    ASSERT_TRUE(testing::writeIntAttribute(file, "/g", "LastModifiedRevision", -5));
    startSession();
    dao.readFileCreationSoftwareRevision("g", creation);
    dao.readFileLastModifiedSoftwareRevision("g", modified);
    EXPECT_EQ(creation, "1234");
    EXPECT_EQ(modified, "-5");

    // The text attribute hides the integer one, which stays as it was.
    dao.updateFileCreationSoftwareRevision("g", "r1");
    dao.updateFileCreationSoftwareRevision("g", "r2");
    dao.updateFileLastModifiedSoftwareRevision("g", "");
    dao.readFileCreationSoftwareRevision("g", creation);
    dao.readFileLastModifiedSoftwareRevision("g", modified);
    EXPECT_EQ(creation, "r2");
    EXPECT_EQ(modified, "Software_Revision_Unknown");  // stored text is empty
    endSession();
    EXPECT_EQ(testing::readIntAttribute(file, "/g", "CreationRevision", 0), 1234);
}

TEST_F(BlobAttributes, EveryOperationOnAMissingGroupThrows) {
    std::string text;
    int number = 0;
    unsigned long long value = 0;
    unsigned short high = 0;
    const std::vector<std::function<void()>> calls = {
        [&] { dao.readGroupDataVersion("none", number); },
        [&] { dao.updateGroupDataVersion("none", 1); },
        [&] { dao.readGroupDataId("none", text); },
        [&] { dao.updateGroupDataId("none", "id"); },
        [&] { dao.readChainGangValue("none", text); },
        [&] { dao.updateChainGangValue("none", "h"); },
        [&] { dao.readMaxIdentifierValue("none", value, high); },
        [&] { dao.updateMaxIdentifierValue("none", 1, 1); },
        [&] { dao.readFileCreationSoftwareRevision("none", text); },
        [&] { dao.updateFileCreationSoftwareRevision("none", "r"); },
        [&] { dao.readFileLastModifiedSoftwareRevision("none", text); },
        [&] { dao.updateFileLastModifiedSoftwareRevision("none", "r"); },
    };
    for (std::size_t i = 0; i < calls.size(); ++i) {
        try {
            calls[i]();
            ADD_FAILURE() << "call " << i << " did not throw";
        } catch (const DataAccessViolationException& e) {
            EXPECT_FALSE(std::string(e.what()).empty()) << i;
            EXPECT_EQ(e.what(), QMXBaseDAO::getLastErrorMessage()) << i;
        }
    }
    EXPECT_EQ(text, "");
    EXPECT_FALSE(dao.existsGroup("none"));
}

TEST_F(BlobAttributes, FileVersionIsRaisedToTheLibraryVersion) {
    int library = -1;
    int stored = -1;
    EXPECT_TRUE(dao.getQMVersionOfLibrary(library));
    EXPECT_TRUE(dao.updateQMVersionToCurrent());
    EXPECT_EQ(session->stack->getErrorMessage(), "Error creating binary array.");
    EXPECT_TRUE(dao.getQMVersion(stored));
    EXPECT_EQ(stored, library);
    endSession();
    startSession(UserContext::ReadOnly);
    stored = -1;
    EXPECT_TRUE(dao.getQMVersion(stored));
    EXPECT_EQ(stored, library);
}

}  // namespace
}  // namespace Quellmar
