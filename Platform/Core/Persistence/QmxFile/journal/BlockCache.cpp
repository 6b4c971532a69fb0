#include "BlockCache.h"

#include "PosixFile.h"

#include <algorithm>
#include <cstring>

namespace Quellmar::qmxfile {

const unsigned char* BlockCache::block(uint64_t index) {
    auto found = m_blocks.find(index);
    if (found != m_blocks.end())
        return found->second.get();
    // A bounded cache that forgets everything at once: simple, and the blocks HDF5 needs
    // again come back with the next few reads.
    if ((m_blocks.size() + 1) * kBlockSize > m_maxBytes)
        m_blocks.clear();
    Block bytes(new unsigned char[kBlockSize]);
    size_t got = 0;
    if (!readFully(m_fd, bytes.get(), kBlockSize, static_cast<off_t>(index * kBlockSize), &got))
        return nullptr;
    std::memset(bytes.get() + got, 0, kBlockSize - got);
    return m_blocks.emplace(index, std::move(bytes)).first->second.get();
}

bool BlockCache::read(uint64_t addr, size_t size, unsigned char* out) {
    if (size >= kLargeRead) {
        size_t got = 0;
        if (!readFully(m_fd, out, size, static_cast<off_t>(addr), &got))
            return false;
        std::memset(out + got, 0, size - got);
        return true;
    }
    const uint64_t end = addr + size;
    for (uint64_t pos = addr; pos < end;) {
        const uint64_t index = pos / kBlockSize;
        const unsigned char* bytes = block(index);
        if (!bytes)
            return false;
        const uint64_t start = index * kBlockSize;
        const uint64_t stop = std::min(end, start + kBlockSize);
        std::memcpy(out + (pos - addr), bytes + (pos - start), stop - pos);
        pos = stop;
    }
    return true;
}

void BlockCache::write(uint64_t addr, size_t size, const unsigned char* data) {
    if (m_blocks.empty() || size == 0)
        return;
    const uint64_t end = addr + size;
    for (uint64_t index = addr / kBlockSize; index * kBlockSize < end; ++index) {
        auto found = m_blocks.find(index);
        if (found == m_blocks.end())
            continue;
        const uint64_t start = index * kBlockSize;
        const uint64_t lo = std::max(addr, start);
        const uint64_t hi = std::min(end, start + kBlockSize);
        std::memcpy(found->second.get() + (lo - start), data + (lo - addr), hi - lo);
    }
}

void BlockCache::truncate(uint64_t length) {
    for (auto it = m_blocks.begin(); it != m_blocks.end();) {
        const uint64_t start = it->first * kBlockSize;
        if (start >= length) {
            it = m_blocks.erase(it);
            continue;
        }
        if (length < start + kBlockSize)
            std::memset(it->second.get() + (length - start), 0, start + kBlockSize - length);
        ++it;
    }
}

}  // namespace Quellmar::qmxfile
