// Where the bytes of the objects a host read lie in the container file: the campaign aims its
// "raw data" damage there, and its "metadata" damage everywhere else. Found by content: each
// 512-byte piece of an object's bytes that occurs exactly once in the file (pieces follow each
// other in contiguous storage and within chunks, so chunk sizes that are multiples of 512 are
// found too). Compressed or converted data is simply not found.
#ifndef QMX_HOSTREAD_STOREDRANGES_H
#define QMX_HOSTREAD_STOREDRANGES_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace Quellmar::hostread {

using ByteRange = std::pair<std::size_t, std::size_t>;  // [first, end)

class StoredRanges {
public:
    explicit StoredRanges(std::string fileBytes) : m_file(std::move(fileBytes)) {}

    // Adds the ranges of this data; pieces shorter than 16 bytes are too common to place.
    void locate(const unsigned char* data, std::size_t size);
    // Sorted, with touching ranges merged.
    std::vector<ByteRange> ranges() const;

private:
    // Offset of the only occurrence of the piece, or npos.
    std::size_t unique(const char* piece, std::size_t size) const;

    std::string m_file;
    std::vector<ByteRange> m_found;
};

}  // namespace Quellmar::hostread

#endif
