#include "Journal.h"

#include "Crc32c.h"
#include "FileOps.h"
#include "PosixFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace Quellmar::qmxfile::journal {
namespace {

constexpr unsigned char kMagic[8] = {'Q', 'M', 'X', 'J', 'R', 'N', 'L', '1'};
// 2: checksums are CRC-32C (1 used the zlib polynomial, at a fifth of the speed).
constexpr uint32_t kVersion = 2;
constexpr uint32_t kFlagCreated = 1;

void put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void put64(unsigned char* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t get32(const unsigned char* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
uint64_t get64(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

uint32_t recordChecksum(uint64_t salt, const unsigned char* head12, const unsigned char* data,
                        uint32_t size) {
    unsigned char saltBytes[8];
    put64(saltBytes, salt);
    uint32_t crc = checksum(saltBytes, sizeof saltBytes);
    crc = checksum(head12, 12, crc);
    return checksum(data, size, crc);
}

RecoveryResult failure(std::string text) {
    RecoveryResult r;
    r.ok = false;
    r.error = std::move(text);
    return r;
}

}  // namespace

std::string journalName(const std::string& container) { return container + "-journal"; }

uint32_t checksum(const void* data, size_t size, uint32_t crc) { return crc32c::Extend(crc, data, size); }

void encodeHeader(const Header& header, unsigned char (&out)[kHeaderSize]) {
    std::memset(out, 0, sizeof out);
    std::memcpy(out, kMagic, sizeof kMagic);
    put32(out + 8, kVersion);
    put32(out + 12, header.created ? kFlagCreated : 0);
    put32(out + 16, header.pageSize);
    put64(out + 24, header.originalLength);
    put64(out + 32, header.salt);
    put32(out + 40, checksum(out, 40));
}

bool isForeignVersion(const unsigned char* bytes, size_t size) {
    return size >= kHeaderSize && std::memcmp(bytes, kMagic, sizeof kMagic) == 0 &&
           get32(bytes + 40) == checksum(bytes, 40) && get32(bytes + 8) != kVersion;
}

std::optional<Header> decodeHeader(const unsigned char* bytes, size_t size) {
    if (size < kHeaderSize || std::memcmp(bytes, kMagic, sizeof kMagic) != 0) return std::nullopt;
    if (get32(bytes + 40) != checksum(bytes, 40) || get32(bytes + 8) != kVersion) return std::nullopt;
    Header h;
    h.created = (get32(bytes + 12) & kFlagCreated) != 0;
    h.pageSize = get32(bytes + 16);
    h.originalLength = get64(bytes + 24);
    h.salt = get64(bytes + 32);
    if (h.pageSize == 0 || h.pageSize > (1u << 24)) return std::nullopt;
    return h;
}

void appendRecord(std::vector<unsigned char>& out, uint64_t salt, uint64_t offset,
                  const unsigned char* data, uint32_t size) {
    const size_t at = out.size();
    out.resize(at + kRecordHeaderSize + size);
    unsigned char* p = out.data() + at;
    put64(p, offset);
    put32(p + 8, size);
    std::memcpy(p + kRecordHeaderSize, data, size);
    put32(p + 12, recordChecksum(salt, p, p + kRecordHeaderSize, size));
}

RecordHeader decodeRecordHeader(const unsigned char (&bytes)[kRecordHeaderSize]) {
    return RecordHeader{get64(bytes), get32(bytes + 8), get32(bytes + 12)};
}

bool recordIsValid(const Header& header, const RecordHeader& record, const unsigned char* data) {
    if (record.size == 0 || record.size > header.pageSize) return false;
    if (record.offset % header.pageSize != 0) return false;
    if (record.offset >= header.originalLength ||
        record.size > header.originalLength - record.offset)
        return false;
    unsigned char head[12];
    put64(head, record.offset);
    put32(head + 8, record.size);
    return recordChecksum(header.salt, head, data, record.size) == record.checksum;
}

uint64_t newSalt() {
    // Random once per process, then distinct per journal: reading the random device for every
    // transaction was a measurable part of a small commit.
    static const uint64_t base = [] {
        std::random_device device;
        return (static_cast<uint64_t>(device()) << 32) ^ device();
    }();
    static std::atomic<uint64_t> counter{0};
    return base ^ (++counter * 0x9E3779B97F4A7C15ull);
}

bool holdsTransaction(int fd) {
    unsigned char bytes[kHeaderSize];
    size_t got = 0;
    if (!readFully(fd, bytes, sizeof bytes, 0, &got)) return true;
    return decodeHeader(bytes, got).has_value() || isForeignVersion(bytes, got);
}

bool holdsTransaction(const std::string& container) {
    UniqueFd fd(fileOps().open(journalName(container).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return errno != ENOENT;
    return holdsTransaction(fd.get());
}

RecoveryResult rollBack(const std::string& name, int containerFd) {
    const std::string jname = journalName(name);
    UniqueFd jfd(fileOps().open(jname.c_str(), O_RDWR | O_CLOEXEC));
    if (!jfd.valid()) {
        if (errno == ENOENT) return {};
        return failure("cannot open journal " + jname + ": " + errnoText(errno));
    }
    // A creating process holds its journal locked before the container exists.
    if (!tryLock(jfd.get(), true)) return failure("File " + name + " is in use by another process");

    unsigned char headBytes[kHeaderSize];
    size_t got = 0;
    if (!readFully(jfd.get(), headBytes, sizeof headBytes, 0, &got))
        return failure("cannot read journal " + jname + ": " + errnoText(errno));
    // A journal of another format version may hold pages we cannot read: leave everything as
    // it is rather than discard it.
    if (isForeignVersion(headBytes, got))
        return failure("journal " + jname + " was written by another version of the library; the file needs recovery by it");
    const std::optional<Header> header = decodeHeader(headBytes, got);

    RecoveryResult result;
    if (!header) {
        // The header is written before the first change of the container, so a journal
        // without a whole header never protected anything.
        result.what = Recovery::Discarded;
    } else if (header->created) {
        if (fileOps().unlink(name.c_str()) != 0 && errno != ENOENT)
            return failure("cannot remove " + name + ": " + errnoText(errno));
        result.what = Recovery::Removed;
    } else {
        std::vector<unsigned char> page(header->pageSize);
        off_t at = static_cast<off_t>(kHeaderSize);
        for (;;) {
            unsigned char rh[kRecordHeaderSize];
            if (!readFully(jfd.get(), rh, sizeof rh, at, &got))
                return failure("cannot read journal " + jname + ": " + errnoText(errno));
            if (got < sizeof rh) break;
            const RecordHeader record = decodeRecordHeader(rh);
            if (record.size == 0 || record.size > header->pageSize) break;
            if (!readFully(jfd.get(), page.data(), record.size, at + static_cast<off_t>(sizeof rh), &got))
                return failure("cannot read journal " + jname + ": " + errnoText(errno));
            // A torn record was being written when the writer died; its page was not yet
            // overwritten, and nothing after it was.
            if (got < record.size || !recordIsValid(*header, record, page.data())) break;
            if (!writeFully(containerFd, page.data(), record.size, static_cast<off_t>(record.offset)))
                return failure("cannot roll back " + name + ": " + errnoText(errno));
            at += static_cast<off_t>(sizeof rh + record.size);
        }
        if (fileOps().ftruncate(containerFd, static_cast<off_t>(header->originalLength)) != 0)
            return failure("cannot roll back " + name + ": " + errnoText(errno));
        if (!syncData(containerFd)) return failure("cannot sync " + name + ": " + errnoText(errno));
        result.what = Recovery::RolledBack;
    }
    if (fileOps().unlink(jname.c_str()) != 0 && errno != ENOENT)
        return failure("cannot remove journal " + jname + ": " + errnoText(errno));
    syncParentDirectory(name);
    return result;
}

}  // namespace Quellmar::qmxfile::journal
