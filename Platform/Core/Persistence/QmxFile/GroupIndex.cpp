// A version-1 group's member index read as stored; see GroupIndex.h for what is checked.
#include "GroupIndex.h"

#include "Hid.h"
#include "JournalDriver.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Quellmar::qmxfile {
namespace {

using Bytes = std::vector<unsigned char>;

// What the walk found wrong; thrown to the top, where it becomes the answer.
struct Damage {
    std::string what;
};

// Structure sizes and message types of the HDF5 file format.
constexpr std::size_t kHeaderPrefix = 16;  // version-1 object header prefix, padded to 8
constexpr std::size_t kMessagePrefix = 8;  // type, size, flags, three reserved bytes
constexpr unsigned kContinuationMessage = 0x10;
constexpr unsigned kSymbolTableMessage = 0x11;
constexpr std::size_t kNodePrefix = 8;     // signature, type or version, level, count
constexpr std::size_t kEntryTail = 24;     // cache type, reserved, scratch pad
// Bounds that no sound file reaches; damage must not send the walk on forever.
constexpr std::size_t kMaxHeaderBlocks = 1024;
constexpr unsigned kMaxLevel = 64;

std::uint64_t little(const unsigned char* p, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value |= std::uint64_t{p[i]} << (8 * i);
    return value;
}

std::string quote(const std::string& name) { return "\"" + name + "\""; }

// The container's bytes as stored, read through the descriptor HDF5 itself reads from.
class StoredFile {
public:
    StoredFile(int fd, std::uint64_t length, std::size_t addressSize, std::size_t lengthSize)
        : addressSize(addressSize), lengthSize(lengthSize), m_fd(fd), m_length(length) {}

    const std::size_t addressSize;  // bytes of a file address
    const std::size_t lengthSize;   // bytes of a length or heap offset

