#include "FileName.h"
#include "FileUtilities.h"
#include "TransferFileHandle.h"
#include "WorkingDirectory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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

std::string realPathOf(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : std::string("<unresolved>");
}

using Quellmar::testing::WorkingDirectory;

std::string canonical(const std::string& path) {
    return FileUtilities::canonicalPath(FileName(path));
}
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

TEST(CanonicalPath, EverySpellingOfAFileGivesOnePath) {
    TempDir dir;
    const std::string real = realPathOf(dir.path);
    ASSERT_EQ(::mkdir((dir.path + "/sub").c_str(), 0755), 0);
    std::ofstream(dir.path + "/a.qmz") << "x";
    ASSERT_EQ(::symlink("a.qmz", (dir.path + "/link.qmz").c_str()), 0);
    ASSERT_EQ(::symlink("../link.qmz", (dir.path + "/sub/chain.qmz").c_str()),
              0);  // link to a link
    ASSERT_EQ(::symlink(dir.path.c_str(), (dir.path + "/sub/up").c_str()),
              0);  // link to a directory
    const std::string expected = real + "/a.qmz";
    for (const std::string& spelling :
         {dir.path + "/a.qmz", dir.path + "/sub/../a.qmz", dir.path + "//./a.qmz",
          dir.path + "/link.qmz", dir.path + "/sub/chain.qmz", dir.path + "/sub/up/a.qmz",
          dir.path + "/sub/up/link.qmz"})
        EXPECT_EQ(canonical(spelling), expected) << spelling;

    WorkingDirectory here(dir.path + "/sub");
    ASSERT_TRUE(here.ok());
    for (const char* spelling : {"../a.qmz", "./../a.qmz", "up/a.qmz", "chain.qmz", "./up/./a.qmz"})
        EXPECT_EQ(canonical(spelling), expected) << spelling;
    // ".." after a linked directory leaves the directory it leads to, as the system does.
    EXPECT_EQ(canonical("up/../a.qmz"), realPathOf(dir.path + "/..") + "/a.qmz");
}

TEST(CanonicalPath, FileNotYetMadeGetsItsDirectoryResolved) {
    TempDir dir;
    const std::string real = realPathOf(dir.path);
    ASSERT_EQ(::mkdir((dir.path + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink((dir.path + "/sub").c_str(), (dir.path + "/dlink").c_str()), 0);
    EXPECT_EQ(canonical(dir.path + "/dlink/new.qmz"), real + "/sub/new.qmz");
    EXPECT_EQ(canonical(dir.path + "/sub/../new.qmz"), real + "/new.qmz");
    // A dangling link leads to the file that opening through it would create.
    ASSERT_EQ(::symlink("sub/target.qmz", (dir.path + "/dangling.qmz").c_str()), 0);
    EXPECT_EQ(canonical(dir.path + "/dangling.qmz"), real + "/sub/target.qmz");
    {
        WorkingDirectory here(dir.path);
        ASSERT_TRUE(here.ok());
        EXPECT_EQ(canonical("fresh.qmz"), real + "/fresh.qmz");
        EXPECT_EQ(canonical("dangling.qmz"), real + "/sub/target.qmz");
    }
    WorkingDirectory root("/");
    ASSERT_TRUE(root.ok());
    EXPECT_EQ(canonical("no-such-file-here.qmz"), "/no-such-file-here.qmz")
        << "no doubled slash at the root";
}

TEST(CanonicalPath, UnresolvableNamesGiveNothingWithTheReason) {
    TempDir dir;
    errno = 0;
    EXPECT_EQ(canonical(dir.path + "/missing/a.qmz"), "");
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(canonical(""), "");
    EXPECT_EQ(errno, ENOENT);
    ASSERT_EQ(::symlink("loop2", (dir.path + "/loop1").c_str()), 0);
    ASSERT_EQ(::symlink("loop1", (dir.path + "/loop2").c_str()), 0);
    errno = 0;
    EXPECT_EQ(canonical(dir.path + "/loop1"), "");
    EXPECT_EQ(errno, ELOOP);
    std::ofstream(dir.path + "/plain") << "x";
    errno = 0;
    EXPECT_EQ(canonical(dir.path + "/plain/a.qmz"), "") << "a file is no directory";
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(canonical(dir.path + "/new/"), "") << "a directory name names no file";
}

// Hard links are two entries of one file: no name leads to the other, so they stay apart.
TEST(CanonicalPath, HardLinksStayTwoPaths) {
    TempDir dir;
    const std::string real = realPathOf(dir.path);
    std::ofstream(dir.path + "/a.qmz") << "x";
    ASSERT_EQ(::link((dir.path + "/a.qmz").c_str(), (dir.path + "/b.qmz").c_str()), 0);
    EXPECT_EQ(canonical(dir.path + "/a.qmz"), real + "/a.qmz");
    EXPECT_EQ(canonical(dir.path + "/b.qmz"), real + "/b.qmz");
    EXPECT_EQ(FileUtilities::linkCount(FileName(dir.path + "/a.qmz")), 2u);
    ASSERT_EQ(::unlink((dir.path + "/b.qmz").c_str()), 0);
    EXPECT_EQ(FileUtilities::linkCount(FileName(dir.path + "/a.qmz")), 1u);
    EXPECT_EQ(FileUtilities::linkCount(FileName(dir.path + "/b.qmz")), 0u);
}
