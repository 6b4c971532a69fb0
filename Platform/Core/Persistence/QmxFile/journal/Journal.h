#ifndef QUELLMAR_QMXFILE_JOURNAL_H
#define QUELLMAR_QMXFILE_JOURNAL_H

// The rollback journal beside a container file: NAME-journal holds the original bytes of every
// page that the running write transaction overwrote, and the container's length when the
// transaction began. While it exists the container may be half written; rolling back puts the
// pages back and cuts the container to that length. The layout is described in FORMAT.md.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Quellmar::qmxfile::journal {

constexpr uint32_t kPageSize = 4096;
constexpr size_t kHeaderSize = 48;
constexpr size_t kRecordHeaderSize = 16;

struct Header {
    bool created = false;         // the container did not exist before this transaction
    uint64_t originalLength = 0;  // container length when the transaction began
    uint64_t salt = 0;            // ties records to this journal
    uint32_t pageSize = kPageSize;
};

std::string journalName(const std::string& container);

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

// Whether the journal open as fd (or, by name, beside container) holds a transaction: an intact
// header of any version. A commit clears the header and leaves the file for the next session,
// so a journal without one (cleared, torn while being started, empty, missing) protects
// nothing. An unreadable journal counts as holding one: recovery then reports why.
bool holdsTransaction(int fd);
bool holdsTransaction(const std::string& container);

// Written over the header at the commit: a journal that holds no transaction.
inline constexpr unsigned char kClearedHeader[kHeaderSize] = {};

enum class Recovery {
    NoJournal,   // nothing to do
    Discarded,   // the journal was never completed, so the container was never touched
    RolledBack,  // the container is back at its last committed state
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
