// The CRC-32C of a large item, computed on a second thread while the caller moves the item's
// bytes to or from the file. Checksumming is one more pass over memory; run beside the copy
// into or out of the page cache it costs little time instead of a third of it.
#ifndef QUELLMAR_QMXFILE_CONCURRENTCRC_H
#define QUELLMAR_QMXFILE_CONCURRENTCRC_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace Quellmar::qmxfile {

class ConcurrentCrc {
public:
    // Starts the worker; when no thread can be started, add() checksums on the caller's thread.
    explicit ConcurrentCrc(std::uint32_t initial = 0);
    // Waits for the worker: the ranges it reads belong to the caller.
    ~ConcurrentCrc();
    ConcurrentCrc(const ConcurrentCrc&) = delete;
    ConcurrentCrc& operator=(const ConcurrentCrc&) = delete;

    // Appends a range to the checksummed bytes. The range must stay unchanged until value()
    // returns or the object is destroyed.
    void add(const void* bytes, std::size_t size);

    // The CRC of all ranges added, in order; waits until the worker has them all.
    std::uint32_t value();

private:
    struct Range {
        const unsigned char* bytes;
        std::size_t size;
    };
    void run();
    void stop();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Range> pending_;
    bool busy_ = false;
    bool stopping_ = false;
    std::uint32_t crc_;
    std::thread worker_;
};

}  // namespace Quellmar::qmxfile

#endif
