// The journal file outlives its transactions: a commit clears its header and leaves it for the
// next one. What a cleared or reused journal may hold must never be rolled back, and what the
// file library learnt about a file is handed from one open to the next only while nothing
// changed the file.
#include "FailingFileOps.h"
#include "FileOps.h"
#include "JournalControl.h"
#include "Journal.h"
#include "JournaledFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace qf = Quellmar::qmxfile;
namespace jr = Quellmar::qmxfile::journal;
using Quellmar::testing::fileSize;
using Quellmar::testing::readFile;
using Quellmar::testing::ScopedFileOps;
using Quellmar::testing::TempDir;
using Quellmar::testing::writeFile;

constexpr std::size_t kPage = jr::kPageSize;

std::string pages(std::size_t count, char fill) {
    return std::string(count * kPage, fill);
}

std::unique_ptr<qf::JournaledFile> openFile(const std::string& name, unsigned flags) {
    std::string error;
    auto file = qf::JournaledFile::open(name, flags, error);
    EXPECT_NE(file, nullptr) << error;
    return file;
}

bool put(qf::JournaledFile& file, std::size_t at, const std::string& bytes) {
    return file.write(at, bytes.size(), bytes.data());
}

// Which calls fail: the call's name, descriptor, size and offset.
using Failing = std::function<bool(const char* call, int fd, size_t size, off_t offset)>;

// The real calls, with one kind of call made to fail while `failing` says so.
class Faulty : public qf::FileOps {
public:
    Failing failing;
    // fstat answers with frozen times: a file system whose times do not move within a tick.
    bool frozenTimes = false;

    int open(const char* path, int flags, mode_t mode) override {
        if (fails("open", -1, 0, flags))
            return -1;
        return real().open(path, flags, mode);
    }
    int close(int fd) override { return real().close(fd); }
    ssize_t pread(int fd, void* buffer, size_t size, off_t offset) override {
        return real().pread(fd, buffer, size, offset);
    }
    ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) override {
        if (fails("pwrite", fd, size, offset))
            return -1;
        return real().pwrite(fd, buffer, size, offset);
    }
    int fdatasync(int fd) override {
        if (fails("fdatasync", fd, 0, 0))
            return -1;
        return real().fdatasync(fd);
    }
    int fsync(int fd) override { return real().fsync(fd); }
    int ftruncate(int fd, off_t length) override {
        if (fails("ftruncate", fd, 0, length))
            return -1;
        return real().ftruncate(fd, length);
    }
    int flock(int fd, int operation) override { return real().flock(fd, operation); }
    int fstat(int fd, struct stat* st) override {
        if (fails("fstat", fd, 0, 0))
            return -1;
        const int rc = real().fstat(fd, st);
        if (rc == 0 && frozenTimes)
            st->st_mtim = st->st_ctim = timespec{1, 0};
        return rc;
    }
    int stat(const char* path, struct stat* st) override {
        const int rc = real().stat(path, st);
        if (rc == 0 && frozenTimes)
            st->st_mtim = st->st_ctim = timespec{1, 0};
        return rc;
    }
    int unlink(const char* path) override { return real().unlink(path); }
    int rename(const char* from, const char* to) override { return real().rename(from, to); }

private:
    static qf::FileOps& real() { return qf::posixFileOps(); }
    bool fails(const char* call, int fd, size_t size, off_t offset) {
        if (!failing || !failing(call, fd, size, offset))
            return false;
        errno = EIO;
        return true;
    }
};

// Puts syncing back on (the default) when a test that turned it off ends, however it ends.
struct SyncRestored {
    ~SyncRestored() { qf::setJournalSync(true); }
};

// A descriptor's path, to tell the journal's calls from the container's.
std::string pathOf(int fd) {
    char buffer[4096];
    const ssize_t n =
        ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}
bool isJournal(int fd) {
    const std::string path = pathOf(fd);
    return path.size() > 8 && path.compare(path.size() - 8, 8, "-journal") == 0;
}

