#include "FileName.h"
#include "FileUtilities.h"
#include "TransferFileHandle.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

using namespace Quellmar;

namespace {
struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/qmx-fh-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
};
}  // namespace

TEST(FileName, PartsOfAPath) {
    FileName f("/data/model.v2.qmz");
    EXPECT_EQ(f.toString(), "/data/model.v2.qmz");
    EXPECT_EQ(f.baseName(), "model.v2.qmz");
    EXPECT_EQ(f.extension(), "qmz");
    EXPECT_EQ(FileName("noext").extension(), "");
    EXPECT_EQ(FileName("dir.d/noext").extension(), "");
}

TEST(FileUtilities, ExistenceOfFilesAndDirectories) {
    TempDir dir;
    const std::string file = dir.path + "/a.qmz";
    EXPECT_FALSE(FileUtilities::exists(FileName(file), false));
    std::ofstream(file) << "x";
    EXPECT_TRUE(FileUtilities::exists(FileName(file), false));
    EXPECT_FALSE(FileUtilities::exists(FileName(dir.path), false));
    EXPECT_TRUE(FileUtilities::exists(FileName(dir.path), true));
    EXPECT_FALSE(FileUtilities::exists(FileName(""), true));
}

// Tests run as root, for whom access(W_OK) always succeeds: the mode bits must decide.
TEST(FileUtilities, ReadOnlyFromModeBitsEvenForRoot) {
    TempDir dir;
    const std::string file = dir.path + "/ro.qmz";
    std::ofstream(file) << "x";
    EXPECT_FALSE(FileUtilities::isReadOnly(FileName(file)));
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    EXPECT_TRUE(FileUtilities::isReadOnly(FileName(file)));
    ASSERT_EQ(::chmod(file.c_str(), 0464), 0);  // group may write
    EXPECT_FALSE(FileUtilities::isReadOnly(FileName(file)));
    EXPECT_FALSE(FileUtilities::isReadOnly(FileName(dir.path + "/missing")));
}

TEST(TransferFileHandle, TracksFilesInTransfer) {
    FileName f("/tmp/some.qmz");
    EXPECT_EQ(TransferFileHandle::isInTransfer(f), 0);
    {
        TransferFileHandle a(f, 33);
        TransferFileHandle b(f, 35);
        EXPECT_EQ(TransferFileHandle::isInTransfer(f), 2);
        EXPECT_FALSE(a.wantsWrite());
        EXPECT_TRUE(b.wantsWrite());
    }
    EXPECT_EQ(TransferFileHandle::isInTransfer(f), 0);
}
