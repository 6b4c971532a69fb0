// The checks of stored objects are remembered from one open of a file to the next while the file
// stays as the last session left it; damage done in between is still found.
#include "QMXL.h"
#include "TempDir.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using Quellmar::testing::lastError;
using Quellmar::testing::TempDir;

namespace {

// Zeroes the member count of every symbol-table node holding more than one member, in place:
// same size, same inode.
void zeroMemberCounts(const std::string& path) {
    std::string bytes = Quellmar::testing::readFile(path);
    std::vector<std::size_t> nodes;
    for (auto at = bytes.find("SNOD"); at != std::string::npos; at = bytes.find("SNOD", at + 1))
        if (static_cast<unsigned char>(bytes[at + 6]) > 1)
            nodes.push_back(at);
    ASSERT_FALSE(nodes.empty());
    std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
    for (std::size_t at : nodes) {
        out.seekp(static_cast<std::streamoff>(at + 6));
        out.put('\0');
        out.put('\0');
    }
}

std::string verify(const std::string& path, bool readOnly, const char* object) {
    const int file = readOnly ? QMXLopenFileReadOnly(path.c_str()) : QMXLopenFile(path.c_str());
    if (file <= 0)
        return "open failed: " + lastError();
    const int verified = QMXLverifyObject(file, object);
    const std::string error = verified == 1 ? std::string() : lastError();
    QMXLcloseAllFileHandlesForFile(file);
    return error;
}

class RememberedChecks : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file("c.qmz");
        const int file = QMXLcreateFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
        for (int i = 0; i < 20; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "/g/m%02d", i);
            ASSERT_EQ(QMXLcreatePathToGroup(file, name), 1) << lastError();
        }
        ASSERT_EQ(QMXLcloseAllFileHandlesForFile(file), 1) << lastError();
    }

    TempDir dir;
    std::string path;
};

TEST_F(RememberedChecks, DamageAfterAReadOnlySessionIsFound) {
    ASSERT_EQ(verify(path, true, "/g"), "");
    ASSERT_EQ(verify(path, true, "/g"), "") << "a second read of the unchanged file";
    zeroMemberCounts(path);
    const std::string error = verify(path, true, "/g");
    EXPECT_NE(error.find("'/g' is damaged"), std::string::npos) << error;
    EXPECT_NE(error.find("lists no members"), std::string::npos) << error;
}

TEST_F(RememberedChecks, DamageAfterAWritingSessionIsFound) {
    {
        const int file = QMXLopenFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
        ASSERT_EQ(QMXLcreatePathToGroup(file, "/g/m20"), 1) << lastError();
        ASSERT_EQ(QMXLcloseAllFileHandlesForFile(file), 1) << lastError();
    }
    ASSERT_EQ(verify(path, true, "/g"), "") << "what the writer committed reads back sound";
    zeroMemberCounts(path);
    for (bool readOnly : {true, false}) {
        const int file = readOnly ? QMXLopenFileReadOnly(path.c_str()) : QMXLopenFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
        // Looked up by a new member's creation as by a read: the damaged index is found first.
        EXPECT_LT(readOnly ? QMXLverifyObject(file, "/g") : QMXLcreatePathToGroup(file, "/g/m21"),
                  1);
        EXPECT_NE(lastError().find("'/g' is damaged"), std::string::npos) << lastError();
        QMXLcloseAllFileHandlesForFile(file);
    }
}

}  // namespace