// Changes a page and appends, then commits with the writes `failing` picks failing. The commit's
// error.
std::string commitFailing(const std::string& name, Faulty& faulty, const Failing& failing) {
    ScopedFileOps layer(faulty);
    auto file = openFile(name, qf::kOpenReadWrite);
    EXPECT_TRUE(put(*file, 3 * kPage, pages(1, 'c')));
    EXPECT_TRUE(put(*file, 8 * kPage, "appended"));
    faulty.failing = failing;
    EXPECT_FALSE(file->commit());
    faulty.failing = nullptr;
    return file->error();
}

// The journal's clearing fails (as a power loss would drop it): the container holds the commit
// and the journal stays sealed.
std::string commitLosingTheClearing(const std::string& name, Faulty& faulty) {
    return commitFailing(name, faulty, [](const char* call, int fd, size_t size, off_t offset) {
        return std::strcmp(call, "pwrite") == 0 && isJournal(fd) && offset == 0 &&
               size == jr::kSectorSize;
    });
}

TEST(JournalReuse, CommitClearsTheHeaderAndKeepsTheFile) {
    TempDir dir;
    const std::string name = dir.file("c.qmz");
    writeFile(name, pages(4, 'a'));
    auto file = openFile(name, qf::kOpenReadWrite);
    ASSERT_TRUE(put(*file, 100, "first"));
    ASSERT_TRUE(file->commit());
    const long long kept = fileSize(jr::journalName(name));
    EXPECT_GT(kept, static_cast<long long>(jr::kHeaderSize))
        << "the journal and its old record stay";
    EXPECT_FALSE(jr::holdsTransaction(name));
    const std::string head = readFile(jr::journalName(name)).substr(0, jr::kHeaderSize);
    EXPECT_EQ(head, std::string(jr::kHeaderSize, '\0'));
    // The next transaction of the same open reuses it.
    ASSERT_TRUE(put(*file, 2 * kPage, "second"));
    ASSERT_TRUE(file->commit());
    EXPECT_FALSE(jr::holdsTransaction(name));
    file.reset();
    const std::string bytes = readFile(name);
    EXPECT_EQ(bytes.substr(100, 5), "first");
    EXPECT_EQ(bytes.substr(2 * kPage, 6), "second");
}

// A transaction cut short before its container was written is rolled back at the next open,
// and only its own records count: the longer tail of an earlier transaction behind them is not
// applied.
TEST(JournalReuse, StaleRecordsOfAnEarlierTransactionAreNotRolledBack) {
    TempDir dir;
    const std::string name = dir.file("c.qmz");
    writeFile(name, pages(8, 'a'));
    {
        auto file = openFile(name, qf::kOpenReadWrite);
        ASSERT_TRUE(put(*file, 0, pages(8, 'b')));
        ASSERT_TRUE(file->commit());
    }
    ASSERT_GT(fileSize(jr::journalName(name)), static_cast<long long>(8 * kPage))
        << "eight old records stay";
    Faulty faulty;
    commitFailing(name, faulty, [](const char* call, int fd, size_t, off_t offset) {
        return std::strcmp(call, "pwrite") == 0 && !isJournal(fd) && offset == 3 * kPage;
    });
    EXPECT_TRUE(jr::holdsTransaction(name));
    auto file = openFile(name, 0);
    EXPECT_EQ(readFile(name), pages(8, 'b')) << "rolled back to the committed state, no further";
}

