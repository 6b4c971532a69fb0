#include "ObjectHeader.h"

#include <cstring>
#include <set>
#include <string>

namespace Quellmar::qmxfile {
namespace {

constexpr unsigned kContinuation = 0x10;
constexpr std::size_t kMaxBlocks = 1024;  // no sound header comes near; damage must end the walk
constexpr unsigned kMaxTreeLevel = 64;

struct Block {
    std::uint64_t address;
    std::uint64_t size;
};

class HeaderWalk {
public:
    HeaderWalk(const StoredFile& file, const SharedHeaderCheck& shared)
        : m_file(file), m_shared(shared) {}

    HeaderFacts run(std::uint64_t address) {
        if (m_file.undefined(address))
            throw Damage{"the object's address is undefined"};
        const Bytes first = m_file.read(address, 16, "the object's header");
        if (std::memcmp(first.data(), "OHDR", 4) == 0)
            startVersion2(address, first);
        else
            startVersion1(address, first);
        for (std::size_t b = 0; b < m_blocks.size(); ++b) {
            if (b == kMaxBlocks)
                throw Damage{"the header continues without end"};
            walkBlock(b);
        }
        checkLinks(m_facts, m_file);
        if (m_facts.compactSize && m_facts.elements && m_facts.typeSize &&
            (m_facts.elements > ~std::uint64_t{0} / *m_facts.typeSize ||
             *m_facts.elements * *m_facts.typeSize != *m_facts.compactSize))
            throw Damage{"the compact data's size does not match the dataset's shape"};
        if (m_facts.chunkIndex)
            checkChunkIndex(m_file, *m_facts.chunkIndex, m_facts.chunkRank);
        return m_facts;
    }

private:
    void startVersion1(std::uint64_t address, const Bytes& first) {
        if (first[0] != 1)
            throw Damage{"the header has unknown version " + std::to_string(first[0])};
        m_version = 1;
        addBlock({address + 16, little(&first[8], 4)});
    }

    void startVersion2(std::uint64_t address, const Bytes& first) {
        if (first[4] != 2)
            throw Damage{"the header has unknown version " + std::to_string(first[4])};
        const unsigned flags = first[5];
        if (flags & ~0x3fu)
            throw Damage{"the header has unknown flags"};
        m_version = 2;
        m_orderTracked = (flags & 0x04) != 0;
        std::uint64_t at = address + 6 + ((flags & 0x20) ? 16 : 0) + ((flags & 0x10) ? 4 : 0);
        const std::size_t width = std::size_t{1} << (flags & 3);
        const std::uint64_t size =
            little(m_file.read(at, width, "the object's header").data(), width);
        at += width;
        // The messages, then the header's checksum (which HDF5 verifies itself).
        if (!m_file.inside(at, size) || !m_file.inside(at + size, 4))
            throw Damage{"the header lies outside the file"};
        addBlock({at, size});
    }

    void addBlock(Block block) {
        for (const Block& known : m_blocks)
            if (known.address == block.address)
                throw Damage{"the header continues into one block twice"};
        m_blocks.push_back(block);
    }

    void walkBlock(std::size_t index) {
        const Block block = m_blocks[index];
        Bytes bytes = m_file.read(block.address, block.size, "a block of the header");
        std::size_t at = 0;
        std::size_t end = bytes.size();
        if (m_version == 2 && index > 0) {  // "OCHK", the messages, the checksum
            if (end < 8 || std::memcmp(bytes.data(), "OCHK", 4) != 0)
                throw Damage{"a continuation block of the header has no signature"};
            at = 4;
            end -= 4;
        }
        const std::size_t prefix = m_version == 1 ? 8 : (m_orderTracked ? 6 : 4);
        while (at < end) {
            if (end - at < prefix) {
                if (m_version == 2)
                    break;  // a gap HDF5 leaves at the end of a block
                throw Damage{"a message of the header runs past its block"};
            }
            const unsigned char* p = bytes.data() + at;
            const unsigned type = m_version == 1 ? static_cast<unsigned>(little(p, 2)) : p[0];
            const std::size_t size =
                static_cast<std::size_t>(little(p + (m_version == 1 ? 2 : 1), 2));
            const unsigned flags = p[m_version == 1 ? 4 : 3];
            if (size > end - at - prefix)
                throw Damage{"a message of the header runs past its block"};
            const unsigned char* body = p + prefix;
            if (type == kContinuation) {
                Cursor c(body, size, "a continuation message");
                const std::uint64_t address = m_file.address(c.take(m_file.addressSize));
                const std::uint64_t length = m_file.size(c.take(m_file.lengthSize));
                if (length == 0 || m_file.undefined(address) || !m_file.inside(address, length))
                    throw Damage{"the header continues outside the file"};
                addBlock({address, length});
            } else {
                checkMessage(type, (flags & 0x02) != 0, Cursor(body, size, messageName(type)),
                             m_file, m_facts, m_shared);
            }
            at += prefix + size;
        }
    }

