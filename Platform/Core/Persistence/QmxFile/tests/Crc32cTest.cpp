#include "Crc32c.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace Quellmar::crc32c {
namespace {

struct Vector {
    std::vector<unsigned char> bytes;
    std::uint32_t crc;
};

// Published CRC-32C check values (RFC 3720 appendix B.4 and the "123456789" check).
std::vector<Vector> knownVectors() {
    std::vector<Vector> v;
    v.push_back({{}, 0x00000000u});
    const std::string check = "123456789";
    v.push_back({{check.begin(), check.end()}, 0xE3069283u});
    v.push_back({std::vector<unsigned char>(32, 0x00), 0x8A9136AAu});
    v.push_back({std::vector<unsigned char>(32, 0xFF), 0x62A8AB43u});
    std::vector<unsigned char> up(32), down(32);
    for (int i = 0; i < 32; ++i) {
        up[i] = static_cast<unsigned char>(i);
        down[i] = static_cast<unsigned char>(31 - i);
    }
    v.push_back({up, 0x46DD794Eu});
    v.push_back({down, 0x113FDB5Cu});
    // An iSCSI read command PDU.
    v.push_back({{0x01, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                  0x00, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00,
                  0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x18, 0x28, 0x00, 0x00, 0x00,
                  0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
                 0xD9963A56u});
    return v;
}

TEST(Crc32c, KnownVectorsInEveryImplementation) {
    for (const auto& [bytes, crc] : knownVectors()) {
        SCOPED_TRACE(bytes.size());
        EXPECT_EQ(Value(bytes.data(), bytes.size()), crc);
        EXPECT_EQ(ExtendPortable(0, bytes.data(), bytes.size()), crc);
        EXPECT_EQ(ExtendHardware(0, bytes.data(), bytes.size()), crc);
        EXPECT_EQ(ExtendFolding(0, bytes.data(), bytes.size()), crc);
    }
}

TEST(Crc32c, ExtendEqualsValueOfConcatenationAtEverySplit) {
    const std::string text = "The quick brown fox jumps over the lazy dog, twice over and again.";
    const std::uint32_t whole = Value(text.data(), text.size());
    for (std::size_t split = 0; split <= text.size(); ++split) {
        const std::uint32_t head = Value(text.data(), split);
        EXPECT_EQ(Extend(head, text.data() + split, text.size() - split), whole) << split;
        EXPECT_EQ(ExtendPortable(ExtendHardware(0, text.data(), split), text.data() + split,
                                 text.size() - split),
                  whole)
            << split;
    }
}

// Every implementation from unaligned starts (the instruction's tail loops, ISA-L's own block
// sizes) and lengths around the length where Extend switches to ISA-L; and ISA-L in pieces, as
// it takes lengths past an int.
TEST(Crc32c, EveryImplementationAgreesOnAllLengthsAndAlignments) {
    std::mt19937 random(7);
    std::vector<unsigned char> buffer(70000);
    for (auto& b : buffer)
        b = static_cast<unsigned char>(random());
    for (std::size_t offset : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 9u, 18u, 27u, 36u, 45u, 54u, 63u}) {
        for (std::size_t size = 0; size <= 1100; size += (size < 300 ? 1 : 37)) {
            const unsigned char* p = buffer.data() + offset;
            const std::uint32_t expected = ExtendPortable(0x12345678u, p, size);
            ASSERT_EQ(ExtendHardware(0x12345678u, p, size), expected) << offset << "/" << size;
            ASSERT_EQ(ExtendFolding(0x12345678u, p, size), expected) << offset << "/" << size;
            ASSERT_EQ(Extend(0x12345678u, p, size), expected) << offset << "/" << size;
        }
        EXPECT_EQ(ExtendHardware(0, buffer.data() + offset, 4096),
                  ExtendPortable(0, buffer.data() + offset, 4096));
    }
    const std::uint32_t whole = ExtendPortable(0, buffer.data() + 3, 65536 + 1);
    EXPECT_EQ(ExtendFolding(0, buffer.data() + 3, 65536 + 1), whole);
    for (std::size_t piece : {1u, 255u, 256u, 4096u, 65536u})
        EXPECT_EQ(ExtendFolding(0, buffer.data() + 3, 65536 + 1, piece), whole) << piece;
}

// Combining must equal summing the joined bytes for every bit pattern of the second length:
// each length bit picks another power of x, up to lengths past 4 GiB's bits (zeros, whose
// CRC a run of Extend gives cheaply).
TEST(Crc32c, CombineAgreesWithOneCrcForEveryLengthPattern) {
    std::mt19937 random(11);
    std::vector<unsigned char> bytes((size_t{9} << 20) + 77);
    for (auto& b : bytes)
        b = static_cast<unsigned char>(random());
    const std::uint32_t a = Value(bytes.data(), 1000);
    std::vector<std::size_t> sizes = {0, 1, 2, 3, 7, 8, 255, 4096, 65535, 65537, 1u << 20,
                                      (1u << 20) + 1, (3u << 20) + 12345, bytes.size() - 1000};
    for (std::size_t size = 1; size < 5000; size += 37)
        sizes.push_back(size);
    for (const std::size_t size : sizes) {
        ASSERT_LE(1000 + size, bytes.size());
        EXPECT_EQ(Combine(a, Value(bytes.data() + 1000, size), size),
                  Value(bytes.data(), 1000 + size))
            << size;
    }
    // Lengths beyond memory: advancing by 2^k zero bytes twice is advancing by 2^(k+1).
    for (int k = 20; k < 40; ++k) {
        const std::size_t half = std::size_t{1} << k;
        EXPECT_EQ(Combine(Combine(a, 0, half), 0, half), Combine(a, 0, 2 * half)) << k;
    }
    std::vector<unsigned char> zeros(size_t{1} << 22, 0);
    std::uint32_t extended = a;
    for (int k = 0; k < 4; ++k)
        extended = Extend(extended, zeros.data(), zeros.size());
    // 16 MiB of zeros summed in four runs, against one combine of their CRC.
    std::uint32_t zeroCrc = 0;
    for (int k = 0; k < 4; ++k)
        zeroCrc = Extend(zeroCrc, zeros.data(), zeros.size());
    EXPECT_EQ(Combine(a, zeroCrc, size_t{4} << 22), extended);
}

}  // namespace
}  // namespace Quellmar::crc32c
