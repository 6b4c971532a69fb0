#include "ConcurrentCrc.h"

#include "Crc32c.h"
#include "SliceCrcs.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace Quellmar::qmxfile {

// One checksum thread for the whole process, started on first use and kept: a thread started
// per item cost more than the checksum of a small large item. Ranges of all ConcurrentCrc
// objects queue here in order; each object waits only for its own.
//
// Between ranges the thread spins before it sleeps while some item is still being summed: its
// next slice comes a few hundred microseconds later, and waking a sleeping thread on an idle
// core cost the submitter a system call and the item up to a tenth of its read time (measured
// on a VM). Once no item is in progress it sleeps at once, leaving the core to others.
class CrcWorker {
public:
    static CrcWorker& instance() {
        // Never destroyed: its thread may still wait on it while the process exits.
        static CrcWorker* worker = new CrcWorker;
        return *worker;
    }

    // Queues a range; false when no thread can be had (the caller then sums it itself).
    bool submit(ConcurrentCrc& owner, const unsigned char* bytes, std::size_t size,
                ConcurrentCrc::Step& before, ConcurrentCrc::Step& after) {
        std::unique_lock lock(m_mutex);
        if (!m_running && !start())
            return false;
        m_queue.push_back({&owner, bytes, size, std::move(before), std::move(after)});
        ++owner.m_pending;
        m_queued.store(m_queue.size(), std::memory_order_release);
        const bool sleeping = m_sleeping;
        lock.unlock();
        if (sleeping)
            m_work.notify_one();
        return true;
    }

    // An object that may queue ranges comes and goes.
    void enter() { m_owners.fetch_add(1, std::memory_order_relaxed); }
    void leave() { m_owners.fetch_sub(1, std::memory_order_relaxed); }

    std::uint32_t wait(ConcurrentCrc& owner, std::size_t pending = 0) {
        std::unique_lock lock(m_mutex);
        // The thread is on this owner's ranges, a slice's time each: waiting awake for a while
        // spares the caller being woken, which cost it as long again on a virtual machine.
        const auto until = std::chrono::steady_clock::now() + kSpin;
        while (owner.m_pending > pending && std::chrono::steady_clock::now() < until) {
            lock.unlock();
            for (int i = 0; i < kPausesPerLook; ++i)
                pause();
            lock.lock();
        }
        m_done.wait(lock, [&] { return owner.m_pending <= pending; });
        return owner.m_crc;
    }

    // Drops the owner's queued ranges and waits for the one being summed, if any.
    void forget(ConcurrentCrc& owner) {
        std::unique_lock lock(m_mutex);
        std::erase_if(m_queue, [&](const Job& j) {
            if (j.owner != &owner)
                return false;
            --owner.m_pending;
            return true;
        });
        m_queued.store(m_queue.size(), std::memory_order_release);
        m_done.wait(lock, [&] { return owner.m_pending == 0; });
    }

private:
    struct Job {
        ConcurrentCrc* owner;
        const unsigned char* bytes;
        std::size_t size;
        ConcurrentCrc::Step before, after;
    };

    CrcWorker() {
        // A forked child has no checksum thread: it starts its own on first use. The mutex is
        // held across fork so the child's copy is in a known state.
        pthread_atfork([] { instance().m_mutex.lock(); }, [] { instance().m_mutex.unlock(); },
                       [] {
                           CrcWorker& w = instance();
                           w.m_running = false;
                           w.m_queue.clear();
                           w.m_queued.store(0);
                           w.m_sleeping = false;
                           // The parent's thread was waiting on these: its place in them is
                           // copied but it does not exist here, and glibc's notify then waits
                           // for it forever. Fresh ones have no waiters.
                           new (&w.m_work) std::condition_variable;
                           new (&w.m_done) std::condition_variable;
                           w.m_mutex.unlock();
                       });
    }

    bool start() {
        try {
            std::thread(&CrcWorker::run, this).detach();
        } catch (const std::system_error&) {
            return false;
        }
        m_running = true;
        return true;
    }

    void run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_queue.empty())
                idle(lock);
            Job job = std::move(m_queue.front());
            m_queue.pop_front();
            m_queued.store(m_queue.size(), std::memory_order_release);
            // The owner's earlier ranges are done (one at a time, in order): its sum is final.
            const std::uint32_t from = job.owner->m_crc;
            lock.unlock();
            if (job.before)
                job.before();
            std::uint32_t crc = from;
            if (job.owner->m_slices)
                job.owner->m_slices->add(job.bytes, job.size);
            else
                crc = crc32c::Extend(from, job.bytes, job.size);
            if (job.after)
                job.after();
            job = Job{
                job.owner, nullptr, 0, {}, {}};  // the steps' captures go before the owner is told
            lock.lock();
            job.owner->m_crc = crc;
            --job.owner->m_pending;
            m_done.notify_all();
        }
    }

    // Returns, holding the lock, once a range is queued: spins unlocked first, then sleeps.
    void idle(std::unique_lock<std::mutex>& lock) {
        lock.unlock();
        const auto until = std::chrono::steady_clock::now() + kSpin;
        while (m_queued.load(std::memory_order_acquire) == 0 &&
               m_owners.load(std::memory_order_relaxed) > 0 &&
               std::chrono::steady_clock::now() < until)
            pause();
        lock.lock();
        m_sleeping = true;  // under the lock: a submitter either sees it or queued before it
        m_work.wait(lock, [this] { return !m_queue.empty(); });
        m_sleeping = false;
    }

    static void pause() {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }

    // Longer than the gap between two slices of one item; a bound for an owner that pauses.
    static constexpr std::chrono::microseconds kSpin{1000};
    // Between two looks at the mutex a waiting caller spins this often: about a microsecond.
    static constexpr int kPausesPerLook = 32;

    std::mutex m_mutex;
    std::condition_variable m_work, m_done;
    std::deque<Job> m_queue;
    std::atomic<std::size_t> m_queued{0};  // m_queue's size, for the spinning thread
    std::atomic<int> m_owners{0};          // ConcurrentCrc objects summing here
    bool m_sleeping = false;               // waiting on m_work; guarded by m_mutex
    bool m_running = false;
};