// With syncs on, the commit seals its journal and does not sync the journal's clearing: when
// the clearing is lost (here: it fails, as it would be dropped by a power loss), the next open
// finds the container matching the seal and keeps the committed transaction. Without syncs
// nothing is sealed and such a journal rolls the transaction back.
TEST(JournalReuse, ACommitWhoseClearingIsLostIsKeptOnlyWhenSealed) {
    for (bool synced : {true, false}) {
        TempDir dir;
        const std::string name = dir.file("c.qmz");
        writeFile(name, pages(8, 'a'));
        const SyncRestored restore;
        qf::setJournalSync(synced);
        Faulty faulty;
        const std::string error = commitLosingTheClearing(name, faulty);
        EXPECT_NE(error.find("cannot clear the journal of " + name), std::string::npos) << error;
        qf::setJournalSync(true);
        ASSERT_TRUE(jr::holdsTransaction(name));
        std::string committed = pages(8, 'a');
        committed.replace(3 * kPage, kPage, pages(1, 'c'));
        committed += "appended";
        ASSERT_EQ(readFile(name), committed);
        // Bytes a later transaction appended without syncing them are not part of the commit.
        writeFile(name, committed + "later, unsynced");
        auto file = openFile(name, 0);
        EXPECT_EQ(readFile(name), synced ? committed : pages(8, 'a'))
            << (synced ? "sealed" : "not sealed");
        EXPECT_FALSE(jr::holdsTransaction(name));
    }
}

// The same journal, left sealed, rolls back when the container does not match its seal: the
// crash came before the container's sync.
TEST(JournalReuse, AContainerThatDoesNotMatchTheSealIsRolledBack) {
    for (std::size_t damaged : {3 * kPage + 7, 8 * kPage + 2}) {
        TempDir dir;
        const std::string name = dir.file("c.qmz");
        writeFile(name, pages(8, 'a'));
        Faulty faulty;
        commitLosingTheClearing(name, faulty);
        std::string bytes = readFile(name);
        bytes[damaged] = 'x';  // a page or an appended byte that never reached the disk
        writeFile(name, bytes);
        auto file = openFile(name, 0);
        EXPECT_EQ(readFile(name), pages(8, 'a')) << "damaged at " << damaged;
    }
}

TEST(JournalReuse, SealRoundTripsAndRejectsDamage) {
    jr::Header header;
    header.version = jr::kSealedVersion;
    header.originalLength = 5 * kPage;
    header.salt = 1234;
    jr::Seal seal;
    seal.newLength = 6 * kPage + 10;
    seal.content = 0xdeadbeef;
    seal.pages = {0, 3 * kPage};
    const std::vector<unsigned char> bytes = jr::encodeSeal(header, seal);
    ASSERT_LE(bytes.size(), jr::kSectorSize - jr::kHeaderSize);
    const auto back = jr::decodeSeal(header, bytes.data(), bytes.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->newLength, seal.newLength);
    EXPECT_EQ(back->content, seal.content);
    EXPECT_EQ(back->pages, seal.pages);

    EXPECT_FALSE(jr::decodeSeal(header, bytes.data(), bytes.size() - 1)) << "torn";
    for (std::size_t i : {0u, 9u, 17u, 21u, 30u, 41u}) {
        std::vector<unsigned char> bad = bytes;
        bad[i] ^= 0x20;
        EXPECT_FALSE(jr::decodeSeal(header, bad.data(), bad.size())) << "flipped byte " << i;
    }
    jr::Header other = header;
    other.salt = 1235;
    EXPECT_FALSE(jr::decodeSeal(other, bytes.data(), bytes.size())) << "another journal's seal";
    std::vector<unsigned char> many = bytes;
    many[16] = static_cast<unsigned char>(jr::kMaxSealedPages + 1);
    many.resize(jr::kSectorSize, 0);
    EXPECT_FALSE(jr::decodeSeal(header, many.data(), many.size()))
        << "more pages than a sector holds";

    // Pages past either length count only below both; appended bytes follow.
    std::string container = pages(6, 'p') + "0123456789";
    std::string read;
    const auto content =
        jr::contentChecksum(header, seal, [&](uint64_t at, size_t size, unsigned char* out) {
            std::memcpy(out, container.data() + at, size);
            read += std::to_string(at) + "+" + std::to_string(size) + " ";
            return true;
        });
    ASSERT_TRUE(content);
    EXPECT_EQ(read, "0+4096 12288+4096 20480+4096 24576+10 ");
    EXPECT_FALSE(jr::contentChecksum(header, seal, [](uint64_t, size_t, unsigned char*) {
        return false;
    })) << "an unreadable container matches no seal";
}

