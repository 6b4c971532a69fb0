// One CRC-32C per fixed-size slice of a byte stream: a large data item carries these instead of
// one CRC over all of it, so that reading a range checks only the slices it touches and an
// append extends the last one.
#ifndef QUELLMAR_QMXFILE_SLICECRCS_H
#define QUELLMAR_QMXFILE_SLICECRCS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Quellmar::qmxfile {

class SliceCrcs {
public:
    // Sums bytes fed from the start of a slice: `crcs` holds those of the slices before (the
    // last of them holding `lastBytes`, which it extends while short of sliceBytes).
    explicit SliceCrcs(std::size_t sliceBytes, std::vector<std::uint32_t> crcs = {},
                       std::size_t lastBytes = 0);
    // Appends bytes: they extend the last slice until it is full, then start new ones.
    void add(const void* bytes, std::size_t size);
    // Bytes of the last slice so far while it is short of sliceBytes, else 0: where the next
    // byte falls in its slice.
    std::size_t fill() const;
    // Appends the sums of bytes that follow this one's, made apart by
    // SliceCrcs(sliceBytes(), {}, 0) when fill() was 0 and SliceCrcs(sliceBytes(), {0}, fill())
    // otherwise (its first slice then sums only the bytes that complete this one's last).
    void append(const SliceCrcs& later);
    const std::vector<std::uint32_t>& crcs() const { return m_crcs; }
    std::size_t sliceBytes() const { return m_sliceBytes; }
    // Merges neighbours into slices of twice the size (see crc32c::Combine); `totalBytes` is
    // the length of everything summed so far.
    void doubleSlices(std::size_t totalBytes);

private:
    std::size_t m_sliceBytes;
    std::vector<std::uint32_t> m_crcs;
    std::size_t m_lastBytes;
};

}  // namespace Quellmar::qmxfile

#endif
