#ifndef QUELLMAR_BENCH_OPTIONS_H
#define QUELLMAR_BENCH_OPTIONS_H

#include <set>
#include <string>

namespace Quellmar::bench {

// Sizes and run settings; the defaults are the published workloads.
struct Options {
    bool smoke = false;
    int reps = 5;
    int warmup = 1;
    std::string outDir;   // results.md, results.csv, results.dat go here when set
    std::string scratch;  // where the contenders' files live; a fresh temporary dir when empty
    std::set<std::string> only;  // workload ids to run; all when empty
    // The large-data workloads (W2, W3, W6) once more with a busy-loop thread on the second
    // core: after the others (on), not at all (off), or alone (only).
    enum class Busy { On, Off, Only };
    Busy busy = Busy::On;
    bool secondCoreBusy = false;  // set while that repetition runs; it skips compression
    // Every workload runs in a process of its own unless this is set (for a profiler).
    bool inProcess = false;

    int w1Count = 10000;
    int w1Size = 100;
    long long w2Bytes = 256LL << 20;
    long long w3Count = 10'000'000;
    int w3Level = 6;
    int w4Count = 1000;
    int w4Size = 1000;
    int w5Count = 1000;
    int w5Size = 100;
    int w5Synced = 250;  // transactions with synced commits; 0 skips them
    long long w6Records = 1'000'000;
    int w6Rows = 1000;
    int w6Cols = 1000;
    long long w7Count = 10'000'000;  // doubles of the vector read by ranges
    int w7Rows = 1'000'000;          // rows of the array read by rows
    int w7Cols = 8;
    int w7Range = 1000;  // elements (rows) a range read takes
    int w7Reads = 200;   // range reads per repetition, one unit of work each
    int w8Appends = 1000;
    int w8Size = 10000;  // doubles an append adds

    bool wants(const std::string& id) const { return only.empty() || only.count(id) > 0; }
    static bool isLargeData(const std::string& id) {
        return id == "W2" || id == "W3" || id == "W6";
    }
};

// Parses the command line; throws std::invalid_argument with a usage hint on bad input.
// `--smoke` switches to tiny sizes and one repetition; flags after it still apply.
Options parseOptions(int argc, char** argv);
const char* usage();

}  // namespace Quellmar::bench

#endif
