#include "GuardedBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <new>

namespace Quellmar::hostread {
namespace {

constexpr unsigned char kPattern = 0xA5;

}  // namespace

GuardedBuffer::GuardedBuffer(std::size_t size) : m_size(size) {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t aligned = (size + 7) / 8 * 8;
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
}

GuardedBuffer::~GuardedBuffer() {
    if (m_map) ::munmap(m_map, m_mapBytes);
}

bool GuardedBuffer::intact() const {
    for (std::size_t i = 0; i < m_slack; ++i)
        if (m_data[m_size + i] != kPattern) return false;
    return true;
}

}  // namespace Quellmar::hostread