// A sealed journal left behind by a commit whose clearing was lost, over the container it sealed.
class LeftSealed : public ::testing::Test {
protected:
    void SetUp() override {
        name = dir.file("c.qmz");
        writeFile(name, pages(8, 'a'));
        commitLosingTheClearing(name, faulty);
        committed = readFile(name);
        ASSERT_TRUE(jr::holdsTransaction(name));
    }

    TempDir dir;
    std::string name;
    std::string committed;
    Faulty faulty;
};

TEST_F(LeftSealed, AContainerShorterThanTheSealIsRolledBack) {
    writeFile(name, committed.substr(0, committed.size() - 3));
    auto file = openFile(name, 0);
    EXPECT_EQ(readFile(name), pages(8, 'a'));
}

TEST_F(LeftSealed, FailuresKeepingTheCommitLeaveTheJournalForTheNextOpen) {
    writeFile(name, committed + "later");
    for (const char* call : {"ftruncate", "fdatasync"}) {
        ScopedFileOps layer(faulty);
        faulty.failing = [call](const char* made, int fd, size_t, off_t) {
            return std::strcmp(made, call) == 0 && !isJournal(fd);
        };
        std::string error;
        EXPECT_EQ(qf::JournaledFile::open(name, 0, error), nullptr) << call;
        EXPECT_NE(error.find(std::strcmp(call, "ftruncate") == 0
                                 ? "cannot cut " + name + " to its committed length"
                                 : "cannot sync " + name),
                  std::string::npos)
            << error;
        faulty.failing = nullptr;
        EXPECT_TRUE(jr::holdsTransaction(name)) << "recovery is tried again";
    }
    auto file = openFile(name, 0);
    EXPECT_EQ(readFile(name), committed);
}

// A sealed commit syncs twice (journal, container); one that changed more pages than a seal
// lists syncs its journal's clearing too.
TEST(JournalReuse, SealedCommitsSyncTwice) {
    for (std::size_t changed : {std::size_t{2}, jr::kMaxSealedPages + 1}) {
        TempDir dir;
        const std::string name = dir.file("c.qmz");
        writeFile(name, pages(100, 'a'));
        Faulty faulty;
        ScopedFileOps layer(faulty);
        auto file = openFile(name, qf::kOpenReadWrite);
        ASSERT_TRUE(put(*file, 0, pages(changed, 'b')));
        ASSERT_TRUE(file->commit()) << "journal file made durable once";
        ASSERT_TRUE(put(*file, 0, pages(changed, 'c')));
        int syncs = 0;
        faulty.failing = [&](const char* call, int, size_t, off_t) {
            syncs += std::strcmp(call, "fdatasync") == 0;
            return false;
        };
        ASSERT_TRUE(file->commit());
        faulty.failing = nullptr;
        EXPECT_EQ(syncs, changed <= jr::kMaxSealedPages ? 2 : 3) << changed << " pages";
    }
}

