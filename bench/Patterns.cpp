#include "Patterns.h"

#include "Harness.h"

#include <cmath>
#include <cstdio>

namespace Quellmar::bench {

namespace {

unsigned char patternAt(std::size_t i, std::uint64_t seed) {
    return static_cast<unsigned char>((seed * 131u) ^ (i * 7u) ^ (i >> 9));
}

}  // namespace

void fillBytes(unsigned char* data, std::size_t size, std::uint64_t seed) {
    for (std::size_t i = 0; i < size; ++i)
        data[i] = patternAt(i, seed);
}

Bytes patternBytes(std::size_t size, std::uint64_t seed) {
    Bytes b(size);
    fillBytes(b.data(), size, seed);
    return b;
}

void checkBytes(const unsigned char* data, std::size_t size, std::uint64_t seed,
                const std::string& what) {
    for (std::size_t i = 0; i < size; ++i)
        if (data[i] != patternAt(i, seed))
            throw BenchFailure(what + ": read-back differs at byte " + std::to_string(i));
}

double smoothValue(std::size_t i) {
    const double x = static_cast<double>(i);
    return 1000.0 * std::sin(x * 1e-4) + 1e-3 * x;
}

std::vector<double> smoothDoubles(std::size_t count) {
    std::vector<double> v(count);
    for (std::size_t i = 0; i < count; ++i)
        v[i] = smoothValue(i);
    return v;
}

std::string objectName(std::size_t i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "obj%06zu", i);
    return buf;
}

void expect(bool condition, const std::string& what) {
    if (!condition)
        throw BenchFailure(what);
}

}  // namespace Quellmar::bench
