// A version-1 group's member index read as stored; see GroupIndex.h for what is checked.
#include "GroupIndex.h"

#include "Hid.h"
#include "ObjectHeader.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <set>

namespace Quellmar::qmxfile {
namespace {

// Structure sizes of the HDF5 file format.
constexpr std::size_t kNodePrefix = 8;  // signature, type or version, level, count
constexpr std::size_t kEntryTail = 24;  // cache type, reserved, scratch pad
// Bounds that no sound file reaches; damage must not send the walk on forever.
constexpr unsigned kMaxLevel = 64;

std::string quote(const std::string& name) {
    return "\"" + name + "\"";
}

// Walks the B-tree of one group in key order.
class IndexWalk {
public:
    IndexWalk(const StoredFile& file, unsigned leafK, unsigned internalK,
              std::unordered_map<std::string, std::uint64_t>* members = nullptr)
        : m_file(file), m_leafK(leafK), m_internalK(internalK), m_members(members) {}

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
        const std::uint64_t size = m_file.size(&header[kNodePrefix]);
        const std::uint64_t data = m_file.address(&header[kNodePrefix + 2 * m_file.lengthSize]);
        m_heap = m_file.read(data, size, "the group's name heap");
    }

    std::string nameAt(std::uint64_t offset) const {
        if (offset >= m_heap.size())
            throw Damage{"a member name lies outside the group's name heap"};
        const void* end = std::memchr(&m_heap[offset], 0, m_heap.size() - offset);
        if (!end)
            throw Damage{"a member name runs past the end of the group's name heap"};
        const auto* first = &m_heap[offset];
        return std::string(first, static_cast<const unsigned char*>(end));
    }

    void firstVisit(std::uint64_t address) {
        if (!m_seen.insert(address).second)
            throw Damage{"the member index reaches one node twice"};
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
            if (nodeLevel > 0)
                visitTree(child, nodeLevel - 1);
            else
                visitNode(child, nameAt(m_file.size(&body[(i + 1) * step])));
        }
    }

    void visitNode(std::uint64_t address, const std::string& rightKey) {
        firstVisit(address);
        const Bytes header = m_file.read(address, kNodePrefix, "a symbol-table node");
        if (std::memcmp(header.data(), "SNOD", 4) != 0 || header[4] != 1)
            throw Damage{"a symbol-table node has no node signature"};
        const std::size_t count = static_cast<std::size_t>(little(&header[6], 2));
        if (count == 0)
            throw Damage{"a symbol-table node lists no members"};
        if (count > 2 * std::size_t{m_leafK})
            throw Damage{"a symbol-table node claims " + std::to_string(count) +
                         " members, more than the file allows"};
        const std::size_t entry = m_file.lengthSize + m_file.addressSize + kEntryTail;
        const Bytes body = m_file.read(address + kNodePrefix, count * entry, "a symbol-table node");
        for (std::size_t i = 0; i < count; ++i) {
            std::string name = nameAt(m_file.size(&body[i * entry]));
            if (m_previous && *m_previous == name)
                throw Damage{"member " + quote(name) + " is listed twice"};
            if (m_previous && !(*m_previous < name))
                throw Damage{"member " + quote(name) + " is listed after " + quote(*m_previous)};
            if (m_members) {  // a soft link (cache type 2) has no header of its own
                const unsigned char* fields = &body[i * entry + m_file.lengthSize];
                const bool soft = little(fields + m_file.addressSize, 4) == 2;
                (*m_members)[name] = soft ? ~std::uint64_t{0} : m_file.address(fields);
            }
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
    std::unordered_map<std::string, std::uint64_t>* m_members;
    Bytes m_heap;
    std::set<std::uint64_t> m_seen;
    std::optional<std::string> m_previous;  // the last name seen, in index order
};

}  // namespace

void checkMemberIndex(const StoredFile& file, const SymbolTable& table,
                      std::unordered_map<std::string, std::uint64_t>* members) {
    IndexWalk(file, file.leafK, file.internalK, members).run(table);
}

Damage groupIndexProblem(hid_t group) {
    Hid file(H5Iget_file_id(group));
    unsigned intent = 0;
    if (!file || H5Fget_intent(file.get(), &intent) < 0 || (intent & H5F_ACC_RDWR))
        return {};
    const std::optional<StoredFile> stored = StoredFile::of(group);
    H5O_info_t info;
    if (!stored || H5Oget_info2(group, &info, H5O_INFO_BASIC) < 0)
        return {};
    try {
        const HeaderFacts facts = checkObjectHeaderAndShared(*stored, info.addr);
        if (facts.symbolTable)
            checkMemberIndex(*stored, *facts.symbolTable);
    } catch (const Damage& damage) {
        return damage;
    }
    return {};
}

}  // namespace Quellmar::qmxfile
