// The rollback journal below the file library: its format, commits, rollback after a crashed
// writer (a forked child that exits without closing), removal of a file whose creation
// crashed, refused recovery of a file that cannot be written, and the "in use" refusal.
#include "DriverFile.h"
#include "Journal.h"
#include "TestFiles.h"

#include <cstring>
#include <functional>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Quellmar::testing::crashAfter;
using Quellmar::testing::DriverFile;
using Quellmar::testing::Fapl;
using Quellmar::testing::fileSize;
using Quellmar::testing::readFile;
using Quellmar::testing::TempDir;
using Quellmar::testing::writeFile;
namespace qf = Quellmar::qmxfile;
namespace jr = Quellmar::qmxfile::journal;

std::string randomBytes(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng());
    return s;
}

std::string journalOf(const std::string& name) {
    return name + "-journal";
}

// ---- Format -------------------------------------------------------------------------------

TEST(JournalFormat, HeaderRoundTripsAndRejectsDamage) {
    jr::Header h;
    h.created = true;
    h.originalLength = 0x123456789ULL;
    h.salt = 0xfeedfacecafebeefULL;
    unsigned char bytes[jr::kHeaderSize];
    jr::encodeHeader(h, bytes);
    auto back = jr::decodeHeader(bytes, sizeof bytes);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->created);
    EXPECT_EQ(back->originalLength, h.originalLength);
    EXPECT_EQ(back->salt, h.salt);
    EXPECT_EQ(back->pageSize, jr::kPageSize);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 8), "QMXJRNL1");

    EXPECT_FALSE(jr::decodeHeader(bytes, sizeof bytes - 1)) << "torn header";
    for (size_t i : {0u, 12u, 24u, 35u, 40u}) {
        unsigned char bad[jr::kHeaderSize];
        std::memcpy(bad, bytes, sizeof bad);
        bad[i] ^= 0x10;
        EXPECT_FALSE(jr::decodeHeader(bad, sizeof bad)) << "flipped byte " << i;
    }
}

TEST(JournalFormat, RecordsAreBoundToTheirJournalAndRange) {
    jr::Header h;
    h.originalLength = 3 * jr::kPageSize + 100;
    h.salt = 42;
    const std::string page = randomBytes(jr::kPageSize, 1);
    std::vector<unsigned char> out;
    jr::appendRecord(out, h.salt, jr::kPageSize,
                     reinterpret_cast<const unsigned char*>(page.data()), jr::kPageSize);
    ASSERT_EQ(out.size(), jr::kRecordHeaderSize + jr::kPageSize);
    unsigned char head[jr::kRecordHeaderSize];
    std::memcpy(head, out.data(), sizeof head);
    jr::RecordHeader r = jr::decodeRecordHeader(head);
    const unsigned char* data = out.data() + jr::kRecordHeaderSize;
    EXPECT_EQ(r.offset, jr::kPageSize);
    EXPECT_EQ(r.size, jr::kPageSize);
    EXPECT_TRUE(jr::recordIsValid(h, r, data));

    jr::Header otherSalt = h;
    otherSalt.salt = 43;
    EXPECT_FALSE(jr::recordIsValid(otherSalt, r, data)) << "record of an older journal";
    jr::Header shorter = h;
    shorter.originalLength = jr::kPageSize;
    EXPECT_FALSE(jr::recordIsValid(shorter, r, data)) << "page beyond the original length";
    out.back() ^= 1;
    EXPECT_FALSE(jr::recordIsValid(h, r, data)) << "torn data";
}

// ---- Commit and rollback at the driver level ------------------------------------------------

class JournalRollback : public ::testing::Test {
protected:
    void SetUp() override {
        name = dir.file("c.qmz");
        original = randomBytes(5 * jr::kPageSize + 123, 7);
        writeFile(name, original);
    }
    // Opening read-only rolls back whatever a crashed writer left.
    std::string reopenAndRead() {
        DriverFile f(name, H5F_ACC_RDONLY);
        if (!f.ok())
            return "<open failed: " + qf::lastJournalError() + ">";
        return readFile(name);
    }
    TempDir dir;
    std::string name;
    std::string original;
};

