// The journal belongs to the file, not to the name it was opened by: it lies beside the file a
// symbolic link leads to, a file with two names is refused, and a journal left beside a link by
// an earlier build is never rolled back over later commits. Compaction through a link compacts
// the file the link leads to.
#include "DriverFile.h"
#include "Journal.h"
#include "QMXL.h"
#include "TempDir.h"

#include <hdf5.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Quellmar::testing::crashAfter;
using Quellmar::testing::DriverFile;
using Quellmar::testing::fileSize;
using Quellmar::testing::readFile;
using Quellmar::testing::TempDir;
using Quellmar::testing::writeFile;
namespace qf = Quellmar::qmxfile;
namespace jr = Quellmar::qmxfile::journal;

// Overwrites and cuts the container through `through`, so that it is torn when the child dies.
int tearThrough(const std::string& through) {
    auto* f = new DriverFile(through, H5F_ACC_RDWR);  // never closed: the writer dies
    // Held-back overwrites reach the container once a shrink forces them out.
    const bool torn =
        f->ok() && f->write(10, std::string(3 * jr::kPageSize, 'T')) && f->truncateTo(64);
    return torn ? 0 : 1;
}

std::string realPathOf(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

class PathAlias : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::mkdir(dir.file("real").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(dir.file("links").c_str(), 0755), 0);
        real = dir.file("real/c.qmz");
        original = std::string(5 * jr::kPageSize + 321, 'o');
        for (size_t i = 0; i < original.size(); i += 7)
            original[i] = static_cast<char>(i);
        writeFile(real, original);
        link = dir.file("links/l.qmz");
        ASSERT_EQ(::symlink("../real/c.qmz", link.c_str()), 0);
    }
    TempDir dir;
    std::string real;
    std::string link;
    std::string original;
};

TEST_F(PathAlias, CreationThroughADanglingLinkMakesTheTargetAndCrashRemovesIt) {
    const std::string target = dir.file("real/new.qmz");
    const std::string dangling = dir.file("links/new.qmz");
    ASSERT_EQ(::symlink("../real/new.qmz", dangling.c_str()), 0);
    ASSERT_EQ(crashAfter([&] {
                  auto* f = new DriverFile(dangling, H5F_ACC_RDWR | H5F_ACC_CREAT | H5F_ACC_TRUNC);
                  return f->ok() && f->write(0, std::string(9000, 'n')) ? 0 : 1;
              }),
              0);
    EXPECT_EQ(fileSize(target), 9000) << "the link's target was created";
    EXPECT_GT(fileSize(jr::journalName(target)), 0);
    EXPECT_FALSE(exists(jr::journalName(dangling)));
    // The creation never committed: opening the target rolls it back, so it is gone again.
    DriverFile reader(target, H5F_ACC_RDONLY);
    EXPECT_FALSE(reader.ok());
    EXPECT_FALSE(exists(target));
    EXPECT_FALSE(exists(jr::journalName(target)));
    EXPECT_TRUE(exists(dangling)) << "the link itself is left alone";
}

TEST_F(PathAlias, FileWithTwoNamesIsRefusedWithTheReason) {
    const std::string second = dir.file("links/hard.qmz");
    ASSERT_EQ(::link(real.c_str(), second.c_str()), 0);
    for (const std::string& name : {real, second, link}) {
        for (unsigned flags : {unsigned(H5F_ACC_RDWR), unsigned(H5F_ACC_RDONLY),
                               unsigned(H5F_ACC_RDWR | H5F_ACC_CREAT | H5F_ACC_TRUNC)}) {
            DriverFile f(name, flags);
            EXPECT_FALSE(f.ok()) << name << " flags " << flags;
            EXPECT_NE(
                qf::lastJournalError().find(
                    "file " + name + " has 2 hard links; a journaled file must have one name"),
                std::string::npos)
                << qf::lastJournalError();
        }
    }
    EXPECT_EQ(readFile(real), original) << "a refused truncating create changed nothing";
    EXPECT_FALSE(exists(jr::journalName(real)));
    EXPECT_FALSE(exists(jr::journalName(second)));

    // With one name again the file opens.
    ASSERT_EQ(::unlink(second.c_str()), 0);
    DriverFile f(link, H5F_ACC_RDWR);
    EXPECT_TRUE(f.ok()) << qf::lastJournalError();
}

