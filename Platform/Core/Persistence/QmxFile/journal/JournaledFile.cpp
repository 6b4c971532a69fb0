#include "JournaledFile.h"

#include "FileOps.h"
#include "FileUtilities.h"
#include "Journal.h"
#include "JournalControl.h"

#include <algorithm>
#include <map>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace Quellmar::qmxfile {
namespace {

constexpr uint64_t kPage = journal::kPageSize;
// Held-back overwrites are written out once they reach this size.
constexpr size_t kMaxHeldBytes = 8u << 20;
// Journaling pages ahead of a shrink goes in batches of this many pages.
constexpr uint64_t kPagesPerBatch = 256;
// Opens retry when the file changes under them (a rollback, a removal, a replacement).
constexpr int kOpenAttempts = 8;

// The files this process has open through the driver. HDF5 opens a file a second time before
// noticing that it already has it open; that second open must not lock or roll back, since
// the journal it would find is this process's own.
std::mutex s_openLock;
std::set<std::pair<dev_t, ino_t>> s_open;

// The commit clears the journal's header rather than deleting the journal (creating and deleting
// a file per transaction cost more than the rest of a small commit) or cutting it (on ext4 a
// file cut to length 0 is written back when it is closed), so only a journal with an intact
// header can need a rollback.
bool journalIsHot(const std::string& container) {
    return journal::holdsTransaction(container);
}

// A journal longer than this is cut at the commit instead, so that one large transaction does
// not leave a large file behind for good.
constexpr uint64_t kKeptJournalBytes = 1u << 20;

// A commit seals its journal (Journal.h) and so skips the sync of its clearing when it appended
// no more than this: the seal's checksum reads every appended byte back.
constexpr uint64_t kMaxSealedAppend = 256u << 10;

// Journal files whose directory entry this process has synced. A reused journal may have been
// created while flushing was off, so its entry is synced once before it protects a flushed
// transaction; after that, reuse needs no directory sync.
std::set<std::pair<dev_t, ino_t>> s_durableJournals;

std::pair<dev_t, ino_t> identity(int fd) {
    struct stat st {};
    if (fileOps().fstat(fd, &st) != 0)
        return {0, 0};
    return {st.st_dev, st.st_ino};
}

// What sessions that ended left for the next open of their file (JournaledFile::remembered),
// with the file's state when they ended. A few files only: this is for programs that open the
// same file again and again.
struct Remembered {
    struct stat state;
    std::shared_ptr<void> what;
};
constexpr std::size_t kRememberedFiles = 16;
std::map<std::pair<dev_t, ino_t>, Remembered> s_remembered;  // under s_openLock

// Per device: whether change times are fine (probeChangeTimes).
std::map<dev_t, bool> s_fineTimes;  // under s_openLock

// Under s_openLock: forgets what was learnt through another file layer than the one in force.
void forgetOtherLayers() {
    static unsigned long s_generation = 0;
    const unsigned long now = fileOpsGeneration();
    if (now == s_generation)
        return;
    s_generation = now;
    s_remembered.clear();
    s_fineTimes.clear();
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool sameState(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_nlink == b.st_nlink && sameTime(a.st_mtim, b.st_mtim) &&
           sameTime(a.st_ctim, b.st_ctim);
}

// Whether the file system of a device gives a change made right after its change time was read
// a newer change time (Linux does since 6.13 on its common file systems; before, times only
// move on with the clock's tick, and a change in the same tick keeps the time). Only then does
// an unchanged state prove an unchanged file. Found out once per device, on a journal.
void probeChangeTimes(int journalFd, dev_t device) {
    {
        // The journal lies beside its container, on the container's device.
        std::lock_guard<std::mutex> guard(s_openLock);
        forgetOtherLayers();
        if (s_fineTimes.count(device))
            return;
    }
    struct stat before {};
    if (fileOps().fstat(journalFd, &before) != 0)
        return;
    bool fine = true;
    // Three times in a row: a coarse clock's tick may fall between two of them, not all three.
    for (int round = 0; round < 3 && fine; ++round) {
        struct stat after {};
        if (!writeFully(journalFd, journal::kClearedSector, journal::kHeaderSize, 0) ||
            fileOps().fstat(journalFd, &after) != 0)
            return;
        fine = !sameTime(before.st_ctim, after.st_ctim);
        before = after;
    }
    std::lock_guard<std::mutex> guard(s_openLock);
    forgetOtherLayers();
    s_fineTimes[device] = fine;
}

// A process that only reads never commits, so never probes on a journal: it probes once on an
// unnamed file made in the container's directory (gone when closed). Without the right to
// make one there, times stay unproven and nothing is handed on, as before.
void probeChangeTimesBeside(const std::string& path, dev_t device) {
    {
        std::lock_guard<std::mutex> guard(s_openLock);
        forgetOtherLayers();
        if (s_fineTimes.count(device))
            return;
    }
    const std::string directory = path.substr(0, path.find_last_of('/') + 1);
    UniqueFd probe(fileOps().open(directory.empty() ? "." : directory.c_str(),
                                  O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    struct stat st {};
    if (probe.valid() && fileOps().fstat(probe.get(), &st) == 0 && st.st_dev == device)
        probeChangeTimes(probe.get(), device);
}

bool isOpenHere(dev_t device, ino_t inode) {
    std::lock_guard<std::mutex> guard(s_openLock);
    return s_open.count({device, inode}) != 0;
}

}  // namespace

JournaledFile::JournaledFile(std::string name, std::string path, bool writable)
    : m_name(std::move(name)), m_path(std::move(path)), m_writable(writable) {}

JournaledFile::~JournaledFile() {
    if (m_enlisted) {
        std::lock_guard<std::mutex> guard(s_openLock);
        s_open.erase({m_device, m_inode});
    }
}

std::unique_ptr<JournaledFile> JournaledFile::open(const std::string& name, unsigned flags,
                                                   std::string& error) {
    const bool writable = (flags & kOpenReadWrite) != 0;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        // Resolved on every attempt: a retry may find a link pointing elsewhere.
        std::string path = FileUtilities::canonicalPath(FileName(name));
        if (path.empty()) {
            error = cannot((flags & kOpenCreate) ? "create" : "open", name, errno);
            return nullptr;
        }
        std::unique_ptr<JournaledFile> file(new JournaledFile(name, std::move(path), writable));
        const Step step =
            writable ? file->openWriter((flags & kOpenCreate) != 0, (flags & kOpenExclusive) != 0,
                                        (flags & kOpenTruncate) != 0)
                     : file->openReader();
        if (step == Step::Done)
            return file;
        if (step == Step::Failed) {
            error = file->m_error;
            return nullptr;
        }
    }
    // Still changing under every attempt: another process is at work on it.
    error = lockFailure(name, EWOULDBLOCK);
    return nullptr;
}

JournaledFile::Step JournaledFile::fail(std::string message) {
    m_error = std::move(message);
    return Step::Failed;
}

bool JournaledFile::ioFailure(const std::string& action) {
    m_error = cannot(action, m_name, errno);
    if (!m_failed)
        m_cause = m_error;
    m_failed = true;
    return false;
}

JournaledFile::Step JournaledFile::openDescriptor(int flags) {
    m_fd = UniqueFd(fileOps().open(m_path.c_str(), flags | O_CLOEXEC, 0666));
    if (!m_fd.valid()) {
        if (errno == ENOENT)
            return Step::Retry;
        return fail(cannot("open", m_name, errno));
    }
    m_fdValue = m_fd.get();
    struct stat st {};
    if (fileOps().fstat(m_fd.get(), &st) != 0)
        return fail(cannot("stat", m_name, errno));
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_eof = static_cast<uint64_t>(st.st_size);
    m_shadow = isOpenHere(m_device, m_inode);
    return Step::Done;
}

bool JournaledFile::sameFileStillAtName() const {
    struct stat st {};
    return fileOps().stat(m_path.c_str(), &st) == 0 && st.st_dev == m_device &&
           st.st_ino == m_inode;
}

JournaledFile::Step JournaledFile::refuseSecondName() {
    // Asked under our lock: a writer refused here never starts a journal a second name hides.
    struct stat st {};
    if (fileOps().fstat(m_fd.get(), &st) != 0)
        return fail(cannot("stat", m_name, errno));
    m_lockedState = st;
    m_lockedStateKnown = true;
    if (st.st_nlink <= 1)
        return Step::Done;
    return fail(
        "file " + m_name + " has " + std::to_string(st.st_nlink) +
        " hard links; a journaled file must have one name (a journal beside one name cannot be "
        "found from another)");
}

JournaledFile::Step JournaledFile::refuseJournalUnderGivenName() {
    // Earlier builds named the journal after the name as given. Such a journal, left beside a
    // link by a writer that died, cannot be told apart from one made stale by later commits
    // through another name; rolling it back could undo them, ignoring it could show a torn
    // file. Neither is safe, so the file is refused until someone decides.
    if (m_name == m_path)
        return Step::Done;
    const std::string given = journal::journalName(m_name);
    struct stat old {};
    if (fileOps().stat(given.c_str(), &old) != 0 || !journalIsHot(m_name))
        return Step::Done;
    struct stat current {};
    if (fileOps().stat(journal::journalName(m_path).c_str(), &current) == 0 &&
        current.st_dev == old.st_dev && current.st_ino == old.st_ino)
        return Step::Done;  // the same journal under another spelling
    return fail(
        "file " + m_name + " has a journal " + given +
        " left under the name it was opened by, by an earlier version of the library; the journal "
        "of " +
        m_path + " now lies beside it. Recover the file with that version, or delete " + given +
        " if " + m_path + " was written after that journal was left");
}

void JournaledFile::enlist() {
    {
        std::lock_guard<std::mutex> guard(s_openLock);
        s_open.insert({m_device, m_inode});
        m_enlisted = true;
        takeRemembered();
    }
    // From here on we hold the file's lock, so nobody else changes it under the cache.
    m_cache = std::make_unique<BlockCache>(m_fd.get());
}

void JournaledFile::takeRemembered() {
    // Under s_openLock. Taken or dropped: what an earlier session left is never used twice.
    forgetOtherLayers();
    const auto found = s_remembered.find({m_device, m_inode});
    if (found == s_remembered.end())
        return;
    if (m_lockedStateKnown && sameState(found->second.state, m_lockedState))
        m_remembered = std::move(found->second.what);
    s_remembered.erase(found);
}

void JournaledFile::keepRemembered() {
    if (!m_enlisted || m_shadow || m_failed || !m_remembered)
        return;
    probeChangeTimesBeside(m_path, m_device);
    if (!changeTimesProvenFine(m_device))
        return;
    // Asked after the last change: a later change of the file gets a newer change time (the
    // kernel gives the next change a finer time once the current one has been read).
    struct stat st {};
    if (fileOps().fstat(m_fd.get(), &st) != 0)
        return;
    std::lock_guard<std::mutex> guard(s_openLock);
    forgetOtherLayers();
    if (s_remembered.size() >= kRememberedFiles && !s_remembered.count({m_device, m_inode}))
        s_remembered.erase(s_remembered.begin());
    s_remembered[{m_device, m_inode}] = Remembered{st, std::move(m_remembered)};
}

bool JournaledFile::writeFile(uint64_t addr, size_t size, const unsigned char* data) {
    if (!writeFully(m_fd.get(), data, size, static_cast<off_t>(addr)))
        return ioFailure("write");
    m_unsynced = true;
    if (m_cache)
        m_cache->write(addr, size, data);
    return true;
}

JournaledFile::Step JournaledFile::openReader() {
    Step step = openDescriptor(O_RDONLY);
    if (step == Step::Retry)
        return fail(cannot("open", m_name, ENOENT));
    if (step != Step::Done || m_shadow)
        return step;
    // Lock first, then look for a journal: a writer holds its lock for as long as its journal
    // is live, so a journal seen under our lock was left by a writer that died.
    if (!tryLock(m_fd.get(), false))
        return fail(lockFailure(m_name, errno));
    if (!sameFileStillAtName())
        return Step::Retry;
    // A reader refuses a second name too: a journal left beside the other name would go
    // unseen, and the reader would read a torn file.
    if (refuseSecondName() != Step::Done || refuseJournalUnderGivenName() != Step::Done)
        return Step::Failed;
    if (!journalIsHot(m_path)) {
        enlist();
        return Step::Done;
    }
    m_fd.reset();
    UniqueFd writable(fileOps().open(m_path.c_str(), O_RDWR | O_CLOEXEC));
    if (!writable.valid()) {
        if (errno == ENOENT)
            return Step::Retry;
        if (errno == EACCES || errno == EPERM || errno == EROFS)
            return fail("File " + m_name +
                        " needs recovery from an interrupted transaction but cannot be written");
        return fail(cannot("open", m_name, errno));
    }
    if (!tryLock(writable.get(), true))
        return fail(lockFailure(m_name, errno));
    const journal::RecoveryResult result = journal::rollBack(m_path, writable.get());
    if (!result.ok)
        return fail(result.error);
    return Step::Retry;
}

JournaledFile::Step JournaledFile::openWriter(bool create, bool exclusive, bool truncate) {
    const Step step = openDescriptor(O_RDWR);
    if (step == Step::Retry) {
        if (!create)
            return fail(cannot("open", m_name, ENOENT));
        return createNew();
    }
    if (step == Step::Done && exclusive)
        return fail(cannot("create", m_name, EEXIST));
    if (step != Step::Done || m_shadow)
        return step;
    if (!tryLock(m_fd.get(), true))
        return fail(lockFailure(m_name, errno));
    m_heldExclusive = true;
    if (!sameFileStillAtName())
        return Step::Retry;
    if (refuseSecondName() != Step::Done || refuseJournalUnderGivenName() != Step::Done)
        return Step::Failed;
    // The journal this writer will use is opened (or created) now; what it holds says whether a
    // writer died before us.
    if (!prepareJournal())
        return Step::Failed;
    if (journal::holdsTransaction(m_preparedJournal.get())) {
        m_preparedJournal.reset();
        m_lockedStateKnown = false;
        const journal::RecoveryResult result = journal::rollBack(m_path, m_fd.get());
        if (!result.ok)
            return fail(result.error);
        if (result.what == journal::Recovery::Removed)
            return Step::Retry;
        struct stat st {};
        if (fileOps().fstat(m_fd.get(), &st) != 0)
            return fail(cannot("stat", m_name, errno));
        m_eof = static_cast<uint64_t>(st.st_size);
        if (!prepareJournal())
            return Step::Failed;
    }
    m_originalLength = m_eof;
    m_journaled.assign((m_originalLength + kPage - 1) / kPage, false);
    enlist();
    if (truncate)
        m_remembered.reset();  // about content that is about to go
    if (truncate && m_originalLength > 0 && !this->truncate(0))
        return Step::Failed;
    return Step::Done;
}

JournaledFile::Step JournaledFile::createNew() {
    // The journal comes first, so that a container that exists is always covered by it.
    const std::string jname = journal::journalName(m_path);
    UniqueFd jfd(fileOps().open(jname.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!jfd.valid()) {
        if (errno != EEXIST)
            return fail(cannot("create journal", jname, errno));
        UniqueFd old(fileOps().open(jname.c_str(), O_RDWR | O_CLOEXEC));
        if (!old.valid())
            return Step::Retry;
        if (!tryLock(old.get(), true))
            return fail(lockFailure(m_name, errno));
        if (fileExists(m_path))
            return Step::Retry;  // the open path rolls it back
        // Left by a creation that died before the container existed: nothing to undo.
        if (fileOps().unlink(jname.c_str()) != 0 && errno != ENOENT)
            return fail(cannot("remove journal", jname, errno));
        return Step::Retry;
    }
    if (!tryLock(jfd.get(), true))
        return fail(lockFailure(m_name, errno));
    m_journal = std::move(jfd);
    m_salt = journal::newSalt();
    if (!startJournal(true) || !syncJournal()) {
        fileOps().unlink(jname.c_str());
        return fail(m_error);
    }
    m_fd = UniqueFd(fileOps().open(m_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!m_fd.valid()) {
        const int error = errno;
        fileOps().unlink(jname.c_str());
        if (error == EEXIST)
            return Step::Retry;
        return fail(cannot("create", m_name, error));
    }
    m_fdValue = m_fd.get();
    // The commit syncs no directory, so the new entry is made durable here: a committed
    // creation must not vanish with a power loss. Until the commit the journal removes it.
    if (journalSync() && !syncParentDirectory(m_path))
        return fail(cannot("sync the directory of", m_name, errno));
    struct stat st {};
    if (fileOps().fstat(m_fd.get(), &st) != 0)
        return fail(cannot("stat", m_name, errno));
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_eof = 0;
    m_originalLength = 0;
    if (!tryLock(m_fd.get(), true))
        return fail(lockFailure(m_name, errno));
    m_heldExclusive = true;
    enlist();
    return Step::Done;
}

bool JournaledFile::prepareJournal() {
    const std::string jname = journal::journalName(m_path);
    // Under the container's exclusive lock: a journal here holds no transaction, or the caller
    // rolls it back before using it.
    m_preparedJournal = UniqueFd(fileOps().open(jname.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (m_preparedJournal.valid())
        return true;
    fail(cannot("create the journal", jname, errno) + "; without it no change to " + m_name +
         " could be committed safely");
    return false;
}

void JournaledFile::beginSession() {
    m_originalLength = m_eof;
    m_journaled.assign((m_originalLength + kPage - 1) / kPage, false);
    m_journalLength = 0;
    m_journalOrder.clear();
}

bool JournaledFile::startJournal(bool created, const std::vector<unsigned char>& firstRecords,
                                 const std::vector<unsigned char>& seal) {
    if (!m_journal.valid() && m_preparedJournal.valid()) {
        m_journal = std::move(m_preparedJournal);
        m_journalDirSynced = false;
        if (journalSync()) {
            std::lock_guard<std::mutex> guard(s_openLock);
            m_journalDirSynced = s_durableJournals.count(identity(m_journal.get())) != 0;
        }
    }
    if (!m_journal.valid()) {
        const std::string jname = journal::journalName(m_path);
        // We hold the container's exclusive lock and rolled back any journal at open, so a
        // file of this name now is a cleared one, reused; the new header goes over the old.
        m_journal = UniqueFd(fileOps().open(jname.c_str(), O_RDWR | O_CLOEXEC));
        m_journalDirSynced = false;
        if (m_journal.valid() && journalSync()) {
            std::lock_guard<std::mutex> guard(s_openLock);
            m_journalDirSynced = s_durableJournals.count(identity(m_journal.get())) != 0;
        }
        if (!m_journal.valid() && errno == ENOENT)
            m_journal = UniqueFd(
                fileOps().open(jname.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!m_journal.valid())
            return ioFailure("create the journal of");
        // Only a creation locks its journal (see rollBack); here the container's lock covers it.
    }
    m_journalCreated = created;
    unsigned char bytes[journal::kHeaderSize];
    journal::encodeHeader(header(), bytes);
    // Header, seal and first records in one write: a small transaction's journal is one write.
    // The first sector holds only header and seal, so that it is written whole or not at all.
    std::vector<unsigned char> start(journal::kSectorSize, 0);
    std::copy(bytes, bytes + sizeof bytes, start.begin());
    std::copy(seal.begin(), seal.end(), start.begin() + journal::kHeaderSize);
    start.insert(start.end(), firstRecords.begin(), firstRecords.end());
    if (!writeFully(m_journal.get(), start.data(), start.size(), 0))
        return ioFailure("write the journal of");
    m_journalLength = start.size();
    return true;
}

journal::Header JournaledFile::header() const {
    journal::Header header;
    header.version = journal::kSealedVersion;
    header.created = m_journalCreated;
    header.originalLength = m_originalLength;
    header.salt = m_salt;
    return header;
}

bool JournaledFile::writeSeal(const std::vector<unsigned char>& seal) {
    unsigned char bytes[journal::kHeaderSize];
    journal::encodeHeader(header(), bytes);
    std::vector<unsigned char> sector(bytes, bytes + sizeof bytes);
    sector.insert(sector.end(), seal.begin(), seal.end());
    if (!writeFully(m_journal.get(), sector.data(), sector.size(), 0))
        return ioFailure("write the journal of");
    return true;
}

std::vector<unsigned char> JournaledFile::makeSeal() {
    if (!journalSync() || (m_journal.valid() ? m_journalCreated : m_held.empty()))
        return {};
    std::set<uint64_t> pages(m_journalOrder.begin(), m_journalOrder.end());
    for (const auto& entry : m_held)
        pages.insert(entry.first);
    const uint64_t appended = m_eof > m_originalLength ? m_eof - m_originalLength : 0;
    if (pages.size() > journal::kMaxSealedPages || appended > kMaxSealedAppend)
        return {};
    journal::Seal seal;
    seal.newLength = m_eof;
    for (uint64_t page : pages)
        seal.pages.push_back(page * kPage);
    journal::Header sealed = header();
    sealed.created = false;
    const std::optional<uint32_t> content = journal::contentChecksum(
        sealed, seal,
        [this](uint64_t at, size_t size, unsigned char* out) { return read(at, size, out); });
    // Unreadable now: the commit goes on unsealed, and its own writes meet the trouble.
    if (!content)
        return {};
    seal.content = *content;
    return journal::encodeSeal(sealed, seal);
}

bool JournaledFile::ensureJournal() {
    if (m_journal.valid())
        return true;
    m_salt = journal::newSalt();
    return startJournal(false);
}

bool JournaledFile::appendToJournal(const std::vector<unsigned char>& records) {
    if (!writeFully(m_journal.get(), records.data(), records.size(),
                    static_cast<off_t>(m_journalLength)))
        return ioFailure("write the journal of");
    m_journalLength += records.size();
    return true;
}

bool JournaledFile::syncJournal() {
    if (!journalSync())
        return true;
    if (!syncData(m_journal.get()))
        return ioFailure("sync the journal of");
    if (!m_journalDirSynced) {
        if (!syncParentDirectory(m_path))
            return ioFailure("sync the directory of");
        m_journalDirSynced = true;
        std::lock_guard<std::mutex> guard(s_openLock);
        s_durableJournals.insert(identity(m_journal.get()));
    }
    return true;
}

JournaledFile::HeldPage& JournaledFile::heldPage(uint64_t page) {
    auto found = m_held.find(page);
    if (found != m_held.end())
        return found->second;
    const uint64_t start = page * kPage;
    const size_t size = static_cast<size_t>(std::min(kPage, m_originalLength - start));
    HeldPage held;
    held.original.assign(size, 0);
    // Unjournaled pages were never written this session: the file still has their old bytes.
    if (!m_cache->read(start, size, held.original.data()))
        ioFailure("read");
    held.current = held.original;
    m_heldBytes += 2 * size;
    return m_held.emplace(page, std::move(held)).first->second;
}

void JournaledFile::dropUnchangedPages() {
    // A page written back as it was (HDF5 marks the superblock at open and unmarks it at
    // close) is no change: it needs neither a record nor a write.
    for (auto it = m_held.begin(); it != m_held.end();) {
        if (it->second.current == it->second.original) {
            m_heldBytes -= 2 * it->second.original.size();
            it = m_held.erase(it);
        } else {
            ++it;
        }
    }
}

bool JournaledFile::spill(const std::vector<unsigned char>& seal) {
    dropUnchangedPages();
    if (m_held.empty())
        return seal.empty() || (writeSeal(seal) && syncJournal());
    const bool first = !m_journal.valid();
    if (first && seal.empty())
        m_salt = journal::newSalt();  // a seal was made with the salt chosen
    std::vector<unsigned char> records;
    records.reserve(m_heldBytes / 2 + m_held.size() * journal::kRecordHeaderSize);
    for (const auto& [page, held] : m_held)
        journal::appendRecord(records, m_salt, page * kPage, held.original.data(),
                              static_cast<uint32_t>(held.original.size()));
    const bool journaled = first ? startJournal(false, records, seal)
                                 : appendToJournal(records) && (seal.empty() || writeSeal(seal));
    if (!journaled || !syncJournal())
        return false;
    for (const auto& [page, held] : m_held) {
        if (!writeFile(page * kPage, held.current.size(), held.current.data()))
            return false;
        m_journaled[page] = true;
        m_journalOrder.push_back(page);
    }
    m_held.clear();
    m_heldBytes = 0;
    return true;
}

bool JournaledFile::journalPagesFrom(uint64_t firstPage) {
    std::vector<unsigned char> records;
    std::vector<unsigned char> original(kPage);
    std::vector<uint64_t> pages;
    const uint64_t count = m_journaled.size();
    for (uint64_t page = firstPage; page < count;) {
        records.clear();
        pages.clear();
        for (; page < count && pages.size() < kPagesPerBatch; ++page) {
            if (m_journaled[page])
                continue;
            const uint64_t start = page * kPage;
            const size_t size = static_cast<size_t>(std::min(kPage, m_originalLength - start));
            size_t got = 0;
            if (!readFully(m_fd.get(), original.data(), size, static_cast<off_t>(start), &got))
                return ioFailure("read");
            std::fill(original.begin() + static_cast<std::ptrdiff_t>(got), original.end(), 0);
            journal::appendRecord(records, m_salt, start, original.data(),
                                  static_cast<uint32_t>(size));
            pages.push_back(page);
        }
        if (records.empty())
            continue;
        if (!appendToJournal(records))
            return false;
        for (uint64_t p : pages)
            m_journaled[p] = true;
        m_journalOrder.insert(m_journalOrder.end(), pages.begin(), pages.end());
    }
    return syncJournal();
}

bool JournaledFile::read(uint64_t addr, size_t size, void* buffer) {
    auto* out = static_cast<unsigned char*>(buffer);
    bool ok = true;
    if (m_cache) {
        ok = m_cache->read(addr, size, out);
    } else {
        size_t got = 0;
        ok = readFully(m_fd.get(), out, size, static_cast<off_t>(addr), &got);
        if (ok)
            std::memset(out + got, 0, size - got);  // past the end reads as zeros, as with sec2
    }
    if (!ok) {
        m_error = cannot("read", m_name, errno);
        return false;
    }
    if (m_held.empty() || size == 0)
        return true;
    const uint64_t end = addr + size;
    for (auto it = m_held.lower_bound(addr / kPage); it != m_held.end() && it->first * kPage < end;
         ++it) {
        const uint64_t start = it->first * kPage;
        const uint64_t lo = std::max(addr, start);
        const std::vector<unsigned char>& bytes = it->second.current;
        const uint64_t hi = std::min(end, start + bytes.size());
        if (lo < hi)
            std::memcpy(out + (lo - addr), bytes.data() + (lo - start), hi - lo);
    }
    return true;
}

bool JournaledFile::write(uint64_t addr, size_t size, const void* buffer) {
    if (!m_writable || m_shadow) {
        m_error = "cannot write " + m_name + ": not open for writing";
        return false;
    }
    if (m_failed) {
        m_error = "cannot write " + m_name + ": an earlier write failed (" + m_cause + ")";
        return false;
    }
    const uint64_t end = addr + size;
    // Recovery must know the original length before anything lands past it. Overwrites alone
    // start the journal later, with their first records (spill).
    if (end > m_originalLength && !ensureJournal())
        return false;
    const auto* in = static_cast<const unsigned char*>(buffer);
    const uint64_t limit = std::min(end, m_originalLength);
    uint64_t pos = addr;
    while (pos < limit) {
        const uint64_t page = pos / kPage;
        if (journaled(page)) {
            uint64_t runEnd = pos;
            while (runEnd < limit && journaled(runEnd / kPage))
                runEnd = std::min((runEnd / kPage + 1) * kPage, limit);
            if (!writeFile(pos, runEnd - pos, in + (pos - addr)))
                return false;
            pos = runEnd;
            continue;
        }
        const uint64_t start = page * kPage;
        std::vector<unsigned char>& bytes = heldPage(page).current;
        if (m_failed)
            return false;
        const uint64_t segmentEnd = std::min(limit, start + bytes.size());
        std::memcpy(bytes.data() + (pos - start), in + (pos - addr), segmentEnd - pos);
        pos = segmentEnd;
    }
    if (end > m_originalLength) {
        const uint64_t from = std::max(addr, m_originalLength);
        if (!writeFile(from, end - from, in + (from - addr)))
            return false;
    }
    m_eof = std::max(m_eof, end);
    return m_heldBytes < kMaxHeldBytes || spill();
}

bool JournaledFile::flush() {
    // Held pages stay held: nobody else can read the file before the commit writes them (we
    // hold its lock), and HDF5 flushes at open and before close, where a spill each time
    // cost a journal write and an overwrite for nothing.
    return true;
}

bool JournaledFile::truncate(uint64_t length) {
    if (!m_writable || m_shadow) {
        m_error = "cannot truncate " + m_name + ": not open for writing";
        return false;
    }
    if (m_failed) {
        m_error = "cannot truncate " + m_name + ": an earlier write failed (" + m_cause + ")";
        return false;
    }
    if (!ensureJournal())
        return false;
    // Bytes cut off below the original length are original bytes too.
    if (length < m_originalLength && (!spill() || !journalPagesFrom(length / kPage)))
        return false;
    if (fileOps().ftruncate(m_fd.get(), static_cast<off_t>(length)) != 0)
        return ioFailure("truncate");
    m_unsynced = true;
    if (m_cache)
        m_cache->truncate(length);
    m_eof = length;
    return true;
}

bool JournaledFile::lock(bool exclusive) {
    // A writer keeps the exclusive lock it took at open; the shadow of a file this process
    // already holds must not fight its own lock.
    if (m_shadow || (m_writable && !exclusive) || m_heldExclusive)
        return true;
    if (tryLock(m_fd.get(), exclusive)) {
        m_heldExclusive = exclusive;
        return true;
    }
    m_error = lockFailure(m_name, errno);
    return false;
}

bool JournaledFile::unlock() {
    if (m_shadow)
        return true;
    m_heldExclusive = false;
    if (fileOps().flock(m_fd.get(), LOCK_UN) == 0 || errno == ENOSYS)
        return true;
    m_error = cannot("unlock", m_name, errno);
    return false;
}

bool JournaledFile::commit() {
    if (m_shadow || !m_writable)
        return true;
    if (m_failed) {
        m_error = "changes to " + m_name + " were not committed (" + m_cause +
                  "); they are rolled back at the next open";
        return false;
    }
    dropUnchangedPages();
    if (!m_journal.valid() && !m_held.empty())
        m_salt = journal::newSalt();
    const std::vector<unsigned char> seal = makeSeal();
    if (!spill(seal))
        return false;
    // HDF5 rewrites the superblock unchanged at every writable close; held pages that came
    // back as they were reached no file, and a sync of nothing cost a writer's empty unit
    // three quarters of its time.
    if (!m_unsynced && !m_journal.valid())
        return true;
    if (journalSync()) {
        if (!syncData(m_fd.get()))
            return ioFailure("sync");
        m_unsynced = false;
    }
    // The commit point: once the journal's header is cleared, the new content is the committed
    // one. The journal stays for the next transaction. Only appends: nothing to undo.
    if (m_journal.valid()) {
        const bool cleared =
            m_journalLength > kKeptJournalBytes
                ? fileOps().ftruncate(m_journal.get(), 0) == 0
                : writeFully(m_journal.get(), journal::kClearedSector, journal::kSectorSize, 0);
        if (!cleared)
            return ioFailure("clear the journal of");
        if (m_remembered)
            probeChangeTimes(m_journal.get(), m_device);
        // A sealed journal whose clearing is lost is recognised by recovery (the container
        // matches its seal) and not rolled back: the clearing needs no sync of its own.
        if (journalSync() && seal.empty() && !syncData(m_journal.get()))
            return ioFailure("sync the journal of");
        m_journal.reset();
    }
    beginSession();
    return true;
}

bool changeTimesProvenFine(dev_t device) {
    std::lock_guard<std::mutex> guard(s_openLock);
    forgetOtherLayers();
    const auto found = s_fineTimes.find(device);
    return found != s_fineTimes.end() && found->second;
}

}  // namespace Quellmar::qmxfile
