// A host's read buffer that notices being written past: its end touches an inaccessible page,
// so a write beyond it faults at once, in whichever code made it. The few bytes between the
// buffer's end and the page (the start is 8-byte aligned) carry a pattern that is checked.
// Under AddressSanitizer it is a plain heap block instead, whose report then names the
// allocation (and so the host's buffer) precisely.
#ifndef QMX_HOSTREAD_GUARDEDBUFFER_H
#define QMX_HOSTREAD_GUARDEDBUFFER_H

#include <cstddef>
#include <stdexcept>

namespace Quellmar::hostread {

class GuardedBuffer {
public:
    // Throws std::bad_alloc when the memory cannot be mapped.
    explicit GuardedBuffer(std::size_t size);
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    unsigned char* data() { return m_data; }
    const unsigned char* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    // False when the pattern after the end was overwritten.
    bool intact() const;

    // True when address lies in the guard page of a live buffer: a fault there is a write past
    // a host's buffer. Async-signal-safe.
    static bool isGuardAddress(const void* address);
    // False under AddressSanitizer, which then guards the buffer itself.
    static bool pageGuarded();

private:
    void* m_map = nullptr;
    std::size_t m_mapBytes = 0;
    unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_slack = 0;
    const void* m_guard = nullptr;
};

}  // namespace Quellmar::hostread

#endif
