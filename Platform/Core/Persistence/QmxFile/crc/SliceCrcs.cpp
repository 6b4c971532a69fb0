#include "SliceCrcs.h"

#include "Crc32c.h"

#include <algorithm>
#include <utility>

namespace Quellmar::qmxfile {

SliceCrcs::SliceCrcs(std::size_t sliceBytes, std::vector<std::uint32_t> crcs,
                     std::size_t lastBytes)
    : m_sliceBytes(std::max<std::size_t>(1, sliceBytes)),
      m_crcs(std::move(crcs)),
      m_lastBytes(m_crcs.empty() ? 0 : lastBytes) {}

void SliceCrcs::add(const void* bytes, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (size > 0) {
        if (m_crcs.empty() || m_lastBytes >= m_sliceBytes) {
            m_crcs.push_back(0);
            m_lastBytes = 0;
        }
        const std::size_t n = std::min(size, m_sliceBytes - m_lastBytes);
        m_crcs.back() = crc32c::Extend(m_crcs.back(), p, n);
        m_lastBytes += n;
        p += n;
        size -= n;
    }
}

std::size_t SliceCrcs::fill() const {
    return m_crcs.empty() || m_lastBytes >= m_sliceBytes ? 0 : m_lastBytes;
}

void SliceCrcs::append(const SliceCrcs& later) {
    const std::size_t open = fill();
    std::size_t k = 0;
    if (open > 0 && !later.m_crcs.empty()) {
        // Its first slice started `open` bytes in, summed from nothing: combined into ours.
        const std::size_t first =
            (later.m_crcs.size() == 1 ? later.m_lastBytes : later.m_sliceBytes) - open;
        m_crcs.back() = crc32c::Combine(m_crcs.back(), later.m_crcs[0], first);
        m_lastBytes += first;
        k = 1;
    }
    if (k < later.m_crcs.size()) {
        m_crcs.insert(m_crcs.end(), later.m_crcs.begin() + static_cast<std::ptrdiff_t>(k),
                      later.m_crcs.end());
        m_lastBytes = later.m_lastBytes;
    }
}

void SliceCrcs::doubleSlices(std::size_t totalBytes) {
    std::vector<std::uint32_t> merged;
    merged.reserve((m_crcs.size() + 1) / 2);
    for (std::size_t k = 0; k < m_crcs.size(); k += 2) {
        if (k + 1 == m_crcs.size()) {
            merged.push_back(m_crcs[k]);
            break;
        }
        // Every slice but the last is full.
        const std::size_t second =
            k + 2 == m_crcs.size() ? totalBytes - (k + 1) * m_sliceBytes : m_sliceBytes;
        merged.push_back(crc32c::Combine(m_crcs[k], m_crcs[k + 1], second));
    }
    m_crcs = std::move(merged);
    m_sliceBytes *= 2;
    m_lastBytes = m_crcs.empty() ? 0 : totalBytes - (m_crcs.size() - 1) * m_sliceBytes;
}

}  // namespace Quellmar::qmxfile