// HDF5 rewrites the superblock unchanged at every writable close. A commit that reached no
// byte of the file syncs nothing; bytes an unsynced commit left are synced by the next synced
// commit, even one with no changes of its own.
TEST(JournalReuse, OnlyCommitsThatReachedTheFileSync) {
    TempDir dir;
    const std::string name = dir.file("c.qmz");
    writeFile(name, pages(8, 'a'));
    const SyncRestored restore;
    Faulty faulty;
    ScopedFileOps layer(faulty);
    int syncs = 0;
    faulty.failing = [&](const char* call, int, size_t, off_t) {
        syncs += std::strcmp(call, "fdatasync") == 0;
        return false;
    };
    auto file = openFile(name, qf::kOpenReadWrite);
    ASSERT_TRUE(put(*file, 0, pages(1, 'a')));
    ASSERT_TRUE(file->commit());
    EXPECT_EQ(syncs, 0) << "a page written back as it was";

    qf::setJournalSync(false);
    ASSERT_TRUE(put(*file, kPage, pages(1, 'b')));
    ASSERT_TRUE(file->commit());
    EXPECT_EQ(syncs, 0) << "flushing off";
    qf::setJournalSync(true);
    ASSERT_TRUE(put(*file, 0, pages(1, 'a')));
    ASSERT_TRUE(file->commit());
    EXPECT_EQ(syncs, 1) << "the unsynced commit before";
    ASSERT_TRUE(file->commit());
    EXPECT_EQ(syncs, 1) << "nothing left to sync";
    file.reset();
    std::string expected = pages(8, 'a');
    expected.replace(kPage, kPage, pages(1, 'b'));
    EXPECT_EQ(readFile(name), expected);
}

TEST(JournalReuse, ALargeJournalIsCutAtTheCommit) {
    TempDir dir;
    const std::string name = dir.file("c.qmz");
    writeFile(name, pages(300, 'a'));
    auto file = openFile(name, qf::kOpenReadWrite);
    ASSERT_TRUE(put(*file, 0, pages(300, 'b')));
    ASSERT_TRUE(file->commit());
    EXPECT_EQ(fileSize(jr::journalName(name)), 0) << "over 1 MiB of records are not kept";
    ASSERT_TRUE(put(*file, 0, pages(1, 'c')));
    ASSERT_TRUE(file->commit());
    EXPECT_GT(fileSize(jr::journalName(name)), 0);
    EXPECT_FALSE(jr::holdsTransaction(name));
}

TEST(JournalReuse, AFailedCutLeavesTheTransactionToRollBack) {
    TempDir dir;
    const std::string name = dir.file("c.qmz");
    writeFile(name, pages(300, 'a'));
    Faulty faulty;
    {
        ScopedFileOps layer(faulty);
        auto file = openFile(name, qf::kOpenReadWrite);
        ASSERT_TRUE(put(*file, 0, pages(300, 'b')));
        faulty.failing = [](const char* call, int fd, size_t, off_t) {
            return std::strcmp(call, "ftruncate") == 0 && isJournal(fd);
        };
        EXPECT_FALSE(file->commit());
        EXPECT_NE(file->error().find("cannot clear the journal of"), std::string::npos)
            << file->error();
        faulty.failing = nullptr;
    }
    auto file = openFile(name, 0);
    EXPECT_EQ(readFile(name), pages(300, 'a'));
}

TEST(JournalReuse, OnlyAnIntactHeaderHoldsATransaction) {
    TempDir dir;
    const std::string name = dir.file("c.qmz");
    const std::string journal = jr::journalName(name);
    EXPECT_FALSE(jr::holdsTransaction(name)) << "no journal";
    writeFile(journal, "");
    EXPECT_FALSE(jr::holdsTransaction(name)) << "empty";
    jr::Header header;
    header.originalLength = 4 * kPage;
    header.salt = 99;
    unsigned char bytes[jr::kHeaderSize];
    jr::encodeHeader(header, bytes);
    const std::string intact(reinterpret_cast<char*>(bytes), sizeof bytes);
    writeFile(journal, intact + pages(1, 'x'));
    EXPECT_TRUE(jr::holdsTransaction(name));
    std::string torn = intact;
    torn[30] ^= 1;
    writeFile(journal, torn);
    EXPECT_FALSE(jr::holdsTransaction(name)) << "a header that is not whole protected nothing";
    writeFile(journal, std::string(jr::kHeaderSize, '\0') + pages(1, 'x'));
    EXPECT_FALSE(jr::holdsTransaction(name)) << "cleared";
    std::string foreign = intact;
    foreign[8] = 7;  // version 7, checksum made to match
    const uint32_t crc = jr::checksum(foreign.data(), 40);
    for (int i = 0; i < 4; ++i)
        foreign[40 + i] = static_cast<char>(crc >> (8 * i));
    writeFile(journal, foreign);
    EXPECT_TRUE(jr::holdsTransaction(name)) << "another version's journal is left for it";
    ASSERT_EQ(::unlink(journal.c_str()), 0);
    ASSERT_EQ(::mkdir(journal.c_str(), 0755), 0);
    EXPECT_TRUE(jr::holdsTransaction(name)) << "an unreadable journal is for recovery to report";
}

