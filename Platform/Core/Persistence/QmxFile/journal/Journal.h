#ifndef QUELLMAR_QMXFILE_JOURNAL_H
#define QUELLMAR_QMXFILE_JOURNAL_H

// The rollback journal beside a container file: NAME-journal holds the original bytes of every
// page that the running write transaction overwrote, and the container's length when the
// transaction began. While it exists the container may be half written; rolling back puts the
// pages back and cuts the container to that length. The layout is described in FORMAT.md.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Quellmar::qmxfile::journal {

constexpr uint32_t kPageSize = 4096;
constexpr size_t kHeaderSize = 48;
constexpr size_t kRecordHeaderSize = 16;
// Version 2 journals hold records right after the header. Version 3 journals keep the first
// sector for the header and a seal (below) and hold records from kSectorSize on.
constexpr uint32_t kPlainVersion = 2;
constexpr uint32_t kSealedVersion = 3;
constexpr size_t kSectorSize = 512;
// As many pages as a seal can list within the first sector.
constexpr size_t kMaxSealedPages = 54;

struct Header {
    uint32_t version = kPlainVersion;
    bool created = false;         // the container did not exist before this transaction
    uint64_t originalLength = 0;  // container length when the transaction began
    uint64_t salt = 0;            // ties records to this journal
    uint32_t pageSize = kPageSize;
};

std::string journalName(const std::string& container);

// Where the header's records begin.
uint64_t recordsStart(const Header& header);

// CRC-32C of header and records.
uint32_t checksum(const void* data, size_t size, uint32_t crc = 0);

void encodeHeader(const Header& header, unsigned char (&out)[kHeaderSize]);
// Empty when the bytes are not a complete, intact header (a journal torn while being started).
std::optional<Header> decodeHeader(const unsigned char* bytes, size_t size);
// An intact header of a format version this build does not know.
bool isForeignVersion(const unsigned char* bytes, size_t size);

// Appends one record holding the original bytes at offset.
void appendRecord(std::vector<unsigned char>& out, uint64_t salt, uint64_t offset,
                  const unsigned char* data, uint32_t size);

struct RecordHeader {
    uint64_t offset = 0;
    uint32_t size = 0;
    uint32_t checksum = 0;
};
RecordHeader decodeRecordHeader(const unsigned char (&bytes)[kRecordHeaderSize]);
// True when the record belongs to this journal and is whole: a torn tail fails here.
bool recordIsValid(const Header& header, const RecordHeader& record, const unsigned char* data);

uint64_t newSalt();

// What the container holds once a transaction's commit has synced it, written beside the header
// before the container changes: its length and a checksum of every byte the transaction changed
// (contentChecksum). A journal whose header outlived a commit that completed (its clearing was
// lost with the power) is recognised by the container matching its seal, and not rolled back.
struct Seal {
    uint64_t newLength = 0;
    uint32_t content = 0;         // contentChecksum of the committed container
    std::vector<uint64_t> pages;  // offsets of the original pages the transaction changed
};
// The seal's bytes as they follow the header in the first sector (at most kSectorSize -
// kHeaderSize), bound to the header by its salt.
std::vector<unsigned char> encodeSeal(const Header& header, const Seal& seal);
// Empty when the bytes hold no intact seal of this header.
std::optional<Seal> decodeSeal(const Header& header, const unsigned char* bytes, size_t size);
// CRC-32C of the container's bytes that a transaction with this header and seal changed: each
// listed page within both lengths, in the seal's order, then the bytes from the original length
// to the new one. read gives size bytes at offset (false when it cannot).
std::optional<uint32_t> contentChecksum(
    const Header& header, const Seal& seal,
    const std::function<bool(uint64_t, size_t, unsigned char*)>& read);

// Whether the journal open as fd (or, by name, beside container) holds a transaction: an intact
// header of any version. A commit clears the header and leaves the file for the next session,
// so a journal without one (cleared, torn while being started, empty, missing) protects
// nothing. An unreadable journal counts as holding one: recovery then reports why.
bool holdsTransaction(int fd);
bool holdsTransaction(const std::string& container);

// Written over the first sector (header and seal) at the commit: a journal that holds no
// transaction.
inline constexpr unsigned char kClearedSector[kSectorSize] = {};

enum class Recovery {
    NoJournal,   // nothing to do
    Discarded,   // the journal was never completed, so the container was never touched
    RolledBack,  // the container is back at its last committed state
    Kept,        // the transaction had committed (its container matches the seal); only the
                 // journal's clearing was lost
    Removed      // the crashed transaction had created the container: it is gone again
};

struct RecoveryResult {
    bool ok = true;
    Recovery what = Recovery::NoJournal;
    std::string error;  // when !ok
};

// Rolls back the journal of the container at name. containerFd is that container opened
// read-write and locked exclusively by the caller, so no other process works on it. Fails
// when another process still owns the journal (a creation in progress) or on I/O errors; the
// journal then stays and the next open tries again, since rolling back twice is harmless.
RecoveryResult rollBack(const std::string& name, int containerFd);

}  // namespace Quellmar::qmxfile::journal

#endif
