#ifndef QUELLMAR_BENCH_ROWCODEC_H
#define QUELLMAR_BENCH_ROWCODEC_H

#include "Report.h"

#include <string>
#include <vector>

namespace Quellmar::bench {

// One workload measured: its title, its rows, and whether every contender succeeded and
// closed what it opened.
struct Measured {
    std::string title;
    std::vector<ResultRow> rows;
    bool ok = true;
};

// Result rows, or a whole measured workload, as text and back, for a workload that runs in a
// child process: every field, numbers exactly (hexadecimal floating point), strings with any
// bytes. The decoders throw BenchFailure on text their encoder did not make.
std::string encodeRows(const std::vector<ResultRow>& rows);
std::vector<ResultRow> decodeRows(const std::string& text);
std::string encodeMeasured(const Measured& measured);
Measured decodeMeasured(const std::string& text);

}  // namespace Quellmar::bench

#endif
