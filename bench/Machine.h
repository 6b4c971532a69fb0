#ifndef QUELLMAR_BENCH_MACHINE_H
#define QUELLMAR_BENCH_MACHINE_H

#include <atomic>
#include <optional>
#include <string>
#include <thread>

namespace Quellmar::bench {

// What the rest of the machine did while the benchmark ran. The library checksums large items
// on a second thread, so whether a second core was free changes its numbers; the report says.

// Jiffies summed over all CPUs, from the first line of /proc/stat.
struct CpuTimes {
    double busy = 0;
    double total = 0;
};
// Parses "cpu  user nice system idle iowait irq softirq steal ..."; empty when it is not one.
std::optional<CpuTimes> parseCpuLine(const std::string& line);

struct CpuSample {
    CpuTimes machine;
    double ownSeconds = 0;   // CPU time of this process, all threads, and its waited-for children
    double wallSeconds = 0;  // a monotonic clock
};
CpuSample sampleCpu();

// Cores kept busy by other processes on average between two samples: the machine's busy share
// times the core count, less this process's own use. Clamped at zero.
double otherCores(const CpuSample& from, const CpuSample& to, unsigned cpus);

// Fewer cores than this kept busy by others leave one free for a second thread.
inline constexpr double kIdleCoreBelow = 0.25;

// The first three fields of /proc/loadavg, "n/a" when unreadable.
std::string loadAverage();

// A thread spinning on arithmetic for its lifetime: the second core busy, as on a machine
// where something else runs beside the host.
class BusyCore {
public:
    BusyCore();
    ~BusyCore();
    BusyCore(const BusyCore&) = delete;
    BusyCore& operator=(const BusyCore&) = delete;
    // Iterations so far: proof that it spins.
    unsigned long long spins() const { return m_spins.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<unsigned long long> m_spins{0};
    std::thread m_thread;
};

}  // namespace Quellmar::bench

#endif
