#ifndef QUELLMAR_QMXFILE_BLOCKCACHE_H
#define QUELLMAR_QMXFILE_BLOCKCACHE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>

namespace Quellmar::qmxfile {

// The bytes of one open file, in aligned blocks, as they are on disk. HDF5 reads its metadata
// in many small pieces; served from here, a small transaction makes a few reads instead of
// dozens (each a system call). Valid only while nobody else writes the file: the owner holds
// the file's lock and reports every change it makes through write() and truncate().
// Past the end of the file a block holds zeros, as a read there returns.
class BlockCache {
public:
    // A page: a unit that reads a few scattered headers (an item's, its checksum table's)
    // copies little more than it uses; 16 KiB blocks made a row read 7-10% slower.
    static constexpr size_t kBlockSize = 4 * 1024;
    // Reads of at least this many bytes go straight to the file: they gain nothing here.
    static constexpr size_t kLargeRead = kBlockSize;

    explicit BlockCache(int fd, size_t maxBytes = 16u << 20) : m_fd(fd), m_maxBytes(maxBytes) {}

    // Copies [addr, addr + size) into out; false with errno set when a read fails.
    bool read(uint64_t addr, size_t size, unsigned char* out);
    // The file's bytes at addr are now these.
    void write(uint64_t addr, size_t size, const unsigned char* data);
    // The file is now this long.
    void truncate(uint64_t length);

private:
    using Block = std::unique_ptr<unsigned char[]>;
    const unsigned char* block(uint64_t index);

    int m_fd;
    size_t m_maxBytes;
    std::unordered_map<uint64_t, Block> m_blocks;
};

}  // namespace Quellmar::qmxfile

#endif
