#ifndef QUELLMAR_BENCH_PLACEMENT_H
#define QUELLMAR_BENCH_PLACEMENT_H

#include "Patterns.h"

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>

namespace Quellmar::bench {

// Where a large buffer starts relative to a page. The kernel copies from the page cache about
// twice as fast when the buffer and the file offset agree modulo the page size, so every large
// read is measured into both kinds of buffer: a page-aligned one and one a few bytes past a page
// (where a plain malloc of a large block puts it).
enum class Placement { Aligned, PastPage };

inline constexpr std::size_t kPageBytes = 4096;
inline constexpr std::size_t kPastPageBytes = 16;

std::size_t pageOffset(const void* p);
std::size_t offsetOf(Placement placement);
// Short label used in phase names: "aligned", "page+16".
const char* labelOf(Placement placement);

inline constexpr Placement kPlacements[] = {Placement::Aligned, Placement::PastPage};
// A phase measured into a buffer so placed: "read (aligned)".
std::string placedPhase(const std::string& phase, Placement placement);

// A zero-filled (so already faulted in) buffer of `bytes` placed as asked.
class PlacedBytes {
public:
    PlacedBytes(std::size_t bytes, Placement placement);
    unsigned char* data() { return m_data; }
    const unsigned char* data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    struct Free {
        void operator()(unsigned char* p) const { std::free(p); }
    };
    std::unique_ptr<unsigned char, Free> m_base;
    unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
};

template <class T>
class PlacedArray {
public:
    PlacedArray(std::size_t count, Placement placement)
        : m_bytes(count * sizeof(T), placement), m_count(count) {}
    T* data() { return reinterpret_cast<T*>(m_bytes.data()); }
    const T* data() const { return reinterpret_cast<const T*>(m_bytes.data()); }
    std::size_t size() const { return m_count; }
    std::size_t bytes() const { return m_count * sizeof(T); }
    T& operator[](std::size_t i) { return data()[i]; }
    const T& operator[](std::size_t i) const { return data()[i]; }
    T* begin() { return data(); }
    T* end() { return data() + m_count; }

private:
    PlacedBytes m_bytes;
    std::size_t m_count;
};

// Throws BenchFailure unless `p` lies where `placement` puts a buffer.
void expectPlaced(const void* p, Placement placement, const std::string& what);

// A byte vector whose elements are placed as asked, for interfaces that take std::vector (the
// blob transfer object). Its memory comes from this program's operator new, which places large
// requests made while the vector is sized; throws BenchFailure if the placement did not take.
std::shared_ptr<Bytes> placedVector(std::size_t size, Placement placement);

}  // namespace Quellmar::bench

#endif