// A writer that dies after overwrites, after a shrink, or while re-creating the file: the next
// open brings back every original byte.
TEST_F(JournalRollback, CrashedSessionsRollBackToEveryOriginalByte) {
    struct Crash {
        const char* what;
        unsigned flags;
        std::function<bool(DriverFile&)> work;
    };
    const Crash crashes[] = {
        {"overwrites spanning pages, a page boundary, the original end and beyond", H5F_ACC_RDWR,
         [&](DriverFile& f) {
             return f.write(100, std::string(3 * jr::kPageSize, 'x')) &&
                    f.write(original.size() - 50, std::string(5000, 'y')) && f.flush() &&
                    f.write(0, "ZZZZ") && f.flush();
         }},
        {"a shrink, then writes across the new end", H5F_ACC_RDWR,
         [](DriverFile& f) {
             return f.write(jr::kPageSize + 1, "q") && f.truncateTo(700) &&
                    f.write(690, std::string(5000, 'r')) && f.flush();
         }},
        {"a truncating re-creation", H5F_ACC_RDWR | H5F_ACC_CREAT | H5F_ACC_TRUNC,
         [&](DriverFile& f) {
             return fileSize(name) == 0 && f.write(0, "new content") && f.flush();
         }},
    };
    for (const Crash& crash : crashes) {
        SCOPED_TRACE(crash.what);
        ASSERT_EQ(crashAfter([&] {
                      DriverFile& f = *new DriverFile(name, crash.flags);
                      return f.ok() && crash.work(f) ? 0 : 1;
                  }),
                  0);
        ASSERT_TRUE(readFile(name) != original) << "the child did change the container";
        ASSERT_GT(fileSize(journalOf(name)), 0);
        EXPECT_TRUE(reopenAndRead() == original);
        EXPECT_FALSE(jr::holdsTransaction(name)) << "no journal left to roll back";
    }
}

TEST_F(JournalRollback, CrashBeforeFlushLeavesOverwritesUnwrittenAndCutsAppends) {
    const int rc = crashAfter([&] {
        DriverFile& f = *new DriverFile(name, H5F_ACC_RDWR);
        if (!f.ok() || !f.write(5, "abc") || !f.write(original.size() + 10, "appended"))
            return 1;
        return 0;
    });
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(readFile(name).substr(0, original.size()) == original) << "overwrites held back";
    EXPECT_GT(fileSize(name), static_cast<long long>(original.size())) << "appends went through";
    EXPECT_TRUE(reopenAndRead() == original);
}

TEST_F(JournalRollback, ReadWriteOpenAlsoRecovers) {
    ASSERT_EQ(crashAfter([&] {
                  DriverFile& f = *new DriverFile(name, H5F_ACC_RDWR);
                  return f.ok() && f.write(0, std::string(9000, 'w')) && f.flush() ? 0 : 1;
              }),
              0);
    {
        DriverFile f(name, H5F_ACC_RDWR);
        ASSERT_TRUE(f.ok());
        EXPECT_TRUE(f.read(0, 100) == original.substr(0, 100));
    }
    EXPECT_TRUE(readFile(name) == original);
}

