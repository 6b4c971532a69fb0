// CRC-32C (Castagnoli, reflected polynomial 0x82F63B78), the checksum of iSCSI, ext4 and SCTP.
// Data items carry it so that damaged raw data is noticed on read instead of handed out as good.
#ifndef QUELLMAR_QMXFILE_CRC32C_H
#define QUELLMAR_QMXFILE_CRC32C_H

#include <cstddef>
#include <cstdint>

namespace Quellmar::crc32c {

// The CRC of data appended to bytes whose CRC is crc: Extend(Value(a), b) == Value(a + b).
// Uses the SSE4.2 instruction when the CPU has it, the table fallback otherwise.
std::uint32_t Extend(std::uint32_t crc, const void* data, std::size_t size);

inline std::uint32_t Value(const void* data, std::size_t size) {
    return Extend(0, data, size);
}

// The CRC of a + b from Value(a), Value(b) and b's length, without b's bytes: how slice CRCs
// are merged into larger slices.
std::uint32_t Combine(std::uint32_t crcA, std::uint32_t crcB, std::size_t sizeB);

// Both implementations, for tests and benchmarks. Hardware answers like Portable on a CPU
// without SSE4.2 (it falls back), so either may be called anywhere.
std::uint32_t ExtendPortable(std::uint32_t crc, const void* data, std::size_t size);
std::uint32_t ExtendHardware(std::uint32_t crc, const void* data, std::size_t size);
bool HardwareAvailable();

}  // namespace Quellmar::crc32c

#endif
