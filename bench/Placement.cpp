#include "Placement.h"

#include "Harness.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>

namespace Quellmar::bench {

namespace {

// Requests at least this large made while a placement is asked for are placed; smaller ones
// (the vector's bookkeeping) are not.
constexpr std::size_t kPlacedFrom = 64 * 1024;

thread_local const Placement* t_placement = nullptr;

// Placed blocks start inside a larger allocation; operator delete must free that one. A few
// large buffers are alive at a time, so a small table suffices; delete looks only while one is.
struct Slot {
    void* user = nullptr;
    void* base = nullptr;
};
constexpr int kSlots = 64;
std::mutex g_mutex;
Slot g_slots[kSlots];
std::atomic<int> g_live{0};

void* allocatePlaced(std::size_t size, Placement placement) {
    void* base = std::aligned_alloc(kPageBytes, (size + 2 * kPageBytes) / kPageBytes * kPageBytes);
    if (!base)
        throw std::bad_alloc();
    void* user = static_cast<unsigned char*>(base) + offsetOf(placement);
    std::lock_guard lock(g_mutex);
    for (Slot& s : g_slots) {
        if (s.user)
            continue;
        s = {user, base};
        g_live.fetch_add(1, std::memory_order_relaxed);
        return user;
    }
    std::free(base);
    throw std::bad_alloc();
}

bool releasePlaced(void* user) {
    std::lock_guard lock(g_mutex);
    for (Slot& s : g_slots) {
        if (s.user != user)
            continue;
        std::free(s.base);
        s = {};
        g_live.fetch_sub(1, std::memory_order_relaxed);
        return true;
    }
    return false;
}

class PlacementScope {
public:
    explicit PlacementScope(const Placement& p) : m_previous(t_placement) { t_placement = &p; }
    ~PlacementScope() { t_placement = m_previous; }

private:
    const Placement* m_previous;
};

}  // namespace

std::size_t pageOffset(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p) % kPageBytes;
}

std::size_t offsetOf(Placement placement) {
    return placement == Placement::Aligned ? 0 : kPastPageBytes;
}

const char* labelOf(Placement placement) {
    return placement == Placement::Aligned ? "aligned" : "page+16";
}

std::string placedPhase(const std::string& phase, Placement placement) {
    return phase + " (" + labelOf(placement) + ")";
}

PlacedBytes::PlacedBytes(std::size_t bytes, Placement placement) : m_size(bytes) {
    m_base.reset(static_cast<unsigned char*>(
        std::aligned_alloc(kPageBytes, (bytes + 2 * kPageBytes) / kPageBytes * kPageBytes)));
    if (!m_base)
        throw BenchFailure("cannot allocate " + std::to_string(bytes) + " bytes");
    m_data = m_base.get() + offsetOf(placement);
    std::fill(m_data, m_data + m_size, static_cast<unsigned char>(0));
}

void expectPlaced(const void* p, Placement placement, const std::string& what) {
    if (pageOffset(p) != offsetOf(placement))
        throw BenchFailure(what + " meant to be " + labelOf(placement) + " starts " +
                           std::to_string(pageOffset(p)) + " bytes past a page");
}

std::shared_ptr<Bytes> placedVector(std::size_t size, Placement placement) {
    auto v = std::make_shared<Bytes>();
    {
        PlacementScope scope(placement);
        v->resize(size);
    }
    if (size >= kPlacedFrom)
        expectPlaced(v->data(), placement, "a byte vector");
    return v;
}

}  // namespace Quellmar::bench

// This program's allocation functions: malloc and free as usual, except for large requests
// made inside a placement scope. The array forms and the sized delete forward here by default.
void* operator new(std::size_t size) {
    using namespace Quellmar::bench;
    if (t_placement && size >= kPlacedFrom)
        return allocatePlaced(size, *t_placement);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
    using namespace Quellmar::bench;
    if (!p)
        return;
    if (g_live.load(std::memory_order_relaxed) > 0 && releasePlaced(p))
        return;
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}