TEST_F(JournalRollback, TornJournalTailIsIgnoredAndTornHeaderDiscarded) {
    // A journal as a writer leaves it when it dies while appending its second record: the
    // first page was overwritten, the second was not.
    jr::Header h;
    h.originalLength = original.size();
    h.salt = 99;
    unsigned char head[jr::kHeaderSize];
    jr::encodeHeader(h, head);
    std::vector<unsigned char> j(head, head + sizeof head);
    jr::appendRecord(j, h.salt, 0, reinterpret_cast<const unsigned char*>(original.data()),
                     jr::kPageSize);
    std::vector<unsigned char> second;
    jr::appendRecord(second, h.salt, jr::kPageSize,
                     reinterpret_cast<const unsigned char*>(original.data()) + jr::kPageSize,
                     jr::kPageSize);
    j.insert(j.end(), second.begin(), second.begin() + 1000);
    writeFile(journalOf(name), std::string(j.begin(), j.end()));
    std::string damaged = original;
    damaged.replace(0, 50, std::string(50, '#'));
    damaged += "appended";
    writeFile(name, damaged);
    EXPECT_TRUE(reopenAndRead() == original);
    EXPECT_FALSE(jr::holdsTransaction(name)) << "no journal left to roll back";

    // A header torn before it was whole: the container was never touched after it.
    writeFile(journalOf(name), std::string(reinterpret_cast<char*>(head), 20));
    const std::string committed = original + "later commit";
    writeFile(name, committed);
    EXPECT_TRUE(reopenAndRead() == committed);
    EXPECT_FALSE(jr::holdsTransaction(name)) << "no journal left to roll back";
}

// Reads during a session come through the driver's cache, the held-back overwrites and the
// file; whatever the mix, they must show exactly the session's bytes, and a commit must leave
// exactly those on disk.
TEST_F(JournalRollback, SessionReadsAlwaysShowTheSessionsBytes) {
    std::mt19937 rng(11);
    auto pick = [&](size_t limit) { return std::uniform_int_distribution<size_t>(0, limit)(rng); };
    std::string model = original;
    {
        DriverFile f(name, H5F_ACC_RDWR);
        ASSERT_TRUE(f.ok());
        for (int step = 0; step < 600; ++step) {
            const size_t op = pick(9);
            if (op < 4) {
                const size_t at = pick(model.size() + 100);
                const size_t size = pick(op == 0 ? 40000 : 500);
                std::string want(size, '\0');
                for (size_t i = 0; i < size; ++i)
                    if (at + i < model.size())
                        want[i] = model[at + i];
                ASSERT_TRUE(f.read(at, size) == want) << "step " << step;
            } else if (op < 8) {
                const size_t at = pick(model.size() + 100);
                const std::string bytes = randomBytes(pick(op == 4 ? 9000 : 300), unsigned(step));
                ASSERT_TRUE(f.write(at, bytes));
                if (model.size() < at + bytes.size())
                    model.resize(at + bytes.size(), '\0');
                model.replace(at, bytes.size(), bytes);
            } else if (op == 8) {
                ASSERT_TRUE(f.flush());
            } else {
                const size_t length = pick(model.size());
                ASSERT_TRUE(f.truncateTo(length));
                model.resize(length);
            }
        }
        ASSERT_TRUE(f.close());
    }
    EXPECT_TRUE(readFile(name) == model);
    EXPECT_FALSE(jr::holdsTransaction(name)) << "no journal left to roll back";
}

TEST_F(JournalRollback, JournalOfAnotherVersionIsLeftAlone) {
    jr::Header h;
    h.originalLength = 10;
    unsigned char head[jr::kHeaderSize];
    jr::encodeHeader(h, head);
    head[8] = 77;  // a format version this build does not know, with an intact checksum
    const uint32_t crc = jr::checksum(head, 40);
    for (int i = 0; i < 4; ++i)
        head[40 + i] = static_cast<unsigned char>(crc >> (8 * i));
    ASSERT_TRUE(jr::isForeignVersion(head, sizeof head));
    const std::string journal(reinterpret_cast<char*>(head), sizeof head);
    writeFile(journalOf(name), journal);
    DriverFile f(name, H5F_ACC_RDONLY);
    EXPECT_FALSE(f.ok());
    EXPECT_NE(qf::lastJournalError().find("another version of the library"), std::string::npos)
        << qf::lastJournalError();
    EXPECT_TRUE(readFile(name) == original) << "not cut to the foreign journal's length";
    EXPECT_TRUE(readFile(journalOf(name)) == journal);
}

// ---- Creation -----------------------------------------------------------------------------

