// qmx_bench: the library against raw HDF5, SQLite and plain file I/O, workload by workload.
#include "LibraryHost.h"
#include "Options.h"
#include "RawHdf5.h"
#include "Report.h"
#include "Scratch.h"
#include "Workloads.h"

#include <sqlite3.h>
#include <sys/utsname.h>
#include <unistd.h>

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
    if (uname(&u) == 0) s << u.sysname << " " << u.release << " " << u.machine;
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
    s << ", HDF5 " << majnum << "." << minnum << "." << relnum << ", SQLite " << sqlite3_libversion();
    return s.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw BenchFailure("cannot write " + path);
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

int run(const Options& o) {
    Scratch scratch(o.scratch);
    using Maker = Workload (*)(const Options&, const Scratch&);
    const std::vector<std::pair<std::string, Maker>> makers{
        {"W1", makeW1SmallBlobs},   {"W2", makeW2LargeBlob},      {"W3", makeW3TypedVector},
        {"W3Z", makeW3Compressed},
        {"W4", makeW4ReadMany},     {"W5", makeW5Transactions},   {"W6", makeW6Compound}};
    std::vector<ResultRow> rows;
    std::ostringstream titles;
    bool failed = false;
    for (const auto& [id, make] : makers) {
        if (!o.wants(id)) continue;
        const Workload w = make(o, scratch);
        std::cerr << "running " << w.id << ": " << w.title << "\n";
        titles << "- " << w.id << ": " << w.title << "\n";
        const WorkloadRun r = runWorkload(w, o.reps, o.warmup);
        failed = failed || !r.failures.empty() || leftOpen();
        for (ResultRow& row : summarize(r)) rows.push_back(std::move(row));
    }
    std::ostringstream md;
    md << "Machine: " << machine() << "\n\n"
       << "Medians of " << o.reps << " repetitions (" << o.warmup
       << " discarded warm-up); ratios are medians of per-repetition ratios.\n\n"
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
    return failed ? 1 : 0;
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
