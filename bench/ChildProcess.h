#ifndef QUELLMAR_BENCH_CHILDPROCESS_H
#define QUELLMAR_BENCH_CHILDPROCESS_H

#include <functional>
#include <string>

namespace Quellmar::bench {

// Runs `work` in a forked child and returns the text it made. A workload measured after
// others in one process inherits their heap: after W1's 60,000 creates, W7's range units ran
// 24-31% slower for both contenders, so each workload gets a process of its own.
// Throws BenchFailure when the child throws (with its message), dies or exits without text.
std::string runInChild(const std::function<std::string()>& work);

}  // namespace Quellmar::bench

#endif
