// Commits while other opens of the file in the process keep HDF5's file open, a second session
// after such a commit, and closes whose commit fails: what a killed process leaves behind, and
// that a failed close neither claims success nor brings the process down at exit.
#include "ChildProcess.h"
#include "TestFiles.h"

#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <functional>

using namespace Quellmar::testing;

namespace {

// Runs `work` in a child. killAtEnd: the child SIGKILLs itself after `work` (a crash), else it
// exits normally, through HDF5's shutdown. Returns the exit code, or 128 + the signal.
int inChild(const std::function<int()>& work, bool killAtEnd) {
    return runInChild(
        [&] {
            const int rc = work();
            if (killAtEnd && rc == 0)
                dieNow();
            return rc;
        },
        ChildEnd::Exit);
}

std::string payload(char c, size_t n) {
    return std::string(n, c);
}

int put(int file, const char* name, const std::string& bytes) {
    return QMXLcreateCompressedOpaqueData(file, "/g", name, 0, 0,
                                          static_cast<long long>(bytes.size()), bytes.data());
}

// The object's bytes in a closed file, or "<absent>".
std::string stored(const std::string& path, const char* name) {
    const int file = QMXLopenFileReadOnly(path.c_str());
    if (file <= 0)
        return "<unopenable: " + lastError() + ">";
    std::string result = "<absent>";
    long long size = 0;
    if (QMXLgetSizeOfOpaqueData(file, "/g", name, &size) > 0) {
        result.assign(static_cast<size_t>(size), '\0');
        if (QMXLreadOpaqueData(file, "/g", name, result.data()) <= 0)
            result = "<unreadable>";
    }
    QMXLcloseFile(file);
    return result;
}

std::string makeContainer(const TempDir& dir) {
    const std::string path = dir.file("c.qmz");
    const int file = QMXLcreateFile(path.c_str());
    EXPECT_GT(file, 0);
    const int group = QMXLcreateOpaqueDataGroup(file, "/g");
    EXPECT_GT(group, 0);
    QMXLcloseObject(group);
    EXPECT_EQ(put(file, "base", payload('b', 3000)), 1);
    EXPECT_OK(QMXLcloseFile(file));
    return path;
}

}  // namespace

TEST(CommitNow, DurableWhileAnotherOpenKeepsTheFileAndTheNextSessionStaysUndoable) {
    TempDir dir;
    const std::string path = makeContainer(dir);
    const int rc = inChild(
        [&] {
            const int other = QMXLcreateFile((path + ".other").c_str());  // not counted
            const int writer = QMXLopenFile(path.c_str());
            const int reader = QMXLopenFileReadOnly(path.c_str());  // shares HDF5's open file
            if (other <= 0 || writer <= 0 || reader <= 0)
                return 2;
            if (QMXLgetFileOpenCount(writer) != 2 || QMXLgetFileOpenCount(other) != 1)
                return 3;
            if (put(writer, "first", payload('1', 5000)) != 1)
                return 4;
            if (QMXLcommitFile(writer) != 1)
                return 5;
            if (QMXLcommitFile(reader) != 1)
                return 6;  // nothing to commit through a reader
            // A second session on the same open: it grows the file and overwrites pages the first
            // one committed; it must roll back to exactly the first commit.
            if (put(writer, "second", payload('2', 70000)) != 1)
                return 7;
            if (QMXLupdateOpaqueData(writer, "/g", "first", 5000, payload('x', 5000).data()) != 1)
                return 8;
            if (QMXLflushMetadata(writer) != 1)
                return 9;  // on disk, but not committed
            return 0;
        },
        true);
    ASSERT_EQ(rc, 128 + SIGKILL);
    EXPECT_EQ(stored(path, "base"), payload('b', 3000));
    EXPECT_EQ(stored(path, "first"), payload('1', 5000));
    EXPECT_EQ(stored(path, "second"), "<absent>");
}

TEST(CommitNow, WithoutItTheOtherOpenKeepsTheWorkUncommitted) {
    // The counterpart of the test above: closing one of two opens commits nothing.
    TempDir dir;
    const std::string path = makeContainer(dir);
    const int rc = inChild(
        [&] {
            const int writer = QMXLopenFile(path.c_str());
            const int reader = QMXLopenFileReadOnly(path.c_str());
            if (writer <= 0 || reader <= 0)
                return 2;
            if (put(writer, "first", payload('1', 5000)) != 1)
                return 4;
            if (QMXLcloseFile(writer) != 1)
                return 5;
            return QMXLgetFileOpenCount(reader) == 1 ? 0 : 6;
        },
        true);
    ASSERT_EQ(rc, 128 + SIGKILL);
    EXPECT_EQ(stored(path, "first"), "<absent>");
    EXPECT_EQ(stored(path, "base"), payload('b', 3000));
}

TEST(CommitNow, FailedCommitsAndClosesAreReportedAndTheProcessExitsCleanly) {
    TempDir dir;
    const std::string path = makeContainer(dir);
    const long long size = fileSize(path);
    const int rc = inChild(
        [&] {
            ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
            const int file = QMXLopenFile(path.c_str());
            if (file <= 0)
                return 2;
            const struct rlimit limit { static_cast<rlim_t>(size), static_cast<rlim_t>(size) };
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                return 3;
            put(file, "big", payload('z', 100000));  // may fail here already
            if (QMXLcommitFile(file) != -1)
                return 4;
            const std::string committed = lastError();
            if (committed.find("File too large") == std::string::npos) {
                std::fprintf(stderr, "commit: %s\n", committed.c_str());
                return 5;
            }
            if (QMXLcloseFile(file) != -1)
                return 6;
            const std::string closed = lastError();
            if (closed.find("without committing") == std::string::npos ||
                closed.find(path) == std::string::npos) {
                std::fprintf(stderr, "close: %s\n", closed.c_str());
                return 7;
            }
            return 0;  // exits through HDF5's shutdown, which used to close the file a second time
        },
        false);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(stored(path, "big"), "<absent>");
    EXPECT_EQ(stored(path, "base"), payload('b', 3000));
}

TEST(CommitNow, RefusesWhatIsNotAnOpenFile) {
    EXPECT_EQ(QMXLcommitFile(-1), -1);
    EXPECT_EQ(QMXLgetFileOpenCount(123456789), -1);
    EXPECT_FALSE(lastError().empty());
}