    Bytes read(std::uint64_t address, std::uint64_t size, const std::string& what) const {
        if (address > m_length || size > m_length - address)
            throw Damage{what + " lies outside the file"};
        Bytes bytes(static_cast<std::size_t>(size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = pread(m_fd, bytes.data() + done, bytes.size() - done,
                                    static_cast<off_t>(address + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw Damage{"cannot read " + what};
            done += static_cast<std::size_t>(n);
        }
        return bytes;
    }

    std::uint64_t address(const unsigned char* p) const { return little(p, addressSize); }
    std::uint64_t length(const unsigned char* p) const { return little(p, lengthSize); }

private:
    int m_fd;
    std::uint64_t m_length;
};

struct SymbolTable {
    std::uint64_t tree;
    std::uint64_t heap;
};

// The symbol-table message of a version-1 object header; none for other headers and for
// groups that keep their links elsewhere.
std::optional<SymbolTable> symbolTableOf(const StoredFile& file, std::uint64_t header) {
    const Bytes prefix = file.read(header, kHeaderPrefix, "the group's header");
    if (prefix[0] != 1) return std::nullopt;
    struct Block {
        std::uint64_t address;
        std::uint64_t size;
    };
    std::vector<Block> blocks{{header + kHeaderPrefix, little(&prefix[8], 4)}};
    std::optional<SymbolTable> table;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        if (b == kMaxHeaderBlocks) throw Damage{"the group's header continues without end"};
        const Bytes block = file.read(blocks[b].address, blocks[b].size, "a block of the group's header");
        for (std::size_t at = 0; at + kMessagePrefix <= block.size();) {
            const unsigned type = static_cast<unsigned>(little(&block[at], 2));
            const std::size_t size = static_cast<std::size_t>(little(&block[at + 2], 2));
            const unsigned char* body = block.data() + at + kMessagePrefix;
            if (size > block.size() - at - kMessagePrefix)
                throw Damage{"a message of the group's header runs past its block"};
            if (type == kContinuationMessage && size >= file.addressSize + file.lengthSize) {
                blocks.push_back({file.address(body), file.length(body + file.addressSize)});
            } else if (type == kSymbolTableMessage && size >= 2 * file.addressSize) {
                if (table) throw Damage{"the group's header holds two symbol tables"};
                table = SymbolTable{file.address(body), file.address(body + file.addressSize)};
            }
            at += kMessagePrefix + size;
        }
    }
    return table;
}

// Walks the B-tree of one group in key order.
class IndexWalk {
public:
    IndexWalk(const StoredFile& file, unsigned leafK, unsigned internalK)
        : m_file(file), m_leafK(leafK), m_internalK(internalK) {}

    void run(const SymbolTable& table) {
        loadHeap(table.heap);
        visitTree(table.tree, std::nullopt);
    }

private:
    void loadHeap(std::uint64_t address) {
        const std::size_t headerSize = kNodePrefix + 2 * m_file.lengthSize + m_file.addressSize;
        const Bytes header = m_file.read(address, headerSize, "the group's name heap");
        if (std::memcmp(header.data(), "HEAP", 4) != 0 || header[4] != 0)
            throw Damage{"the group's name heap has no heap signature"};
        const std::uint64_t size = m_file.length(&header[kNodePrefix]);
        const std::uint64_t data = m_file.address(&header[kNodePrefix + 2 * m_file.lengthSize]);
        m_heap = m_file.read(data, size, "the group's name heap");
    }

    std::string nameAt(std::uint64_t offset) const {
        if (offset >= m_heap.size()) throw Damage{"a member name lies outside the group's name heap"};
        const void* end = std::memchr(&m_heap[offset], 0, m_heap.size() - offset);
        if (!end) throw Damage{"a member name runs past the end of the group's name heap"};
        const auto* first = &m_heap[offset];
        return std::string(first, static_cast<const unsigned char*>(end));
    }

    void firstVisit(std::uint64_t address) {
        if (!m_seen.insert(address).second) throw Damage{"the member index reaches one node twice"};
    }

    void visitTree(std::uint64_t address, std::optional<unsigned> level) {
        firstVisit(address);
        const std::size_t prefix = kNodePrefix + 2 * m_file.addressSize;  // and two siblings
        const Bytes header = m_file.read(address, prefix, "a node of the member index");
        if (std::memcmp(header.data(), "TREE", 4) != 0 || header[4] != 0)
            throw Damage{"a node of the member index is not a group B-tree node"};
        const unsigned nodeLevel = header[5];
        const std::size_t entries = static_cast<std::size_t>(little(&header[6], 2));
        if (nodeLevel > kMaxLevel || (level && nodeLevel != *level))
            throw Damage{"a node of the member index is at level " + std::to_string(nodeLevel) +
                         (level ? ", expected " + std::to_string(*level) : std::string())};
        if (entries > 2 * std::size_t{m_internalK})
            throw Damage{"a node of the member index claims " + std::to_string(entries) +
                         " children, more than the file allows"};
        // Keys and children alternate, with one key more than children.
        const std::size_t step = m_file.lengthSize + m_file.addressSize;
        const Bytes body = m_file.read(address + prefix, entries * step + m_file.lengthSize,
                                       "a node of the member index");
        for (std::size_t i = 0; i < entries; ++i) {
            const std::uint64_t child = m_file.address(&body[i * step + m_file.lengthSize]);
            if (nodeLevel > 0) visitTree(child, nodeLevel - 1);
            else visitNode(child, nameAt(m_file.length(&body[(i + 1) * step])));
        }
    }

    void visitNode(std::uint64_t address, const std::string& rightKey) {
        firstVisit(address);
        const Bytes header = m_file.read(address, kNodePrefix, "a symbol-table node");
        if (std::memcmp(header.data(), "SNOD", 4) != 0 || header[4] != 1)
            throw Damage{"a symbol-table node has no node signature"};
        const std::size_t count = static_cast<std::size_t>(little(&header[6], 2));
        if (count == 0) throw Damage{"a symbol-table node lists no members"};
        if (count > 2 * std::size_t{m_leafK})
            throw Damage{"a symbol-table node claims " + std::to_string(count) +
                         " members, more than the file allows"};
        const std::size_t entry = m_file.lengthSize + m_file.addressSize + kEntryTail;
        const Bytes body = m_file.read(address + kNodePrefix, count * entry, "a symbol-table node");
        for (std::size_t i = 0; i < count; ++i) {
            std::string name = nameAt(m_file.length(&body[i * entry]));
            if (m_previous && !(*m_previous < name))
                throw Damage{"member " + quote(name) + " is listed after " + quote(*m_previous)};
            m_previous = std::move(name);
        }
        // A node that lost members at its end still ends before its key.
        if (*m_previous != rightKey)
            throw Damage{"a symbol-table node ends at " + quote(*m_previous) +
                         " but the index says " + quote(rightKey)};
    }

    const StoredFile& m_file;
    const unsigned m_leafK;
    const unsigned m_internalK;
    Bytes m_heap;
    std::set<std::uint64_t> m_seen;
    std::optional<std::string> m_previous;  // the last name seen, in index order
};

}  // namespace

std::string groupIndexProblem(hid_t group) {
    Hid file(H5Iget_file_id(group));
    unsigned intent = 0;
    if (!file || H5Fget_intent(file.get(), &intent) < 0 || (intent & H5F_ACC_RDWR)) return {};
    Hid creation(H5Fget_create_plist(file.get()));
    std::size_t addressSize = 0;
    std::size_t lengthSize = 0;
    unsigned internalK = 0;
    unsigned leafK = 0;
    hsize_t userBlock = 0;
    if (!creation || H5Pget_sizes(creation.get(), &addressSize, &lengthSize) < 0 ||
        H5Pget_sym_k(creation.get(), &internalK, &leafK) < 0 ||
        H5Pget_userblock(creation.get(), &userBlock) < 0 || userBlock != 0 || addressSize > 8 ||
        lengthSize > 8)
        return {};
    // Only drivers whose handle is the POSIX descriptor of the whole file.
    Hid access(H5Fget_access_plist(file.get()));
    const hid_t driver = access ? H5Pget_driver(access.get()) : H5I_INVALID_HID;
    void* handle = nullptr;
    if (driver < 0 || (driver != H5FD_SEC2 && driver != journalDriverId()) ||
        H5Fget_vfd_handle(file.get(), access.get(), &handle) < 0 || !handle)
        return {};
    const int fd = *static_cast<int*>(handle);
    struct stat status;
    H5O_info_t info;
    if (fstat(fd, &status) != 0 || H5Oget_info2(group, &info, H5O_INFO_BASIC) < 0) return {};

    const StoredFile stored(fd, static_cast<std::uint64_t>(status.st_size), addressSize, lengthSize);
    try {
        const std::optional<SymbolTable> table = symbolTableOf(stored, info.addr);
        if (table) IndexWalk(stored, leafK, internalK).run(*table);
    } catch (const Damage& damage) {
        return damage.what;
    }
    return {};
}

}  // namespace Quellmar::qmxfile