// A writer of an earlier build, killed while working through the link, left its journal beside
// the link. Made here by moving a fresh journal to where that build put it.
class OldJournalBesideALink : public PathAlias {
protected:
    void SetUp() override {
        PathAlias::SetUp();
        ASSERT_EQ(crashAfter([&] { return tearThrough(real); }), 0);
        torn = readFile(real);
        ASSERT_NE(torn, original);
        ASSERT_EQ(::rename(jr::journalName(real).c_str(), jr::journalName(link).c_str()), 0);
    }
    std::string torn;
};

TEST_F(OldJournalBesideALink, OpeningThroughTheLinkIsRefusedAndRollsNothingBack) {
    for (unsigned flags : {unsigned(H5F_ACC_RDWR), unsigned(H5F_ACC_RDONLY)}) {
        DriverFile f(link, flags);
        EXPECT_FALSE(f.ok()) << flags;
        const std::string error = qf::lastJournalError();
        EXPECT_NE(error.find("file " + link + " has a journal " + jr::journalName(link)),
                  std::string::npos)
            << error;
        EXPECT_NE(error.find("earlier version"), std::string::npos) << error;
        EXPECT_NE(error.find(realPathOf(real)), std::string::npos)
            << "names where the journal lives now: " << error;
    }
    EXPECT_EQ(readFile(real), torn) << "nothing was rolled back";
    EXPECT_GT(fileSize(jr::journalName(link)), 0) << "the old journal stays for someone to decide";
}

TEST_F(OldJournalBesideALink, CommitsThroughTheRealNameAreNeverUndoneByIt) {
    // The real name cannot see the old journal; what it commits must survive every later open.
    {
        DriverFile writer(real, H5F_ACC_RDWR | H5F_ACC_CREAT | H5F_ACC_TRUNC);
        ASSERT_TRUE(writer.ok()) << qf::lastJournalError();
        ASSERT_TRUE(writer.write(0, "newer committed content"));
    }
    const std::string committed = readFile(real);
    ASSERT_EQ(committed, "newer committed content");
    {
        DriverFile f(link, H5F_ACC_RDWR);
        EXPECT_FALSE(f.ok());
    }
    EXPECT_EQ(readFile(real), committed);

    // Once the stale journal is deleted, the link works again and finds the committed content.
    ASSERT_EQ(::unlink(jr::journalName(link).c_str()), 0);
    {
        DriverFile f(link, H5F_ACC_RDWR);
        ASSERT_TRUE(f.ok()) << qf::lastJournalError();
    }
    EXPECT_EQ(readFile(real), committed);
}

TEST_F(PathAlias, EmptiedJournalBesideALinkIsNoObstacle) {
    writeFile(jr::journalName(link), "");  // an earlier build's committed, emptied journal
    DriverFile f(link, H5F_ACC_RDWR);
    EXPECT_TRUE(f.ok()) << qf::lastJournalError();
}

TEST_F(PathAlias, CompactionThroughALinkReplacesTheFileAndKeepsTheLink) {
    const std::string file = dir.file("real/big.qmz");
    int handle = QMXLcreateFile(file.c_str());
    ASSERT_GT(handle, 0);
    const std::string big(300000, 'b');
    ASSERT_EQ(QMXLcreateCompressedOpaqueData(handle, "/gone", "big", 0, 0, 300000, big.data()), 1);
    ASSERT_EQ(QMXLcreateCompressedOpaqueData(handle, "/keep", "small", 0, 0, 5, "small"), 1);
    ASSERT_EQ(QMXLremoveGroup(handle, "/gone"), 1);
    ASSERT_EQ(QMXLcloseFile(handle), 1);
    const std::string through = dir.file("links/big.qmz");
    ASSERT_EQ(::symlink("../real/big.qmz", through.c_str()), 0);
    const long long before = fileSize(file);

    ASSERT_EQ(QMXLdeflate(through.c_str(), 100), 1);
    struct stat st {};
    ASSERT_EQ(::lstat(through.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by the compacted copy";
    EXPECT_LT(fileSize(file), before / 10) << "the file the link leads to was compacted";

    handle = QMXLopenFileReadOnly(through.c_str());
    ASSERT_GT(handle, 0);
    long long size = 0;
    EXPECT_EQ(QMXLgetSizeOfOpaqueData(handle, "/keep", "small", &size), 1);
    EXPECT_EQ(size, 5);
    QMXLcloseFile(handle);
}

}  // namespace
