#ifndef QUELLMAR_QMXFILE_JOURNALEDFILE_H
#define QUELLMAR_QMXFILE_JOURNALEDFILE_H

#include "BlockCache.h"
#include "Journal.h"
#include "PosixFile.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace Quellmar::qmxfile {

// Open flags of JournaledFile::open; the driver translates HDF5's H5F_ACC_* into them.
constexpr unsigned kOpenReadWrite = 0x0001u;
constexpr unsigned kOpenTruncate = 0x0002u;
constexpr unsigned kOpenExclusive = 0x0004u;
constexpr unsigned kOpenCreate = 0x0010u;

// One open container file under the journal. A read-write session is a transaction: before a
// page that existed at the start is overwritten for the first time, its original bytes go to
// the journal, and the journal reaches the disk before the container changes. Overwrites of
// such pages are held back in memory and written in batches, so one journal sync covers many
// of them. Bytes beyond the original length are written straight away: rolling back cuts them
// off. commit() makes the session's changes the committed state by clearing the journal; a new
// session begins from there, so a file may commit many times while it stays open.
class JournaledFile {
public:
    // Opens or creates per the kOpen* flags. Rolls back a journal left by a crashed writer
    // first. Null on failure, with the reason in error. The journal belongs to the file, not to
    // the name: symbolic links are resolved and the journal lies beside the file they lead to.
    // A file with a second name (hard link) is refused: a journal beside one name cannot be
    // found from the other.
    static std::unique_ptr<JournaledFile> open(const std::string& name, unsigned flags,
                                               std::string& error);
    // Closes without committing: a journal in place stays for the next open to roll back.
    ~JournaledFile();
    JournaledFile(const JournaledFile&) = delete;
    JournaledFile& operator=(const JournaledFile&) = delete;

    bool read(uint64_t addr, size_t size, void* buffer);
    bool write(uint64_t addr, size_t size, const void* buffer);
    bool flush();  // nothing to do: held pages wait for the commit
    bool truncate(uint64_t length);
    bool lock(bool exclusive);
    bool unlock();
    // The end of the session (see the class comment); false, with the first failure of the
    // session in error(), when a write failed or the commit itself did.
    bool commit();

    // What the file library learnt about the stored content (which objects it found sound),
    // kept with the open file. When a session ends with its changes committed, or only read,
    // keepRemembered() hands it on to the next open of the file in this process, which gets it
    // only if the file is exactly as this session left it (same size, modification and change
    // times, link count); a file changed by anyone in between starts with nothing.
    std::shared_ptr<void>& remembered() { return m_remembered; }
    void keepRemembered();

    uint64_t eof() const { return m_eof; }
    dev_t device() const { return m_device; }
    ino_t inode() const { return m_inode; }
    int* descriptor() { return &m_fdValue; }
    const std::string& error() const { return m_error; }
    // The session's first I/O failure; empty while there was none. After one nothing more is
    // written, and what the session reads may mix its changes with the file's old bytes.
    const std::string& failure() const { return m_cause; }

private:
    enum class Step { Done, Retry, Failed };

    JournaledFile(std::string name, std::string path, bool writable);
    Step openReader();
    Step openWriter(bool create, bool exclusive, bool truncate);
    Step createNew();
    Step openDescriptor(int flags);
    bool sameFileStillAtName() const;
    Step refuseSecondName();
    Step refuseJournalUnderGivenName();
    Step fail(std::string message);
    // Records cannot(action, name, errno) (PosixFile.h) as the first failure of the session.
    bool ioFailure(const std::string& action);
    void enlist();
    void takeRemembered();
    bool writeFile(uint64_t addr, size_t size, const unsigned char* data);

    // Creates the journal with its header (salt m_salt), the seal if any and the given records.
    bool startJournal(bool created, const std::vector<unsigned char>& firstRecords = {},
                      const std::vector<unsigned char>& seal = {});
    journal::Header header() const;
    // The seal of a commit about to be made (Journal.h), empty when this commit is not sealed:
    // syncs are off, the journal is a creation's, or the transaction changed more than a seal
    // can cover cheaply. Needs m_salt chosen.
    std::vector<unsigned char> makeSeal();
    bool writeSeal(const std::vector<unsigned char>& seal);
    void dropUnchangedPages();
    bool ensureJournal();  // with a header and no records yet
    bool appendToJournal(const std::vector<unsigned char>& records);
    bool syncJournal();
    // Opens (creating it if needed) the journal that this writer's first change will use, so
    // that a writer that could never journal is refused at open, before it changes anything.
    bool prepareJournal();
    void beginSession();  // after a commit: what is in the file now is the original
    // Journals and writes the held pages, the seal (when given) going beside the header.
    bool spill(const std::vector<unsigned char>& seal = {});
    bool journalPagesFrom(uint64_t firstPage);
    struct HeldPage {
        std::vector<unsigned char> original;  // as the session found it: the journal record
        std::vector<unsigned char> current;   // with the session's writes
    };
    HeldPage& heldPage(uint64_t page);
    bool journaled(uint64_t page) const { return page < m_journaled.size() && m_journaled[page]; }

    std::string m_name;  // as given: what messages show
    std::string m_path;  // the file's one path (links resolved): what the system is given
    bool m_writable;
    bool m_shadow = false;  // this process already has the file open; HDF5 drops this one
    bool m_enlisted = false;
    bool m_failed = false;         // a write went wrong: never commit, let the next open roll back
    bool m_heldExclusive = false;  // our exclusive flock on the container is in place
    bool m_unsynced = false;       // bytes reached the container that no sync covered yet
    UniqueFd m_fd;
    int m_fdValue = -1;  // handed to HDF5 as the file handle
    dev_t m_device = 0;
    ino_t m_inode = 0;
    uint64_t m_eof = 0;
    std::string m_error;
    struct stat m_lockedState {};     // as first seen under our lock
    bool m_lockedStateKnown = false;  // and still the file's state (no rollback since)
    std::shared_ptr<void> m_remembered;

    std::unique_ptr<BlockCache> m_cache;  // once the file is ours (locked, not a shadow)
    std::string m_cause;                  // the first I/O failure of the session
    UniqueFd m_journal;
    UniqueFd m_preparedJournal;  // opened at open, taken by the first startJournal
    uint64_t m_journalLength = 0;
    bool m_journalDirSynced = false;
    uint64_t m_originalLength = 0;
    uint64_t m_salt = 0;
    bool m_journalCreated = false;         // the journal in use is a creation's
    std::vector<uint64_t> m_journalOrder;  // pages journaled and written this session
    std::vector<bool> m_journaled;         // per original page
    std::map<uint64_t, HeldPage> m_held;   // overwrites not yet written
    size_t m_heldBytes = 0;
};

// Whether this process found that the file system of device gives a change made right after its
// change time was read a newer change time (JournaledFile::remembered relies on it). Learnt at
// the first commit that used a journal on the device; false until then.
bool changeTimesProvenFine(dev_t device);

}  // namespace Quellmar::qmxfile

#endif
