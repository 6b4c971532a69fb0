#include "Crc32c.h"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <nmmintrin.h>
#define QMX_CRC32C_X86 1
#endif

#include <isa-l/crc.h>

namespace Quellmar::crc32c {
namespace {

constexpr std::uint32_t kPolynomial = 0x82F63B78u;  // reflected Castagnoli

// Slicing-by-8 tables: table[k][b] is the CRC of byte b followed by k zero bytes.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables makeTables() {
    Tables t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t crc = b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ ((crc & 1u) ? kPolynomial : 0u);
        t[0][b] = crc;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::size_t b = 0; b < 256; ++b)
            t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFFu];
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
// Short blocks only (Extend hands longer ones to ISA-L): one stream of the instruction.
__attribute__((target("sse4.2"))) std::uint32_t extendSse42(std::uint32_t crc,
                                                            const unsigned char* p,
                                                            std::size_t size) {
    std::uint64_t c = ~crc;
    // Align to eight bytes so the wide loads do not straddle lines.
    while (size > 0 && (reinterpret_cast<std::uintptr_t>(p) & 7) != 0) {
        c = _mm_crc32_u8(static_cast<std::uint32_t>(c), *p++);
        --size;
    }
    while (size >= 8) {
        c = _mm_crc32_u64(c, load64(p));
        p += 8;
        size -= 8;
    }
    auto c32 = static_cast<std::uint32_t>(c);
    while (size-- > 0)
        c32 = _mm_crc32_u8(c32, *p++);
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
    while (size-- > 0)
        c = (c >> 8) ^ kTables[0][(c ^ *p++) & 0xFF];
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
    if (HardwareAvailable())
        return extendSse42(crc, static_cast<const unsigned char*>(data), size);
#endif
    return ExtendPortable(crc, data, size);
}

std::uint32_t ExtendFolding(std::uint32_t crc, const void* data, std::size_t size,
                            std::size_t piece) {
    // ISA-L's iSCSI CRC is CRC-32C without the final inversion: inverted in and out here.
    auto* p = static_cast<unsigned char*>(const_cast<void*>(data));  // ISA-L only reads it
    std::uint32_t c = ~crc;
    while (size > 0) {
        const std::size_t n = size < piece ? size : piece;
        c = crc32_iscsi(p, static_cast<int>(n), c);
        p += n;
        size -= n;
    }
    return ~c;
}

std::uint32_t Extend(std::uint32_t crc, const void* data, std::size_t size) {
    if (size >= kFoldingMinimum)
        return ExtendFolding(crc, data, size);
    static const ExtendFunction implementation = chooseImplementation();
    return implementation(crc, data, size);
}

namespace {

// CRC-32C is linear over GF(2): appending n zero bytes multiplies the CRC by x^(8n) modulo the
// polynomial (reflected bit order, x^0 in the top bit). Products of 32-bit polynomials and a
// table of x^(2^k) make that a handful of multiplications for any n (as zlib's crc32_combine
// does); squaring a 32x32 matrix per bit of n cost tens of microseconds per call.
constexpr std::uint32_t kOne = std::uint32_t{1} << 31;  // x^0

constexpr std::uint32_t multiplied(std::uint32_t a, std::uint32_t b) {
    std::uint32_t product = 0;
    for (std::uint32_t m = kOne; m != 0; m >>= 1) {
        if (a & m) {
            product ^= b;
            if ((a & (m - 1)) == 0)
                break;
        }
        b = (b & 1u) ? (b >> 1) ^ kPolynomial : b >> 1;
    }
    return product;
}

// powers[k] is x^(2^k): enough of them for bit lengths of any size_t byte count.
constexpr std::size_t kPowers = 3 + 64;
using Powers = std::array<std::uint32_t, kPowers>;

constexpr Powers makePowers() {
    Powers powers{};
    powers[0] = kOne >> 1;  // x^1
    for (std::size_t k = 1; k < kPowers; ++k)
        powers[k] = multiplied(powers[k - 1], powers[k - 1]);
    return powers;
}

constexpr Powers kPowersOfX = makePowers();

}  // namespace

std::uint32_t Combine(std::uint32_t crcA, std::uint32_t crcB, std::size_t sizeB) {
    // x^(8 * sizeB): bit k of sizeB stands for x^(2^(k + 3)). The pre- and post-inversion of
    // both CRCs cancel out (as in zlib): crcA advanced over sizeB zero bytes, crcB added in.
    std::uint32_t shift = kOne;
    std::size_t k = 3;
    for (std::size_t n = sizeB; n != 0; n >>= 1, ++k)
        if (n & 1u)
            shift = multiplied(kPowersOfX[k], shift);
    return multiplied(shift, crcA) ^ crcB;
}

}  // namespace Quellmar::crc32c
