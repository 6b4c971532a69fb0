#ifndef QUELLMAR_BENCH_WORKLOADS_H
#define QUELLMAR_BENCH_WORKLOADS_H

#include "Harness.h"
#include "Options.h"
#include "Scratch.h"

namespace Quellmar::bench {

// Each workload brings its own contenders; the library's are present when its DAOs are built.
Workload makeW1SmallBlobs(const Options& options, const Scratch& scratch);
Workload makeW2LargeBlob(const Options& options, const Scratch& scratch);
Workload makeW3TypedVector(const Options& options, const Scratch& scratch);
Workload makeW3Compressed(const Options& options, const Scratch& scratch);
Workload makeW4ReadMany(const Options& options, const Scratch& scratch);
Workload makeW5Transactions(const Options& options, const Scratch& scratch);
Workload makeW6Compound(const Options& options, const Scratch& scratch);
Workload makeW7RangeReads(const Options& options, const Scratch& scratch);
Workload makeW8Appends(const Options& options, const Scratch& scratch);

}  // namespace Quellmar::bench

#endif
