#ifndef QUELLMAR_BENCH_PATTERNS_H
#define QUELLMAR_BENCH_PATTERNS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Quellmar::bench {

using Bytes = std::vector<unsigned char>;

// Bytes that differ from object to object (by `seed`) and along the object, so that a
// read-back of the wrong object or a shifted one is caught.
void fillBytes(unsigned char* data, std::size_t size, std::uint64_t seed);
Bytes patternBytes(std::size_t size, std::uint64_t seed);
// Throws BenchFailure naming `what` when `data` is not the pattern.
void checkBytes(const unsigned char* data, std::size_t size, std::uint64_t seed,
                const std::string& what);

// Smooth data, as measured signals are: compressible but not trivially.
std::vector<double> smoothDoubles(std::size_t count);
double smoothValue(std::size_t i);

// Names of the small objects, "obj000042", the same for every contender.
std::string objectName(std::size_t i);

void expect(bool condition, const std::string& what);

}  // namespace Quellmar::bench

#endif
