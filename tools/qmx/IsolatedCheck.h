// Runs the check of a container in a child process with a memory limit and a watchdog, so that
// a crash, hang or runaway allocation inside HDF5 on a damaged file becomes a reported problem
// at the path being read, never a crash of the tool.
#ifndef QMX_TOOL_ISOLATEDCHECK_H
#define QMX_TOOL_ISOLATEDCHECK_H

#include "CheckWalk.h"

#include <cstddef>
#include <functional>

namespace Quellmar::qmx {

struct IsolationLimits {
    int stallSeconds = 120;                       // longest time without progress
    unsigned long long memoryBytes = 8ULL << 30;  // address space of the child; 0: none
    int maxRestarts = 16;                         // fresh children after crashes
};

// The check to run: from entry `firstEntry` on (earlier entries are listed but not read).
using CheckFunction = std::function<CheckResult(std::size_t firstEntry, CheckObserver& observer)>;

// Runs check in children. After a crash or hang at entry i the walk goes on in a new child from
// entry i + 1, so one bad entry does not hide the rest. The observer sees the events as the
// children report them.
CheckResult runIsolated(const CheckFunction& check, CheckObserver& observer,
                        const IsolationLimits& limits);

// False in sanitizer builds: they reserve terabytes of address space, so the memory limit is
// left off, and they turn a crash into a report and exit status 1 instead of a signal.
bool memoryLimitApplies();

}  // namespace Quellmar::qmx

#endif