// --- What the file library learnt about a file, handed from one open to the next ---

// Whether this file system gives every write a new change time, asked without the library.
bool timesMoveOnEveryChange(const std::string& scratch) {
    const int fd = ::open(scratch.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    struct stat before {};
    bool moved = ::fstat(fd, &before) == 0;
    for (int round = 0; round < 3 && moved; ++round) {
        struct stat after {};
        moved = ::pwrite(fd, "x", 1, 0) == 1 && ::fstat(fd, &after) == 0 &&
                (after.st_ctim.tv_sec != before.st_ctim.tv_sec ||
                 after.st_ctim.tv_nsec != before.st_ctim.tv_nsec);
        before = after;
    }
    ::close(fd);
    ::unlink(scratch.c_str());
    return moved;
}

class Remembered : public ::testing::Test {
protected:
    void SetUp() override {
        name = dir.file("c.qmz");
        writeFile(name, pages(4, 'a'));
    }
    // A session that changes the file, remembers `what` and ends with a commit.
    void commitRemembering(const std::shared_ptr<void>& what, char fill = 'b') {
        auto file = openFile(name, qf::kOpenReadWrite);
        ASSERT_TRUE(put(*file, kPage, pages(1, fill)));
        file->remembered() = what;
        ASSERT_TRUE(file->commit());
        file->keepRemembered();
    }
    std::shared_ptr<void> rememberedAtOpen(unsigned flags = 0) {
        auto file = openFile(name, flags);
        return file ? file->remembered() : nullptr;
    }
    bool fine() const {
        struct stat st {};
        return ::stat(name.c_str(), &st) == 0 && qf::changeTimesProvenFine(st.st_dev);
    }

    TempDir dir;
    std::string name;
    std::shared_ptr<void> marker = std::make_shared<int>(7);
};

TEST_F(Remembered, HandedToTheNextOpenOfTheUnchangedFileOnce) {
    commitRemembering(marker);
    if (!fine()) {
        // A file system whose times stay within a tick cannot prove a file unchanged.
        EXPECT_EQ(rememberedAtOpen(), nullptr);
        return;
    }
    {
        auto reader = openFile(name, 0);
        EXPECT_EQ(reader->remembered(), marker);
        reader->keepRemembered();  // a reader changed nothing: it hands it on
    }
    {
        auto writer = openFile(name, qf::kOpenReadWrite);
        EXPECT_EQ(writer->remembered(), marker);
        // Ends without keeping it (a session that did not commit).
    }
    EXPECT_EQ(rememberedAtOpen(), nullptr) << "what one session left is taken once";
}

TEST_F(Remembered, NotHandedOnWhenTheFileChangedInBetween) {
    commitRemembering(marker);
    {
        std::fstream out(name, std::ios::in | std::ios::out | std::ios::binary);
        out.seekp(3 * kPage);
        out.put('z');  // same size, in place
    }
    EXPECT_EQ(rememberedAtOpen(), nullptr) << "changed in place";

    commitRemembering(marker, 'c');
    writeFile(name, readFile(name) + "tail");
    EXPECT_EQ(rememberedAtOpen(), nullptr) << "grown";

    commitRemembering(marker, 'd');
    ASSERT_EQ(::link(name.c_str(), (name + ".second").c_str()), 0);
    ASSERT_EQ(::unlink((name + ".second").c_str()), 0);
    EXPECT_EQ(rememberedAtOpen(), nullptr) << "a link made and removed changes the change time";
}

TEST_F(Remembered, NotHandedOnFromASessionThatDidNotCommit) {
    Faulty faulty;
    {
        ScopedFileOps layer(faulty);
        commitRemembering(marker);  // teaches this layer's device how its times behave
        auto file = openFile(name, qf::kOpenReadWrite);
        file->remembered() = marker;
        faulty.failing = [](const char* call, int fd, size_t, off_t) {
            return std::strcmp(call, "pwrite") == 0 && !isJournal(fd);
        };
        EXPECT_FALSE(
            put(*file, 5 * kPage, "appended"));  // past the end: written at once, and fails
        faulty.failing = nullptr;
        EXPECT_FALSE(file->commit());
        file->keepRemembered();
        file.reset();
        EXPECT_EQ(rememberedAtOpen(qf::kOpenReadWrite), nullptr);
    }
}

TEST_F(Remembered, NotHandedOnWhereTimesAreCoarse) {
    Faulty faulty;
    faulty.frozenTimes = true;
    ScopedFileOps layer(faulty);
    commitRemembering(marker);
    struct stat st {};
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    EXPECT_FALSE(qf::changeTimesProvenFine(st.st_dev));
    EXPECT_EQ(rememberedAtOpen(), nullptr);
}

// A state that cannot be read at the end of a session proves nothing: each fstat of the commit
// and of the hand-over fails in turn.
TEST_F(Remembered, NotHandedOnWhenTheStateCannotBeRead) {
    // The probe of how times behave reads the state 4 times; then the hand-over once.
    for (int allowed : {0, 1, 4}) {
        Faulty faulty;
        ScopedFileOps layer(faulty);  // a new layer: nothing learnt about times yet
        auto file = openFile(name, qf::kOpenReadWrite);
        ASSERT_TRUE(put(*file, kPage, pages(1, static_cast<char>('b' + allowed))));
        file->remembered() = marker;
        int seen = 0;
        faulty.failing = [&](const char* call, int, size_t, off_t) {
            return std::strcmp(call, "fstat") == 0 && seen++ >= allowed;
        };
        ASSERT_TRUE(file->commit());
        file->keepRemembered();
        faulty.failing = nullptr;
        file.reset();
        EXPECT_EQ(rememberedAtOpen(), nullptr) << allowed << " fstat calls allowed";
    }
}

// A process that only reads never commits to a journal: it proves its device's times on an
// unnamed file beside the container, and where it cannot make one nothing is handed on.
TEST_F(Remembered, AReaderAloneProvesTimesBesideTheFile) {
    for (bool mayMake : {true, false}) {
        Faulty faulty;
        ScopedFileOps layer(faulty);  // a new layer: nothing learnt about times yet
        if (!mayMake)
            faulty.failing = [](const char* call, int, size_t, off_t flags) {
                return std::strcmp(call, "open") == 0 && (flags & O_TMPFILE) == O_TMPFILE;
            };
        {
            auto reader = openFile(name, 0);
            ASSERT_NE(reader, nullptr);
            reader->remembered() = marker;
            reader->keepRemembered();
        }
        if (mayMake && !timesMoveOnEveryChange(dir.file("times"))) {
            EXPECT_EQ(rememberedAtOpen(), nullptr) << "times within a tick prove nothing";
            continue;
        }
        EXPECT_EQ(fine(), mayMake);
        EXPECT_EQ(rememberedAtOpen(), mayMake ? marker : nullptr) << mayMake;
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().rfind("c.qmz", 0), 0u) << entry.path();
}

TEST_F(Remembered, ATruncatingOpenStartsWithNothing) {
    commitRemembering(marker);
    EXPECT_EQ(rememberedAtOpen(qf::kOpenReadWrite | qf::kOpenTruncate | qf::kOpenCreate), nullptr);
}

}  // namespace
