#ifndef QUELLMAR_BENCH_ROWCODEC_H
#define QUELLMAR_BENCH_ROWCODEC_H

#include "Report.h"

#include <string>
#include <vector>

namespace Quellmar::bench {

// Result rows as text and back, for a workload that runs in a child process: every field,
// numbers exactly (hexadecimal floating point), strings with any bytes.
std::string encodeRows(const std::vector<ResultRow>& rows);
// Throws BenchFailure on text encodeRows did not make.
std::vector<ResultRow> decodeRows(const std::string& text);

}  // namespace Quellmar::bench

#endif