namespace {

std::atomic<ConcurrentCrc::Mode> g_autoWay{ConcurrentCrc::Mode::Auto};

bool decide(ConcurrentCrc::Mode mode) {
    if (mode == ConcurrentCrc::Mode::Auto)
        mode = g_autoWay.load(std::memory_order_relaxed);
    switch (mode) {
        case ConcurrentCrc::Mode::Concurrent:
            return true;
        case ConcurrentCrc::Mode::Inline:
            return false;
        case ConcurrentCrc::Mode::Auto:
            break;
    }
    return idleCoreLikely();
}

}  // namespace

ConcurrentCrc::ConcurrentCrc(std::uint32_t initial, Mode mode)
    : m_crc(initial), m_concurrent(decide(mode)) {
    if (m_concurrent)
        CrcWorker::instance().enter();
}

ConcurrentCrc::~ConcurrentCrc() {
    if (!m_concurrent)
        return;
    CrcWorker::instance().forget(*this);
    CrcWorker::instance().leave();
}

void ConcurrentCrc::add(const void* bytes, std::size_t size) {
    add(bytes, size, {}, {});
}

void ConcurrentCrc::sumSlicesInto(SliceCrcs* slices) {
    m_slices = slices;
    m_sliceOffset = slices ? slices->fill() : 0;
}

void ConcurrentCrc::add(const void* bytes, std::size_t size, Step before, Step after) {
    if (m_last)
        value();  // a range after the "last" one: keep the order
    if (m_slices)
        m_sliceOffset = (m_sliceOffset + size % m_slices->sliceBytes()) % m_slices->sliceBytes();
    if (m_concurrent && CrcWorker::instance().submit(
                            *this, static_cast<const unsigned char*>(bytes), size, before, after))
        return;
    // Ranges already queued come first; waiting for them keeps the order.
    if (m_concurrent)
        CrcWorker::instance().wait(*this);
    if (before)
        before();
    if (m_slices)
        m_slices->add(bytes, size);
    else
        m_crc = crc32c::Extend(m_crc, bytes, size);
    if (after)
        after();
}

void ConcurrentCrc::waitUntilPending(std::size_t ranges) {
    if (m_concurrent)
        CrcWorker::instance().wait(*this, ranges);
}

void ConcurrentCrc::setAutoWay(Mode mode) {
    g_autoWay.store(mode, std::memory_order_relaxed);
}

// The last range's sums, made apart from the others: one CRC, or its own slice sums.
struct ConcurrentCrc::Last {
    std::uint32_t crc = 0;
    std::size_t size = 0;
    std::optional<SliceCrcs> slices;
};

void ConcurrentCrc::addLast(const void* bytes, std::size_t size) {
    if (!m_concurrent || m_last || size == 0) {
        add(bytes, size);
        return;
    }
    auto last = std::make_unique<Last>();
    last->size = size;
    if (m_slices) {
        last->slices.emplace(m_slices->sliceBytes(),
                             m_sliceOffset > 0 ? std::vector<std::uint32_t>{0}
                                               : std::vector<std::uint32_t>{},
                             m_sliceOffset);
        last->slices->add(bytes, size);
    } else {
        last->crc = crc32c::Value(bytes, size);
    }
    m_last = std::move(last);
}

void ConcurrentCrc::appendLast() {
    const std::unique_ptr<Last> last = std::move(m_last);
    if (last->slices)
        m_slices->append(*last->slices);
    else
        m_crc = crc32c::Combine(m_crc, last->crc, last->size);
}

std::uint32_t ConcurrentCrc::value() {
    if (!m_concurrent)
        return m_crc;
    m_crc = CrcWorker::instance().wait(*this);
    if (m_last)
        appendLast();
    return m_crc;
}

std::optional<int> runnableTasks(std::string_view text) {
    // Three load averages, then "runnable/total".
    std::size_t at = 0;
    for (int field = 0; field < 3; ++field) {
        at = text.find(' ', at);
        if (at == std::string_view::npos)
            return std::nullopt;
        ++at;
    }
    const std::size_t slash = text.find('/', at);
    if (slash == std::string_view::npos || slash == at)
        return std::nullopt;
    int runnable = 0;
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + slash, runnable);
    if (error != std::errc() || end != text.data() + slash)
        return std::nullopt;
    return runnable;
}

bool idleCoreLikely(const char* loadavg) {
    cpu_set_t cpus;
    const int usable = sched_getaffinity(0, sizeof cpus, &cpus) == 0 ? CPU_COUNT(&cpus) : 1;
    if (usable < 2)
        return false;
    const int fd = ::open(loadavg, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    char buf[128];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n <= 0)
        return true;
    const std::optional<int> runnable =
        runnableTasks(std::string_view(buf, static_cast<std::size_t>(n)));
    // The caller itself is one of the runnable tasks.
    return !runnable || *runnable < usable;
}

}  // namespace Quellmar::qmxfile