TEST(JournalCreation, FileCreatedByACrashedSessionIsRemovedAgain) {
    TempDir dir;
    const std::string name = dir.file("new.qmz");
    ASSERT_EQ(crashAfter([&] {
                  DriverFile& f =
                      *new DriverFile(name, H5F_ACC_RDWR | H5F_ACC_CREAT | H5F_ACC_EXCL);
                  return f.ok() && f.write(0, std::string(10000, 'n')) && f.flush() ? 0 : 1;
              }),
              0);
    ASSERT_EQ(fileSize(name), 10000);
    {
        DriverFile f(name, H5F_ACC_RDONLY);
        EXPECT_FALSE(f.ok()) << "the file never came to exist";
        EXPECT_NE(qf::lastJournalError().find("No such file"), std::string::npos)
            << qf::lastJournalError();
    }
    EXPECT_EQ(fileSize(name), -1);
    EXPECT_FALSE(jr::holdsTransaction(name)) << "no journal left to roll back";

    // A creation that died before even making the container leaves a journal only.
    writeFile(journalOf(name), "");
    {
        DriverFile f(name, H5F_ACC_RDWR | H5F_ACC_CREAT | H5F_ACC_EXCL);
        ASSERT_TRUE(f.ok()) << qf::lastJournalError();
        EXPECT_TRUE(f.write(0, "fresh"));
    }
    EXPECT_EQ(readFile(name), "fresh");
    EXPECT_FALSE(jr::holdsTransaction(name)) << "no journal left to roll back";
}

TEST(JournalCreation, ExclusiveCreateOfAnExistingFileIsRefusedAndLeavesItAlone) {
    TempDir dir;
    const std::string name = dir.file("x.qmz");
    writeFile(name, "keep me");
    DriverFile f(name, H5F_ACC_RDWR | H5F_ACC_CREAT | H5F_ACC_EXCL);
    EXPECT_FALSE(f.ok());
    EXPECT_EQ(readFile(name), "keep me");
    EXPECT_FALSE(jr::holdsTransaction(name)) << "no journal left to roll back";
}

// ---- Refusals -----------------------------------------------------------------------------

