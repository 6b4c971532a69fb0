#include "GuardedBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>

namespace Quellmar::hostread {
namespace {

constexpr unsigned char kPattern = 0xA5;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Guard pages of the live buffers, for the crash handler; a reader holds one or two at a time.
constexpr int kGuardSlots = 16;
std::atomic<std::uintptr_t> g_guards[kGuardSlots];

void registerGuard(const void* page) {
    for (auto& slot : g_guards) {
        std::uintptr_t empty = 0;
        if (slot.compare_exchange_strong(empty, reinterpret_cast<std::uintptr_t>(page)))
            return;
    }
}

void unregisterGuard(const void* page) {
    for (auto& slot : g_guards) {
        std::uintptr_t mine = reinterpret_cast<std::uintptr_t>(page);
        if (slot.compare_exchange_strong(mine, 0))
            return;
    }
}

}  // namespace

bool GuardedBuffer::pageGuarded() {
    return !kSanitized;
}

bool GuardedBuffer::isGuardAddress(const void* address) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    for (const auto& slot : g_guards) {
        const std::uintptr_t start = slot.load();
        if (start != 0 && at >= start && at < start + page)
            return true;
    }
    return false;
}

GuardedBuffer::GuardedBuffer(std::size_t size) : m_size(size) {
    const std::size_t aligned = (size + 7) / 8 * 8;
    if (kSanitized) {
        m_data = new unsigned char[size == 0 ? 1 : size];
        return;
    }
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t dataPages = (aligned + page - 1) / page;
    m_mapBytes = (dataPages + 1) * page;
    m_map = ::mmap(nullptr, m_mapBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m_map == MAP_FAILED) {
        m_map = nullptr;
        throw std::bad_alloc();
    }
    unsigned char* guard = static_cast<unsigned char*>(m_map) + dataPages * page;
    if (::mprotect(guard, page, PROT_NONE) != 0) {
        ::munmap(m_map, m_mapBytes);
        m_map = nullptr;
        throw std::bad_alloc();
    }
    m_data = guard - aligned;
    m_slack = aligned - size;
    std::memset(m_data + size, kPattern, m_slack);
    m_guard = guard;
    registerGuard(guard);
}

GuardedBuffer::~GuardedBuffer() {
    if (kSanitized) {
        delete[] m_data;
        return;
    }
    unregisterGuard(m_guard);
    ::munmap(m_map, m_mapBytes);
}

bool GuardedBuffer::intact() const {
    for (std::size_t i = 0; i < m_slack; ++i)
        if (m_data[m_size + i] != kPattern)
            return false;
    return true;
}

}  // namespace Quellmar::hostread
