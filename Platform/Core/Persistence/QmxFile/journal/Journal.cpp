#include "Journal.h"

#include "Crc32c.h"
#include "FileOps.h"
#include "PosixFile.h"

#include <algorithm>
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
// 2: checksums are CRC-32C (1 used the zlib polynomial, at a fifth of the speed). 3: records
// after the first sector, which may hold a seal.
bool knownVersion(uint32_t version) {
    return version == kPlainVersion || version == kSealedVersion;
}
constexpr unsigned char kSealMagic[8] = {'Q', 'M', 'X', 'S', 'E', 'A', 'L', '1'};
constexpr size_t kSealFixed =
    28;  // magic, new length, page count, content checksum; then pages, checksum
constexpr uint32_t kFlagCreated = 1;

void put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void put64(unsigned char* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t get32(const unsigned char* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
uint64_t get64(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
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

std::string journalName(const std::string& container) {
    return container + "-journal";
}

uint64_t recordsStart(const Header& header) {
    return header.version == kSealedVersion ? kSectorSize : kHeaderSize;
}

uint32_t checksum(const void* data, size_t size, uint32_t crc) {
    return crc32c::Extend(crc, data, size);
}

void encodeHeader(const Header& header, unsigned char (&out)[kHeaderSize]) {
    std::memset(out, 0, sizeof out);
    std::memcpy(out, kMagic, sizeof kMagic);
    put32(out + 8, header.version);
    put32(out + 12, header.created ? kFlagCreated : 0);
    put32(out + 16, header.pageSize);
    put64(out + 24, header.originalLength);
    put64(out + 32, header.salt);
    put32(out + 40, checksum(out, 40));
}

bool isForeignVersion(const unsigned char* bytes, size_t size) {
    return size >= kHeaderSize && std::memcmp(bytes, kMagic, sizeof kMagic) == 0 &&
           get32(bytes + 40) == checksum(bytes, 40) && !knownVersion(get32(bytes + 8));
}

std::optional<Header> decodeHeader(const unsigned char* bytes, size_t size) {
    if (size < kHeaderSize || std::memcmp(bytes, kMagic, sizeof kMagic) != 0)
        return std::nullopt;
    if (get32(bytes + 40) != checksum(bytes, 40) || !knownVersion(get32(bytes + 8)))
        return std::nullopt;
    Header h;
    h.version = get32(bytes + 8);
    h.created = (get32(bytes + 12) & kFlagCreated) != 0;
    h.pageSize = get32(bytes + 16);
    h.originalLength = get64(bytes + 24);
    h.salt = get64(bytes + 32);
    if (h.pageSize == 0 || h.pageSize > (1u << 24))
        return std::nullopt;
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
    if (record.size == 0 || record.size > header.pageSize)
        return false;
    if (record.offset % header.pageSize != 0)
        return false;
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
    if (!readFully(fd, bytes, sizeof bytes, 0, &got))
        return true;
    return decodeHeader(bytes, got).has_value() || isForeignVersion(bytes, got);
}

bool holdsTransaction(const std::string& container) {
    UniqueFd fd(fileOps().open(journalName(container).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return errno != ENOENT;
    return holdsTransaction(fd.get());
}

std::vector<unsigned char> encodeSeal(const Header& header, const Seal& seal) {
    std::vector<unsigned char> out(kSealFixed + 8 * seal.pages.size());
    unsigned char* p = out.data();
    std::memcpy(p, kSealMagic, sizeof kSealMagic);
    put64(p + 8, seal.newLength);
    put32(p + 16, static_cast<uint32_t>(seal.pages.size()));
    put32(p + 20, seal.content);
    for (size_t i = 0; i < seal.pages.size(); ++i)
        put64(p + 24 + 8 * i, seal.pages[i]);
    unsigned char salt[8];
    put64(salt, header.salt);
    const size_t body = out.size() - 4;
    put32(p + body, checksum(p, body, checksum(salt, sizeof salt)));
    return out;
}

std::optional<Seal> decodeSeal(const Header& header, const unsigned char* bytes, size_t size) {
    if (size < kSealFixed || std::memcmp(bytes, kSealMagic, sizeof kSealMagic) != 0)
        return std::nullopt;
    const uint32_t count = get32(bytes + 16);
    if (count > kMaxSealedPages || size < kSealFixed + 8 * size_t{count})
        return std::nullopt;
    const size_t body = 24 + 8 * size_t{count};
    unsigned char salt[8];
    put64(salt, header.salt);
    if (get32(bytes + body) != checksum(bytes, body, checksum(salt, sizeof salt)))
        return std::nullopt;
    Seal seal;
    seal.newLength = get64(bytes + 8);
    seal.content = get32(bytes + 20);
    for (uint32_t i = 0; i < count; ++i)
        seal.pages.push_back(get64(bytes + 24 + 8 * i));
    return seal;
}

std::optional<uint32_t> contentChecksum(
    const Header& header, const Seal& seal,
    const std::function<bool(uint64_t, size_t, unsigned char*)>& read) {
    std::vector<unsigned char> buffer(header.pageSize);
    uint32_t crc = 0;
    const uint64_t limit = std::min(header.originalLength, seal.newLength);
    for (uint64_t page : seal.pages) {
        if (page >= limit)
            continue;
        const size_t size = static_cast<size_t>(std::min<uint64_t>(header.pageSize, limit - page));
        if (!read(page, size, buffer.data()))
            return std::nullopt;
        crc = checksum(buffer.data(), size, crc);
    }
    for (uint64_t at = header.originalLength; at < seal.newLength;) {
        const size_t size =
            static_cast<size_t>(std::min<uint64_t>(buffer.size(), seal.newLength - at));
        if (!read(at, size, buffer.data()))
            return std::nullopt;
        crc = checksum(buffer.data(), size, crc);
        at += size;
    }
    return crc;
}

namespace {

// Whether the container holds what the seal says its transaction committed.
bool matchesSeal(int containerFd, const Header& header, const Seal& seal) {
    struct stat st {};
    if (fileOps().fstat(containerFd, &st) != 0 ||
        static_cast<uint64_t>(st.st_size) < seal.newLength)
        return false;
    const std::optional<uint32_t> content =
        contentChecksum(header, seal, [&](uint64_t at, size_t size, unsigned char* out) {
            size_t got = 0;
            return readFully(containerFd, out, size, static_cast<off_t>(at), &got) && got == size;
        });
    return content && *content == seal.content;
}

}  // namespace

RecoveryResult rollBack(const std::string& name, int containerFd) {
    const std::string jname = journalName(name);
    UniqueFd jfd(fileOps().open(jname.c_str(), O_RDWR | O_CLOEXEC));
    if (!jfd.valid()) {
        if (errno == ENOENT)
            return {};
        return failure("cannot open journal " + jname + ": " + errnoText(errno));
    }
    // A creating process holds its journal locked before the container exists.
    if (!tryLock(jfd.get(), true))
        return failure(lockFailure(name, errno));

    unsigned char headBytes[kSectorSize];
    size_t got = 0;
    if (!readFully(jfd.get(), headBytes, sizeof headBytes, 0, &got))
        return failure("cannot read journal " + jname + ": " + errnoText(errno));
    // A journal of another format version may hold pages we cannot read: leave everything as
    // it is rather than discard it.
    if (isForeignVersion(headBytes, got))
        return failure(
            "journal " + jname +
            " was written by another version of the library; the file needs recovery by it");
    const std::optional<Header> header = decodeHeader(headBytes, got);

    std::optional<Seal> seal;
    if (header && header->version == kSealedVersion && !header->created && got > kHeaderSize)
        seal = decodeSeal(*header, headBytes + kHeaderSize, got - kHeaderSize);

    RecoveryResult result;
    if (seal && matchesSeal(containerFd, *header, *seal)) {
        // Committed: only bytes a later transaction appended (never synced) go.
        if (fileOps().ftruncate(containerFd, static_cast<off_t>(seal->newLength)) != 0)
            return failure("cannot cut " + name + " to its committed length: " + errnoText(errno));
        if (!syncData(containerFd))
            return failure("cannot sync " + name + ": " + errnoText(errno));
        result.what = Recovery::Kept;
    } else if (!header) {
        // The header is written before the first change of the container, so a journal
        // without a whole header never protected anything.
        result.what = Recovery::Discarded;
    } else if (header->created) {
        if (fileOps().unlink(name.c_str()) != 0 && errno != ENOENT)
            return failure("cannot remove " + name + ": " + errnoText(errno));
        result.what = Recovery::Removed;
    } else {
        std::vector<unsigned char> page(header->pageSize);
        off_t at = static_cast<off_t>(recordsStart(*header));
        for (;;) {
            unsigned char rh[kRecordHeaderSize];
            if (!readFully(jfd.get(), rh, sizeof rh, at, &got))
                return failure("cannot read journal " + jname + ": " + errnoText(errno));
            if (got < sizeof rh)
                break;
            const RecordHeader record = decodeRecordHeader(rh);
            if (record.size == 0 || record.size > header->pageSize)
                break;
            if (!readFully(jfd.get(), page.data(), record.size, at + static_cast<off_t>(sizeof rh),
                           &got))
                return failure("cannot read journal " + jname + ": " + errnoText(errno));
            // A torn record was being written when the writer died; its page was not yet
            // overwritten, and nothing after it was.
            if (got < record.size || !recordIsValid(*header, record, page.data()))
                break;
            if (!writeFully(containerFd, page.data(), record.size,
                            static_cast<off_t>(record.offset)))
                return failure("cannot roll back " + name + ": " + errnoText(errno));
            at += static_cast<off_t>(sizeof rh + record.size);
        }
        if (fileOps().ftruncate(containerFd, static_cast<off_t>(header->originalLength)) != 0)
            return failure("cannot roll back " + name + ": " + errnoText(errno));
        if (!syncData(containerFd))
            return failure("cannot sync " + name + ": " + errnoText(errno));
        result.what = Recovery::RolledBack;
    }
    if (fileOps().unlink(jname.c_str()) != 0 && errno != ENOENT)
        return failure("cannot remove journal " + jname + ": " + errnoText(errno));
    syncParentDirectory(name);
    return result;
}

}  // namespace Quellmar::qmxfile::journal