    static const char* messageName(unsigned type) {
        switch (type) {
            case 0x01:
                return "a dataspace message";
            case 0x03:
                return "a datatype message";
            case 0x08:
                return "a layout message";
            case 0x0B:
                return "a filter pipeline message";
            case 0x0C:
                return "an attribute message";
            case 0x05:
            case 0x04:
                return "a fill value message";
            case 0x06:
                return "a link message";
            default:
                return "a header message";
        }
    }

    const StoredFile& m_file;
    const SharedHeaderCheck& m_shared;
    unsigned m_version = 1;
    bool m_orderTracked = false;
    std::vector<Block> m_blocks;
    HeaderFacts m_facts;
};

class ChunkWalk {
public:
    ChunkWalk(const StoredFile& file, unsigned rank) : m_file(file), m_rank(rank) {}

    void visit(std::uint64_t address, std::optional<unsigned> level) {
        if (!m_seen.insert(address).second)
            throw Damage{"the chunk index reaches one node twice"};
        const std::size_t prefix = 8 + 2 * m_file.addressSize;
        const Bytes header = m_file.read(address, prefix, "a node of the chunk index");
        if (std::memcmp(header.data(), "TREE", 4) != 0 || header[4] != 1)
            throw Damage{"a node of the chunk index is not a chunk B-tree node"};
        const unsigned nodeLevel = header[5];
        if (nodeLevel > kMaxTreeLevel || (level && nodeLevel != *level))
            throw Damage{"a node of the chunk index is at the wrong level"};
        const std::size_t entries = static_cast<std::size_t>(little(&header[6], 2));
        // Key: chunk size (4), filter mask (4), one 8-byte offset per dimension.
        const std::size_t key = 8 + 8 * std::size_t{m_rank};
        const std::size_t step = key + m_file.addressSize;
        const Bytes body =
            m_file.read(address + prefix, entries * step + key, "a node of the chunk index");
        for (std::size_t i = 0; i < entries; ++i) {
            const unsigned char* entry = &body[i * step];
            const std::uint64_t child = m_file.address(entry + key);
            if (nodeLevel > 0) {
                visit(child, nodeLevel - 1);
            } else if (!m_file.inside(child, little(entry, 4)) || m_file.undefined(child)) {
                throw Damage{"a chunk lies outside the file"};
            }
        }
    }

private:
    const StoredFile& m_file;
    const unsigned m_rank;
    std::set<std::uint64_t> m_seen;
};

}  // namespace

HeaderFacts checkObjectHeader(const StoredFile& file, std::uint64_t address,
                              const SharedHeaderCheck& sharedHeader) {
    return HeaderWalk(file, sharedHeader).run(address);
}

namespace {

HeaderFacts checkNested(const StoredFile& file, std::uint64_t address, unsigned depth) {
    if (depth > 8)
        throw Damage{"shared messages point on too deeply"};
    const SharedHeaderCheck shared = [&](std::uint64_t target) {
        if (target == address)
            throw Damage{"a shared message points at its own header"};
        return checkNested(file, target, depth + 1);
    };
    return checkObjectHeader(file, address, shared);
}

}  // namespace

HeaderFacts checkObjectHeaderAndShared(const StoredFile& file, std::uint64_t address) {
    return checkNested(file, address, 0);
}

void checkChunkIndex(const StoredFile& file, std::uint64_t address, unsigned rank) {
    ChunkWalk(file, rank).visit(address, std::nullopt);
}

}  // namespace Quellmar::qmxfile
