#ifndef QUELLMAR_BENCH_HARNESS_H
#define QUELLMAR_BENCH_HARNESS_H

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Quellmar::bench {

// Contender names, in the column order of every table.
inline const char* const kLibrary = "library";
inline const char* const kRawHdf5 = "raw HDF5";
inline const char* const kSqlite = "SQLite";
inline const char* const kPlainFile = "plain file";
const std::vector<std::string>& contenderOrder();

// A read-back that does not match what was written, or a failing call of a contender.
class BenchFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Stopwatch {
public:
    Stopwatch() : m_start(std::chrono::steady_clock::now()) {}
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    }

private:
    std::chrono::steady_clock::time_point m_start;
};

// What one repetition of one contender measured: seconds per phase, sizes per size row.
struct Sample {
    std::map<std::string, double> seconds;
    std::map<std::string, double> sizes;
};

// A timed step of a workload. Throughput is `amount` units per second.
struct Phase {
    std::string name;
    std::string unit;
    double amount = 0;
    std::string baseline;  // contender the library is compared with; empty: none
    double target = 0;     // minimum library throughput / baseline throughput; 0: none
};

// A size the workload reports (bytes per object, file bytes). Smaller is better.
struct SizeRow {
    std::string name;
    std::string unit;
    std::string baseline;  // contender the library is compared with; empty: none
    double maxRatio = 0;   // maximum library size / baseline size; 0: none
};

// A contender's throughput in one phase as a multiple of its own throughput in another (a
// range read against reading the whole item), shown in the row of the library's ratio.
struct Speedup {
    std::string name;
    std::string phase;
    std::string versus;  // the other phase of the same workload
    double target = 0;   // minimum library multiple; 0: none
};

// A size of each contender as a multiple of another size of its own (one compressor's file
// against another's), held to a maximum for the library.
struct SizeVersus {
    std::string name;
    std::string size;
    std::string versus;  // the other size row of the same workload
    double maxRatio = 0;
};

struct Contender {
    std::string name;
    std::function<void(Sample&)> run;  // one repetition; throws on any failure
};

struct Workload {
    std::string id;
    std::string title;
    std::vector<Phase> phases;
    std::vector<SizeRow> sizes;
    std::vector<SizeVersus> sizesVersus;
    std::vector<Speedup> speedups;
    std::vector<Contender> contenders;
};

// Everything measured of one workload: the samples of each contender, rep by rep.
struct WorkloadRun {
    const Workload* workload = nullptr;
    std::map<std::string, std::vector<Sample>> samples;
    std::map<std::string, std::string> failures;  // contender -> first error
};

// Runs `warmup` discarded and then `reps` measured repetitions. Within a repetition every
// contender runs once, in an order rotated from rep to rep, so that load from the rest of the
// machine falls on all of them alike.
WorkloadRun runWorkload(const Workload& workload, int reps, int warmup);

double median(std::vector<double> values);

// Median over the repetitions where both ran of baseline seconds / contender seconds, i.e.
// the contender's throughput as a multiple of the baseline's. Empty when no pair exists.
std::optional<double> pairedRatio(const std::vector<Sample>& contender,
                                  const std::vector<Sample>& baseline, const std::string& phase);

// Median over one contender's repetitions of (amount / seconds of `phase`) / (versusAmount /
// seconds of `versus`); empty when no repetition has both.
std::optional<double> speedupOf(const std::vector<Sample>& samples, const std::string& phase,
                                double amount, const std::string& versus, double versusAmount);

// Median of a phase's seconds or of a size; empty when the contender has none.
std::optional<double> medianSeconds(const std::vector<Sample>& samples, const std::string& phase);
std::optional<double> medianSize(const std::vector<Sample>& samples, const std::string& size);

}  // namespace Quellmar::bench

#endif
