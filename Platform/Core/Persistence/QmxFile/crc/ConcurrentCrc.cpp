#include "ConcurrentCrc.h"

#include "Crc32c.h"

#include <system_error>

namespace Quellmar::qmxfile {

ConcurrentCrc::ConcurrentCrc(std::uint32_t initial) : crc_(initial) {
    try {
        worker_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // Out of threads: the caller checksums each range itself.
    }
}

ConcurrentCrc::~ConcurrentCrc() { stop(); }

void ConcurrentCrc::add(const void* bytes, std::size_t size) {
    if (size == 0) return;
    std::unique_lock lock(mutex_);
    if (!worker_.joinable()) {
        crc_ = crc32c::Extend(crc_, bytes, size);
        return;
    }
    pending_.push_back({static_cast<const unsigned char*>(bytes), size});
    lock.unlock();
    changed_.notify_all();
}

std::uint32_t ConcurrentCrc::value() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pending_.empty() && !busy_; });
    return crc_;
}

void ConcurrentCrc::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (pending_.empty()) return;
        const Range range = pending_.front();
        pending_.pop_front();
        busy_ = true;
        std::uint32_t crc = crc_;
        lock.unlock();
        crc = crc32c::Extend(crc, range.bytes, range.size);
        lock.lock();
        crc_ = crc;
        busy_ = false;
        changed_.notify_all();
    }
}

void ConcurrentCrc::stop() {
    {
        std::lock_guard lock(mutex_);
        if (!worker_.joinable()) return;
        // Ranges not yet summed are dropped: only value() promises a result.
        pending_.clear();
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

}  // namespace Quellmar::qmxfile
