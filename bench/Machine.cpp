#include "Machine.h"

#include <sys/resource.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <vector>

namespace Quellmar::bench {

std::optional<CpuTimes> parseCpuLine(const std::string& line) {
    std::istringstream in(line);
    std::string label;
    if (!(in >> label) || label != "cpu")
        return std::nullopt;
    std::vector<double> fields;
    for (double v; in >> v;)
        fields.push_back(v);
    // user nice system idle iowait irq softirq steal; guest time is already in user.
    if (fields.size() < 4)
        return std::nullopt;
    CpuTimes t;
    for (std::size_t i = 0; i < fields.size() && i < 8; ++i) {
        t.total += fields[i];
        if (i != 3 && i != 4)
            t.busy += fields[i];
    }
    return t;
}

CpuSample sampleCpu() {
    CpuSample s;
    std::ifstream stat("/proc/stat");
    std::string line;
    if (std::getline(stat, line))
        if (const auto t = parseCpuLine(line))
            s.machine = *t;
    // The workloads' own processes count as ours once they are waited for.
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        if (getrusage(who, &u) == 0)
            s.ownSeconds += double(u.ru_utime.tv_sec) + double(u.ru_stime.tv_sec) +
                            1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
    }
    s.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    return s;
}

double otherCores(const CpuSample& from, const CpuSample& to, unsigned cpus) {
    const double total = to.machine.total - from.machine.total;
    const double wall = to.wallSeconds - from.wallSeconds;
    if (total <= 0 || wall <= 0)
        return 0;
    const double machineCores = (to.machine.busy - from.machine.busy) / total * cpus;
    const double own = (to.ownSeconds - from.ownSeconds) / wall;
    return machineCores > own ? machineCores - own : 0;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    if (!(in >> a >> b >> c))
        return "n/a";
    return a + " " + b + " " + c;
}

BusyCore::BusyCore() {
    m_thread = std::thread([this] {
        double x = 1.0;
        while (!m_stop.load(std::memory_order_relaxed)) {
            for (int i = 0; i < 4096; ++i)
                x = x * 1.0000001 + 1e-9;
            m_spins.fetch_add(1, std::memory_order_relaxed);
        }
        // Keeps the arithmetic from being optimised away.
        volatile double sink = x;
        (void)sink;
    });
}

BusyCore::~BusyCore() {
    m_stop.store(true, std::memory_order_relaxed);
    m_thread.join();
}

}  // namespace Quellmar::bench
