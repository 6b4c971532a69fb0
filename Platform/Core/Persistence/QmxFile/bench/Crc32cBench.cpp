// Throughput of the slicing, SSE4.2 and ISA-L CRC-32C paths and of the dispatching entry point
// (which takes the SSE4.2 loop below 256 bytes and ISA-L from there), with ISA-L against the
// SSE4.2 loop measured in the same run; then the cost of combining two CRCs against summing the
// bytes the second one stands for.
#include "Crc32c.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using Quellmar::crc32c::Combine;
using Quellmar::crc32c::Extend;
using Quellmar::crc32c::ExtendHardware;
using Quellmar::crc32c::ExtendPortable;

template <typename F>
double gigabytesPerSecond(F f, const std::vector<unsigned char>& data, std::size_t block) {
    using Clock = std::chrono::steady_clock;
    volatile std::uint32_t sink = 0;
    double best = 0;
    for (int round = 0; round < 5; ++round) {
        std::size_t bytes = 0;
        const auto start = Clock::now();
        auto now = start;
        do {
            for (std::size_t at = 0; at + block <= data.size(); at += block)
                sink = sink + f(0, data.data() + at, block);
            bytes += data.size() / block * block;
            now = Clock::now();
        } while (now - start < std::chrono::milliseconds(100));
        const double seconds = std::chrono::duration<double>(now - start).count();
        if (bytes / seconds / 1e9 > best)
            best = bytes / seconds / 1e9;
    }
    return best;
}

// Best of five rounds of at least 100 ms: microseconds per call of f.
template <typename F>
double microsecondsPerCall(F f) {
    using Clock = std::chrono::steady_clock;
    double best = 1e300;
    for (int round = 0; round < 5; ++round) {
        long calls = 0;
        const auto start = Clock::now();
        auto now = start;
        do {
            for (int k = 0; k < 64; ++k)
                f(calls + k);
            calls += 64;
            now = Clock::now();
        } while (now - start < std::chrono::milliseconds(100));
        const double perCall = std::chrono::duration<double, std::micro>(now - start).count() /
                               static_cast<double>(calls);
        if (perCall < best)
            best = perCall;
    }
    return best;
}

}  // namespace

int main() {
    std::vector<unsigned char> data(1 << 20);
    std::mt19937 random(1);
    for (auto& b : data)
        b = static_cast<unsigned char>(random());
    std::printf("hardware available: %s\n", Quellmar::crc32c::HardwareAvailable() ? "yes" : "no");
    std::printf("%10s %14s %14s %14s %14s %10s\n", "block", "slicing GB/s", "sse4.2 GB/s",
                "isa-l GB/s", "Extend GB/s", "isa-l/sse");
    const auto folding = [](std::uint32_t crc, const void* p, std::size_t n) {
        return Quellmar::crc32c::ExtendFolding(crc, p, n);
    };
    for (std::size_t block : {64u, 256u, 1024u, 65536u, 1u << 20}) {
        const double portable = gigabytesPerSecond(ExtendPortable, data, block);
        const double hardware = gigabytesPerSecond(ExtendHardware, data, block);
        const double isal = gigabytesPerSecond(folding, data, block);
        const double dispatch = gigabytesPerSecond(Extend, data, block);
        std::printf("%10zu %14.2f %14.2f %14.2f %14.2f %10.2f\n", block, portable, hardware, isal,
                    dispatch, isal / hardware);
    }
    // Merging slice sums (an appended item's table, a read's last range) combines one pair
    // per slice: it must cost far less than summing the slice again.
    std::printf("%10s %14s %14s %10s\n", "length", "combine us", "Extend us", "ext/comb");
    volatile std::uint32_t sink = 0;
    for (std::size_t length : {16384u, 1u << 20, (1u << 20) + 12345u}) {
        const std::size_t summed = std::min(length, data.size());
        const double combine = microsecondsPerCall(
            [&](long k) { sink = sink + Combine(sink + static_cast<std::uint32_t>(k), 7, length); });
        const double extend = microsecondsPerCall(
            [&](long k) { sink = sink + Extend(static_cast<std::uint32_t>(k), data.data(), summed); });
        std::printf("%10zu %14.3f %14.3f %10.0f\n", length, combine, extend * length / summed,
                    extend * length / summed / combine);
    }
    return 0;
}
