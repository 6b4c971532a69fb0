// qmx_bench: the library against raw HDF5, SQLite and plain file I/O, workload by workload.
#include "ChildProcess.h"
#include "LibraryHost.h"
#include "Machine.h"
#include "Options.h"
#include "RawHdf5.h"
#include "Report.h"
#include "RowCodec.h"
#include "Scratch.h"
#include "Workloads.h"

#include <sqlite3.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

namespace Quellmar::bench {
namespace {

std::string machine() {
    std::ostringstream s;
    struct utsname u {};
    if (uname(&u) == 0)
        s << u.sysname << " " << u.release << " " << u.machine;
    std::ifstream cpu("/proc/cpuinfo");
    for (std::string line; std::getline(cpu, line);) {
        if (line.rfind("model name", 0) == 0) {
            s << ", " << line.substr(line.find(':') + 2);
            break;
        }
    }
    s << ", " << std::thread::hardware_concurrency() << " hardware threads";
    unsigned majnum = 0, minnum = 0, relnum = 0;
    H5get_libversion(&majnum, &minnum, &relnum);
    s << ", HDF5 " << majnum << "." << minnum << "." << relnum << ", SQLite "
      << sqlite3_libversion();
    return s.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush())
        throw BenchFailure("cannot write " + path);
}

// Identifiers or handles left open by a contender would skew the next one and mean a leak.
bool leftOpen() {
    bool open = false;
    if (raw::openIdentifierCount() != 0) {
        std::cerr << "HDF5 identifiers left open: " << raw::openIdentifierCount() << "\n";
        open = true;
    }
    if (libraryOpenHandles() != 0) {
        std::cerr << "library handles left open: " << libraryOpenHandles() << "\n";
        open = true;
    }
    return open;
}

using Maker = Workload (*)(const Options&, const Scratch&);

const std::vector<std::pair<std::string, Maker>>& makers() {
    static const std::vector<std::pair<std::string, Maker>> all{
        {"W1", makeW1SmallBlobs},  {"W2", makeW2LargeBlob}, {"W3", makeW3TypedVector},
        {"W3Z", makeW3Compressed}, {"W4", makeW4ReadMany},  {"W5", makeW5Transactions},
        {"W6", makeW6Compound},    {"W7", makeW7RangeReads}, {"W8", makeW8Appends}};
    return all;
}

// Runs one workload in this process and summarizes it.
Measured measure(const Options& o, const Scratch& scratch, Maker make) {
    const Workload w = make(o, scratch);
    std::cerr << "running " << w.id << (o.secondCoreBusy ? " (second core busy)" : "") << ": "
              << w.title << "\n";
    const WorkloadRun r = runWorkload(w, o.reps, o.warmup);
    Measured m;
    m.title = w.title;
    m.ok = r.failures.empty() && !leftOpen();
    m.rows = summarize(r);
    if (o.secondCoreBusy)
        markSecondCoreBusy(m.rows);
    return m;
}

// The same in a process of its own (see ChildProcess.h), unless the options say otherwise.
Measured measureApart(const Options& o, const Scratch& scratch, Maker make) {
    if (o.inProcess)
        return measure(o, scratch, make);
    return decodeMeasured(
        runInChild([&] { return encodeMeasured(measure(o, scratch, make)); }));
}

// Runs the chosen workloads (only the large-data ones when `largeOnly`), adding their rows and
// titles; false when a contender failed or left something open.
bool runWorkloads(const Options& o, const Scratch& scratch, bool largeOnly,
                  std::vector<ResultRow>& rows, std::ostringstream& titles) {
    bool ok = true;
    for (const auto& [id, make] : makers()) {
        if (!o.wants(id) || (largeOnly && !Options::isLargeData(id)))
            continue;
        Measured m = measureApart(o, scratch, make);
        if (!o.secondCoreBusy)
            titles << "- " << id << ": " << m.title << "\n";
        ok = m.ok && ok;
        for (ResultRow& row : m.rows)
            rows.push_back(std::move(row));
    }
    return ok;
}

std::string coresNote(double others, unsigned cpus) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "other processes kept %.2f of %u cores busy on average (%s)",
                  others, cpus,
                  others < kIdleCoreBelow ? "a second core was idle" : "no core was idle");
    return buf;
}

int run(const Options& o) {
    Scratch scratch(o.scratch);
    const unsigned cpus = std::max(1u, std::thread::hardware_concurrency());
    const std::string loadStart = loadAverage();
    std::vector<ResultRow> rows;
    std::ostringstream titles, machineState;
    bool ok = true;
    if (o.busy != Options::Busy::Only) {
        const CpuSample from = sampleCpu();
        ok = runWorkloads(o, scratch, false, rows, titles) && ok;
        machineState << "While the workloads ran, "
                     << coresNote(otherCores(from, sampleCpu(), cpus), cpus) << ".\n";
    }
    bool anyLarge = false;
    for (const auto& [id, make] : makers())
        anyLarge = anyLarge || (o.wants(id) && Options::isLargeData(id));
    if (o.busy != Options::Busy::Off && anyLarge) {
        Options busy = o;
        busy.secondCoreBusy = true;
        const CpuSample from = sampleCpu();
        {
            BusyCore spinner;
            ok = runWorkloads(busy, scratch, true, rows, titles) && ok;
            if (spinner.spins() == 0)
                throw BenchFailure("the busy-loop thread never ran");
        }
        machineState << "Rows marked \"second core busy\" repeat the large-data workloads with a "
                        "busy-loop thread of this program spinning beside them; meanwhile "
                     << coresNote(otherCores(from, sampleCpu(), cpus), cpus) << ".\n";
    }
    std::ostringstream md;
    md << "Machine: " << machine() << "\n\n"
       << "Load (/proc/loadavg, 1/5/15 min): " << loadStart << " at the start, " << loadAverage()
       << " at the end. " << machineState.str() << "\n"
       << "Medians of " << o.reps << " repetitions (" << o.warmup
       << " discarded warm-up); ratios are medians of per-repetition ratios. Large reads go "
          "into a page-aligned buffer and into one 16 bytes past a page; every writer writes from "
          "page-aligned data. "
       << (o.inProcess ? "All workloads ran in this one process (--in-process).\n\n"
                       : "Each workload ran in a process of its own.\n\n")
       << titles.str() << "\n";
    writeMarkdown(md, rows);
    std::cout << md.str();
    if (!o.outDir.empty()) {
        std::filesystem::create_directories(o.outDir);
        std::ostringstream csv, dat;
        writeCsv(csv, rows, o.reps);
        writePlotData(dat, rows);
        writeFile(o.outDir + "/results.md", md.str());
        writeFile(o.outDir + "/results.csv", csv.str());
        writeFile(o.outDir + "/results.dat", dat.str());
    }
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace Quellmar::bench

int main(int argc, char** argv) {
    using namespace Quellmar::bench;
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n" << usage();
        return 2;
    }
    try {
        return run(options);
    } catch (const std::exception& e) {
        std::cerr << "qmx_bench: " << e.what() << "\n";
        return 1;
    }
}
