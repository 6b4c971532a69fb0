#include "Crc32c.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <nmmintrin.h>
#define QMX_CRC32C_X86 1
#endif

namespace Quellmar::crc32c {
namespace {

constexpr std::uint32_t kPolynomial = 0x82F63B78u;  // reflected Castagnoli

// Slicing-by-8 tables: table[k][b] is the CRC of byte b followed by k zero bytes.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables makeTables() {
    Tables t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t crc = b;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1u) ? kPolynomial : 0u);
        t[0][b] = crc;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::size_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFFu];
    return t;
}

constexpr Tables kTables = makeTables();

inline std::uint64_t load64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);  // unaligned and aliasing-safe; one mov after optimisation
    return v;
}

// Little-endian hosts only, like the SSE4.2 path; the word is read low byte first.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "slicing path assumes little endian");

#ifdef QMX_CRC32C_X86
__attribute__((target("sse4.2"))) std::uint32_t extendSse42(std::uint32_t crc,
                                                             const unsigned char* p,
                                                             std::size_t size) {
    std::uint64_t c = ~crc;
    // Unrolled only to save loop overhead: the instruction's latency still serialises the words.
    while (size >= 32) {
        c = _mm_crc32_u64(c, load64(p));
        c = _mm_crc32_u64(c, load64(p + 8));
        c = _mm_crc32_u64(c, load64(p + 16));
        c = _mm_crc32_u64(c, load64(p + 24));
        p += 32;
        size -= 32;
    }
    while (size >= 8) {
        c = _mm_crc32_u64(c, load64(p));
        p += 8;
        size -= 8;
    }
    auto c32 = static_cast<std::uint32_t>(c);
    while (size-- > 0) c32 = _mm_crc32_u8(c32, *p++);
    return ~c32;
}
#endif

using ExtendFunction = std::uint32_t (*)(std::uint32_t, const void*, std::size_t);

ExtendFunction chooseImplementation() {
    return HardwareAvailable() ? &ExtendHardware : &ExtendPortable;
}

}  // namespace

std::uint32_t ExtendPortable(std::uint32_t crc, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint32_t c = ~crc;
    while (size >= 8) {
        const std::uint64_t word = load64(p) ^ c;
        c = kTables[7][word & 0xFF] ^ kTables[6][(word >> 8) & 0xFF] ^
            kTables[5][(word >> 16) & 0xFF] ^ kTables[4][(word >> 24) & 0xFF] ^
            kTables[3][(word >> 32) & 0xFF] ^ kTables[2][(word >> 40) & 0xFF] ^
            kTables[1][(word >> 48) & 0xFF] ^ kTables[0][word >> 56];
        p += 8;
        size -= 8;
    }
    while (size-- > 0) c = (c >> 8) ^ kTables[0][(c ^ *p++) & 0xFF];
    return ~c;
}

bool HardwareAvailable() {
#ifdef QMX_CRC32C_X86
    static const bool available = __builtin_cpu_supports("sse4.2");
    return available;
#else
    return false;
#endif
}

std::uint32_t ExtendHardware(std::uint32_t crc, const void* data, std::size_t size) {
#ifdef QMX_CRC32C_X86
    if (HardwareAvailable()) return extendSse42(crc, static_cast<const unsigned char*>(data), size);
#endif
    return ExtendPortable(crc, data, size);
}

std::uint32_t Extend(std::uint32_t crc, const void* data, std::size_t size) {
    static const ExtendFunction implementation = chooseImplementation();
    return implementation(crc, data, size);
}

}  // namespace Quellmar::crc32c
