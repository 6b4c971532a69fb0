#ifndef QUELLMAR_BENCH_REPORT_H
#define QUELLMAR_BENCH_REPORT_H

#include "Harness.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace Quellmar::bench {

// One row of the results: a phase's throughput or a size, per contender, with the library's
// ratio against the row's baseline and whether the target is met.
struct ResultRow {
    std::string workload;
    std::string name;
    std::string unit;
    bool isSize = false;
    bool isSpeedup = false;  // values are multiples of the contender's own other phase
    std::map<std::string, std::optional<double>> values;   // throughput, or size
    std::map<std::string, std::optional<double>> seconds;  // phases only
    std::string baseline;
    double target = 0;            // phases: minimum ratio; sizes: maximum ratio
    std::optional<double> ratio;  // library vs baseline, paired for phases
    std::string failed;           // contenders that failed, comma separated
    // Empty when the row has no target or the library has no value.
    std::optional<bool> met() const;
};

std::vector<ResultRow> summarize(const WorkloadRun& run);

// Rows of a repetition with the second core kept busy: phases named so, compared with their
// baseline without a target (the targets hold for a quiet machine); sizes dropped.
void markSecondCoreBusy(std::vector<ResultRow>& rows);

// Thousands-separated integers from 1000 up, three significant digits below.
std::string formatNumber(double value);

void writeMarkdown(std::ostream& out, const std::vector<ResultRow>& rows);
void writeCsv(std::ostream& out, const std::vector<ResultRow>& rows, int reps);
// Throughput rows as gnuplot columns: label, then one column per contender ("-" missing).
void writePlotData(std::ostream& out, const std::vector<ResultRow>& rows);

}  // namespace Quellmar::bench

#endif
