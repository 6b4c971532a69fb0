// Canonical text of what was read: byte counts with a 64-bit FNV-1a hash, and short texts
// escaped so that any damaged byte stays on one line.
#ifndef QMX_HOSTREAD_DIGEST_H
#define QMX_HOSTREAD_DIGEST_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace Quellmar::hostread {

std::uint64_t fnv1a(const void* data, std::size_t size);
// "<size> bytes <16 hex digits>"
std::string bytesDigest(const void* data, std::size_t size);
// Printable ASCII stays, everything else (and '\\', '"') becomes \xNN; quoted.
std::string quoted(const std::string& text);

}  // namespace Quellmar::hostread

#endif
