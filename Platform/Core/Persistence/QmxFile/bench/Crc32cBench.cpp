// Throughput of the SSE4.2 and the slicing CRC-32C paths, and of the dispatching entry point,
// as ratios against the slicing path measured in the same run.
#include "Crc32c.h"

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

namespace {

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

}  // namespace

int main() {
    std::vector<unsigned char> data(1 << 20);
    std::mt19937 random(1);
    for (auto& b : data)
        b = static_cast<unsigned char>(random());
    std::printf("hardware available: %s\n", Quellmar::crc32c::HardwareAvailable() ? "yes" : "no");
    std::printf("%10s %14s %14s %14s %10s\n", "block", "slicing GB/s", "sse4.2 GB/s", "Extend GB/s",
                "sse/slice");
    for (std::size_t block : {64u, 1024u, 65536u, 1u << 20}) {
        const double portable = gigabytesPerSecond(ExtendPortable, data, block);
        const double hardware = gigabytesPerSecond(ExtendHardware, data, block);
        const double dispatch = gigabytesPerSecond(Extend, data, block);
        std::printf("%10zu %14.2f %14.2f %14.2f %10.2f\n", block, portable, hardware, dispatch,
                    hardware / portable);
    }
    return 0;
}
