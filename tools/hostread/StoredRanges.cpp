#include "StoredRanges.h"

#include <algorithm>
#include <cstring>

namespace Quellmar::hostread {
namespace {

constexpr std::size_t kPiece = 512;
constexpr std::size_t kShortest = 16;

}  // namespace

std::size_t StoredRanges::unique(const char* piece, std::size_t size) const {
    const std::string_view file(m_file);
    const std::string_view needle(piece, size);
    const std::size_t at = file.find(needle);
    if (at == std::string_view::npos || file.find(needle, at + 1) != std::string_view::npos)
        return std::string_view::npos;
    return at;
}

void StoredRanges::locate(const unsigned char* data, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    std::size_t expected = std::string::npos;  // where the next piece lies if storage is contiguous
    for (std::size_t offset = 0; offset < size; offset += kPiece) {
        const std::size_t length = std::min(kPiece, size - offset);
        if (length < kShortest)
            break;
        std::size_t at = std::string::npos;
        if (expected != std::string::npos && expected + length <= m_file.size() &&
            std::memcmp(m_file.data() + expected, bytes + offset, length) == 0)
            at = expected;
        else
            at = unique(bytes + offset, length);
        if (at == std::string::npos) {
            expected = std::string::npos;
            continue;
        }
        m_found.emplace_back(at, at + length);
        expected = at + length;
    }
}

std::vector<ByteRange> StoredRanges::ranges() const {
    std::vector<ByteRange> sorted = m_found;
    std::sort(sorted.begin(), sorted.end());
    std::vector<ByteRange> merged;
    for (const ByteRange& r : sorted) {
        if (!merged.empty() && r.first <= merged.back().second)
            merged.back().second = std::max(merged.back().second, r.second);
        else
            merged.push_back(r);
    }
    return merged;
}

}  // namespace Quellmar::hostread
