// The CRC-32C of a large item, computed on a second thread while the caller moves the item's
// bytes to or from the file. Checksumming is one more pass over memory; run beside the copy
// into or out of the page cache it costs little time instead of a third of it.
#ifndef QUELLMAR_QMXFILE_CONCURRENTCRC_H
#define QUELLMAR_QMXFILE_CONCURRENTCRC_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

namespace Quellmar::qmxfile {

class SliceCrcs;

class ConcurrentCrc {
public:
    // Auto sums on the process's checksum thread when a core looks idle, else on the caller's
    // thread (with no core free the second thread only queues behind the caller). The others
    // force one way.
    enum class Mode { Auto, Concurrent, Inline };

    explicit ConcurrentCrc(std::uint32_t initial = 0, Mode mode = Mode::Auto);
    // Waits until the checksum thread is done with this object's ranges: they belong to the caller.
    ~ConcurrentCrc();
    ConcurrentCrc(const ConcurrentCrc&) = delete;
    ConcurrentCrc& operator=(const ConcurrentCrc&) = delete;

    // Appends a range to the checksummed bytes. The range must stay unchanged until value()
    // returns or the object is destroyed.
    void add(const void* bytes, std::size_t size);

    // The same with work on the range done by whichever thread sums it: `before` fills the range
    // (it is summed after), `after` moves it on (it runs once the range is summed). Either may be
    // empty. Ranges dropped by the destructor have neither step run.
    using Step = std::function<void()>;
    void add(const void* bytes, std::size_t size, Step before, Step after);

    // Appends the last range (none may follow), summed on the caller's thread at once while the
    // checksum thread may still be busy with earlier ones: the caller has just moved these bytes
    // and finds them in its cache, where otherwise it would wait for the thread to get to them.
    void addLast(const void* bytes, std::size_t size);

    // Waits until at most `ranges` of those added are still queued or being worked on: a caller
    // reusing buffers in turn waits for the oldest.
    void waitUntilPending(std::size_t ranges);

    // The CRC of all ranges added, in order; waits until the checksum thread has them all.
    std::uint32_t value();

    // From now on ranges are summed per slice into `slices` instead of into value(); set it
    // before the first add. The caller keeps it alive until value() returns.
    void sumSlicesInto(SliceCrcs* slices);

    // Which way Auto goes from now on, for tests that must take one; Auto: by the load again.
    static void setAutoWay(Mode mode);

    // Whether ranges go to the checksum thread (false when summed on the caller's thread).
    bool concurrent() const { return m_concurrent; }

private:
    friend class CrcWorker;
    struct Last;
    void appendLast();

    std::uint32_t m_crc;
    std::unique_ptr<Last> m_last;  // summed, not yet appended to m_crc or m_slices
    SliceCrcs* m_slices = nullptr;
    std::size_t m_sliceOffset = 0;  // where the next range starts in its slice of m_slices
    std::size_t m_pending = 0;  // ranges queued or being summed; guarded by the worker's mutex
    bool m_concurrent;
};

// Whether a core is likely free right now: fewer runnable tasks than CPUs this process may use.
// The count comes from `loadavg` (the kernel's file unless a test names another); when it cannot
// be read the answer is yes, as before the count was consulted.
bool idleCoreLikely(const char* loadavg = "/proc/loadavg");
// The runnable-task count from /proc/loadavg text ("0.52 0.58 0.59 2/311 4242"); empty when the
// text is not of that form.
std::optional<int> runnableTasks(std::string_view loadavg);

}  // namespace Quellmar::qmxfile

#endif
