// CRC-32C (Castagnoli, reflected polynomial 0x82F63B78), the checksum of iSCSI, ext4 and SCTP.
// Data items carry it so that damaged raw data is noticed on read instead of handed out as good.
#ifndef QUELLMAR_QMXFILE_CRC32C_H
#define QUELLMAR_QMXFILE_CRC32C_H

#include <cstddef>
#include <cstdint>

namespace Quellmar::crc32c {

// The CRC of data appended to bytes whose CRC is crc: Extend(Value(a), b) == Value(a + b).
// Blocks of kFoldingMinimum bytes and more go to ISA-L's folding CRC (carry-less multiplies,
// about three times the crc32 instruction's speed there); shorter ones to the SSE4.2
// instruction when the CPU has it, the table fallback otherwise.
std::uint32_t Extend(std::uint32_t crc, const void* data, std::size_t size);

inline std::uint32_t Value(const void* data, std::size_t size) {
    return Extend(0, data, size);
}

// The CRC of a + b from Value(a), Value(b) and b's length, without b's bytes: how slice CRCs
// are merged into larger slices.
std::uint32_t Combine(std::uint32_t crcA, std::uint32_t crcB, std::size_t sizeB);

// Every implementation, for tests and benchmarks. Hardware answers like Portable on a CPU
// without SSE4.2 (it falls back), so either may be called anywhere; so does Folding, which
// picks ISA-L's best version for the CPU and takes at most `piece` bytes per call of it (ISA-L
// counts lengths in an int).
std::uint32_t ExtendPortable(std::uint32_t crc, const void* data, std::size_t size);
std::uint32_t ExtendHardware(std::uint32_t crc, const void* data, std::size_t size);
std::uint32_t ExtendFolding(std::uint32_t crc, const void* data, std::size_t size,
                            std::size_t piece = std::size_t{1} << 30);
bool HardwareAvailable();
// Below this the folding CRC's setup costs more than the crc32 instruction's loop (measured:
// 0.7-0.9x at 64-192 bytes, 1.9x at 256, 3x from 512).
constexpr std::size_t kFoldingMinimum = 256;

}  // namespace Quellmar::crc32c

#endif
