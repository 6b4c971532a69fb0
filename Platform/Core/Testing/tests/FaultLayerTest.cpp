// The fault layers themselves: what the disk model keeps after a power loss, and which calls
// the failing layer fails.
#include "FailingFileOps.h"
#include "PosixFile.h"
#include "PowerLoss.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <string>

namespace Quellmar::testing {
namespace {

using qmxfile::fileOps;
using qmxfile::UniqueFd;

std::string text(const std::vector<unsigned char>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Replays the first `count` operations and materialises the disk in a fresh directory.
std::string diskAfter(const std::vector<DiskOperation>& ops, std::size_t count, LossMode mode,
                      const TempDir& scratch, const std::string& sub) {
    DiskModel model;
    for (std::size_t i = 0; i < count; ++i)
        model.apply(ops[i]);
    const std::string dir = scratch.file(sub);
    std::filesystem::create_directory(dir);
    model.materialise(dir, mode, count > 0 ? &ops[count - 1] : nullptr);
    return dir;
}

TEST(PowerLossModel, ContentAndEntriesSurviveOnlyOnceSynced) {
    const TempDir dir, scratch;
    PowerLossRecorder recorder(dir.path());
    {
        ScopedFileOps scoped(recorder);
        UniqueFd fd(fileOps().open(dir.file("a").c_str(), O_RDWR | O_CREAT, 0644));
        ASSERT_TRUE(fd.valid());
        ASSERT_TRUE(qmxfile::writeFully(fd.get(), "hello", 5, 0));   // 1: create, 2: write
        ASSERT_TRUE(qmxfile::syncParentDirectory(dir.file("a")));    // 3: directory sync
        ASSERT_TRUE(qmxfile::syncData(fd.get()));                    // 4: file sync
        ASSERT_TRUE(qmxfile::writeFully(fd.get(), "HELLO!", 6, 0));  // 5: unsynced write
        ASSERT_EQ(fileOps().unlink(dir.file("a").c_str()), 0);       // 6: unsynced unlink
    }
    const auto ops = recorder.operations();
    ASSERT_EQ(ops.size(), 6u);
    const auto drop = LossMode::DropUnsynced;
    // Written but neither entry nor content synced: the file is not there.
    EXPECT_EQ(fileSize(diskAfter(ops, 2, drop, scratch, "p2") + "/a"), -1);
    // The entry is durable, the content not yet.
    EXPECT_EQ(fileSize(diskAfter(ops, 3, drop, scratch, "p3") + "/a"), 0);
    EXPECT_EQ(readFile(diskAfter(ops, 4, drop, scratch, "p4") + "/a"), "hello");
    // The overwrite and the removal were never synced: both are undone.
    EXPECT_EQ(readFile(diskAfter(ops, 6, drop, scratch, "p6") + "/a"), "hello");
    // The real file is gone all the same.
    EXPECT_EQ(fileSize(dir.file("a")), -1);
}

TEST(PowerLossModel, TornWriteKeepsEvenSectorsNewAndOddOnesOld) {
    const TempDir dir, scratch;
    PowerLossRecorder recorder(dir.path());
    const std::string before(2000, 'o'), after(2000, 'N');
    {
        ScopedFileOps scoped(recorder);
        UniqueFd fd(fileOps().open(dir.file("t").c_str(), O_RDWR | O_CREAT, 0644));
        ASSERT_TRUE(qmxfile::writeFully(fd.get(), before.data(), before.size(), 0));
        ASSERT_TRUE(qmxfile::syncData(fd.get()));
        ASSERT_TRUE(qmxfile::syncParentDirectory(dir.file("t")));
        // Starts inside sector 0 and runs past the old end of the file.
        ASSERT_TRUE(qmxfile::writeFully(fd.get(), after.data(), after.size(), 100));
    }
    const auto ops = recorder.operations();
    ASSERT_EQ(ops.back().kind, DiskOperation::Write);
    const std::string torn =
        readFile(diskAfter(ops, ops.size(), LossMode::TornWrite, scratch, "t") + "/t");
    ASSERT_EQ(torn.size(), 2100u);
    std::string expected = before + std::string(100, '\0');
    for (std::size_t pos = 100; pos < 2100; ++pos)
        if ((pos / 512) % 2 == 0)
            expected[pos] = 'N';
    EXPECT_EQ(torn, expected);
    // Dropping instead keeps the synced bytes only.
    EXPECT_EQ(readFile(diskAfter(ops, ops.size(), LossMode::DropUnsynced, scratch, "d") + "/t"),
              before);
}

TEST(PowerLossModel, RenameAndRecreationFollowTheDirectorySync) {
    const TempDir dir, scratch;
    PowerLossRecorder recorder(dir.path());
    {
        ScopedFileOps scoped(recorder);
        UniqueFd fd(fileOps().open(dir.file("x").c_str(), O_RDWR | O_CREAT, 0644));
        ASSERT_TRUE(qmxfile::writeFully(fd.get(), "one", 3, 0));
        ASSERT_TRUE(qmxfile::syncData(fd.get()));
        ASSERT_TRUE(qmxfile::syncParentDirectory(dir.file("x")));
        ASSERT_EQ(fileOps().rename(dir.file("x").c_str(), dir.file("y").c_str()), 0);
        ASSERT_TRUE(qmxfile::syncParentDirectory(dir.file("y")));
        // A new file under the old name: a file of its own, even where the inode is reused.
        fd = UniqueFd(fileOps().open(dir.file("x").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644));
        ASSERT_TRUE(qmxfile::writeFully(fd.get(), "two", 3, 0));
        ASSERT_TRUE(qmxfile::syncData(fd.get()));
    }
    const auto ops = recorder.operations();
    const std::string d = diskAfter(ops, ops.size(), LossMode::DropUnsynced, scratch, "r");
    EXPECT_EQ(readFile(d + "/y"), "one");
    EXPECT_EQ(fileSize(d + "/x"), -1);  // created after the last directory sync
    EXPECT_EQ(text(fileBytes(dir.file("x"))), "two");
}

TEST(FailingFileOps, FailsTheNthCallOnceOrFromThenOn) {
    const TempDir dir;
    for (const bool sticky : {false, true}) {
        FailingFileOps ops(2, ENOSPC, sticky);
        ScopedFileOps scoped(ops);
        UniqueFd fd(fileOps().open(dir.file("f").c_str(), O_RDWR | O_CREAT, 0644));  // call 1
        ASSERT_TRUE(fd.valid());
        errno = 0;
        EXPECT_FALSE(qmxfile::writeFully(fd.get(), "abc", 3, 0));  // call 2
        EXPECT_EQ(errno, ENOSPC);
        EXPECT_EQ(ops.failedCall(), "pwrite");
        EXPECT_EQ(qmxfile::writeFully(fd.get(), "abc", 3, 0), !sticky);  // call 3
        EXPECT_EQ(ops.failures(), sticky ? 2u : 1u);
        // A failed close still releases the descriptor, as on Linux.
        const int raw = fd.get();
        EXPECT_EQ(fd.reset(), !sticky);
        EXPECT_EQ(::fcntl(raw, F_GETFD), -1);
        EXPECT_EQ(ops.calls(), 4u);
    }
    // Out of scope, the real calls are back.
    EXPECT_EQ(&fileOps(), &qmxfile::posixFileOps());
}

TEST(FailingFileOps, CountsWithoutFailing) {
    const TempDir dir;
    FailingFileOps ops(0, EIO, true);
    ScopedFileOps scoped(ops);
    UniqueFd fd(fileOps().open(dir.file("f").c_str(), O_RDWR | O_CREAT, 0644));
    EXPECT_TRUE(qmxfile::writeFully(fd.get(), "abc", 3, 0));
    EXPECT_TRUE(qmxfile::syncData(fd.get()));
    EXPECT_EQ(ops.calls(), 3u);
    EXPECT_EQ(ops.failures(), 0u);
    EXPECT_TRUE(ops.failedCall().empty());
}

}  // namespace
}  // namespace Quellmar::testing