TEST(JournalRefusal, RecoveryOfAFileThatCannotBeWrittenIsRefusedAndChangesNothing) {
    TempDir dir;
    const std::string name = dir.file("ro.qmz");
    const std::string original = randomBytes(3 * jr::kPageSize, 3);
    writeFile(name, original);
    ASSERT_EQ(crashAfter([&] {
                  DriverFile& f = *new DriverFile(name, H5F_ACC_RDWR);
                  // Flushing holds overwrites back; a shrink writes them out first.
                  return f.ok() && f.write(0, std::string(5000, 'w')) &&
                                 f.truncateTo(original.size() - 1)
                             ? 0
                             : 1;
              }),
              0);
    const std::string crashed = readFile(name);
    const std::string journal = readFile(journalOf(name));
    ASSERT_TRUE(crashed != original);
    ASSERT_EQ(chmod(name.c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    // As root the permission bits do not stop writes, so the attempt runs as nobody.
    const int rc = crashAfter([&] {
        if (geteuid() == 0 && setuid(65534) != 0)
            return 10;
        DriverFile f(name, H5F_ACC_RDONLY);
        if (f.ok())
            return 1;
        return qf::lastJournalError().find(
                   "needs recovery from an interrupted transaction but "
                   "cannot be written") != std::string::npos
                   ? 0
                   : 2;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(readFile(name) == crashed);
    EXPECT_TRUE(readFile(journalOf(name)) == journal);
    ASSERT_EQ(chmod(name.c_str(), 0644), 0);
    DriverFile f(name, H5F_ACC_RDONLY);
    EXPECT_TRUE(f.ok());
    EXPECT_TRUE(readFile(name) == original);
}

// A commit leaves its journal, header cleared, for the next transaction. Such a journal is no
// journal: a reader that cannot write must not be sent to recover anything.
TEST(JournalRefusal, EmptiedJournalNeedsNoRecovery) {
    TempDir dir;
    const std::string name = dir.file("kept.qmz");
    const std::string original = randomBytes(2 * jr::kPageSize, 4);
    writeFile(name, original);
    {
        DriverFile f(name, H5F_ACC_RDWR);
        ASSERT_TRUE(f.ok());
        ASSERT_TRUE(f.write(3, "committed"));
        ASSERT_TRUE(f.close());
    }
    ASSERT_GT(fileSize(journalOf(name)), 0) << "the commit keeps the journal file";
    ASSERT_FALSE(jr::holdsTransaction(name)) << "the commit clears the journal's header";
    ASSERT_EQ(chmod(name.c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const int rc = crashAfter([&] {
        if (geteuid() == 0 && setuid(65534) != 0)
            return 10;
        DriverFile f(name, H5F_ACC_RDONLY);
        return f.ok() && f.read(3, 9) == "committed" ? 0 : 1;
    });
    EXPECT_EQ(rc, 0) << "read-only open of a committed file with a cleared journal";
    ASSERT_EQ(chmod(name.c_str(), 0644), 0);
}

// Another process that holds a file open until the object goes: `hold` opens it there and says
// whether it could.
class HeldElsewhere {
public:
    explicit HeldElsewhere(const std::function<bool()>& hold) {
        if (pipe(m_toChild) != 0 || pipe(m_toParent) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            alarm(20);  // never outlives a failed parent
            char c = hold() ? 'y' : 'n';
            (void)!::write(m_toParent[1], &c, 1);
            (void)!::read(m_toChild[0], &c, 1);  // hold the file until told
            _exit(0);
        }
        char c = 0;
        m_held = m_pid > 0 && ::read(m_toParent[0], &c, 1) == 1 && c == 'y';
    }
    ~HeldElsewhere() {
        (void)!::write(m_toChild[1], "g", 1);
        int status = 0;
        if (m_pid > 0)
            waitpid(m_pid, &status, 0);
        for (int fd : {m_toChild[0], m_toChild[1], m_toParent[0], m_toParent[1]})
            ::close(fd);
    }
    HeldElsewhere(const HeldElsewhere&) = delete;
    HeldElsewhere& operator=(const HeldElsewhere&) = delete;
    bool held() const { return m_held; }

private:
    int m_toChild[2] = {-1, -1}, m_toParent[2] = {-1, -1};
    pid_t m_pid = -1;
    bool m_held = false;
};

TEST(JournalRefusal, FileHeldByAnotherProcessIsInUse) {
    TempDir dir;
    const std::string name = dir.file("busy.qmz");
    writeFile(name, randomBytes(jr::kPageSize, 5));
    const HeldElsewhere busy([&] {
        DriverFile& f = *new DriverFile(name, H5F_ACC_RDWR);
        // An append starts the journal at once (overwrites alone are held back in memory).
        return f.ok() && f.write(jr::kPageSize, "busy");
    });
    ASSERT_TRUE(busy.held());
    const std::string expected = "File " + name + " is in use by another process";
    for (unsigned flags : {unsigned(H5F_ACC_RDWR), unsigned(H5F_ACC_RDONLY)}) {
        DriverFile f(name, flags);
        EXPECT_FALSE(f.ok()) << "flags " << flags;
        EXPECT_EQ(qf::lastJournalError(), expected);
    }
    EXPECT_GT(fileSize(journalOf(name)), 0) << "a live journal is not rolled back";
}

TEST(JournalRefusal, FileLibraryNamesTheFileInUse) {
    TempDir dir;
    const std::string name = dir.file("lib.qmz");
    const int created = QMXLcreateFile(name.c_str());
    ASSERT_GT(created, 0);
    ASSERT_OK(QMXLcloseFile(created));
    const HeldElsewhere busy([&] { return QMXLopenFile(name.c_str()) > 0; });
    ASSERT_TRUE(busy.held());
    for (bool writable : {true, false}) {
        EXPECT_LT(writable ? QMXLopenFile(name.c_str()) : QMXLopenFileReadOnly(name.c_str()), 0);
        EXPECT_ERROR("File " + name + " is in use by another process");
    }
}

// ---- Through HDF5 -------------------------------------------------------------------------

std::vector<int> readInts(hid_t file) {
    std::vector<int> v(1000, -1);
    hid_t d = H5Dopen2(file, "/d", H5P_DEFAULT);
    if (d < 0)
        return {};
    H5Dread(d, H5T_NATIVE_INT, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data());
    H5Dclose(d);
    return v;
}

bool writeInts(hid_t file, int value, bool create) {
    std::vector<int> v(1000, value);
    hsize_t dims[1] = {v.size()};
    hid_t d;
    if (create) {
        hid_t s = H5Screate_simple(1, dims, nullptr);
        d = H5Dcreate2(file, "/d", H5T_NATIVE_INT, s, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        H5Sclose(s);
    } else {
        d = H5Dopen2(file, "/d", H5P_DEFAULT);
    }
    if (d < 0)
        return false;
    const bool ok = H5Dwrite(d, H5T_NATIVE_INT, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data()) >= 0;
    H5Dclose(d);
    return ok;
}

TEST(JournalHdf5, CrashedUpdateRollsBackToTheLastCommittedContent) {
    TempDir dir;
    const std::string name = dir.file("h.h5");
    {
        Fapl fapl;
        hid_t f = H5Fcreate(name.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl.id());
        ASSERT_GE(f, 0);
        EXPECT_TRUE(writeInts(f, 1, true));
        EXPECT_GE(H5Fclose(f), 0);
    }
    EXPECT_FALSE(jr::holdsTransaction(name)) << "no journal left to roll back";
    ASSERT_EQ(crashAfter([&] {
                  Fapl fapl;
                  hid_t f = H5Fopen(name.c_str(), H5F_ACC_RDWR, fapl.id());
                  if (f < 0 || !writeInts(f, 2, false))
                      return 1;
                  hid_t g = H5Gcreate2(f, "/more", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
                  H5Gclose(g);
                  return H5Fflush(f, H5F_SCOPE_LOCAL) >= 0 ? 0 : 2;
              }),
              0);
    Fapl fapl;
    hid_t f = H5Fopen(name.c_str(), H5F_ACC_RDONLY, fapl.id());
    ASSERT_GE(f, 0);
    EXPECT_EQ(readInts(f), std::vector<int>(1000, 1));
    EXPECT_EQ(H5Lexists(f, "/more", H5P_DEFAULT), 0);
    // A second open in the same process shares the file instead of refusing it as in use.
    hid_t again = H5Fopen(name.c_str(), H5F_ACC_RDONLY, fapl.id());
    EXPECT_GE(again, 0);
    if (again >= 0)
        H5Fclose(again);
    EXPECT_GE(H5Fclose(f), 0);
}

TEST(JournalHdf5, CommittedUpdatesSurviveAndSecondWriterInProcessShares) {
    TempDir dir;
    const std::string name = dir.file("h2.h5");
    Fapl fapl;
    hid_t f = H5Fcreate(name.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl.id());
    ASSERT_GE(f, 0);
    EXPECT_TRUE(writeInts(f, 5, true));
    hid_t second = H5Fopen(name.c_str(), H5F_ACC_RDWR, fapl.id());
    EXPECT_GE(second, 0);
    if (second >= 0) {
        EXPECT_TRUE(writeInts(second, 6, false));
        H5Fclose(second);
    }
    EXPECT_GT(fileSize(journalOf(name)), 0) << "still open through the first handle";
    EXPECT_GE(H5Fclose(f), 0);
    EXPECT_FALSE(jr::holdsTransaction(name)) << "no journal left to roll back";
    f = H5Fopen(name.c_str(), H5F_ACC_RDONLY, fapl.id());
    ASSERT_GE(f, 0);
    EXPECT_EQ(readInts(f), std::vector<int>(1000, 6));
    H5Fclose(f);
}

}  // namespace
