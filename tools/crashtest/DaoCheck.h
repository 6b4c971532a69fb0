#ifndef QUELLMAR_CRASHTEST_DAOCHECK_H
#define QUELLMAR_CRASHTEST_DAOCHECK_H

// The checker's verdict on a container after a kill, from the writer's side log alone.

#include "DaoWorkload.h"

#include <string>

namespace Quellmar::crashtest::dao {

// Also the checker process's exit status.
enum class Verdict {
    Exact = 0,        // units 0 .. logged-1 applied, nothing else
    AheadOfLog = 1,   // also the unit in flight: it landed before its log line
    Damaged = 2,      // unreadable, or a state that no prefix of the units leaves
    DamagedLost = 3,  // ... and a logged unit's work is gone
};

// The number of whole lines of the writer's log ("N committed" or "N reverted", N counting
// from 0); -1 with `why` set when a line is out of order.
int loggedUnits(const std::string& log, std::string& why);

// Reads the container through the DAOs and compares it with the states after `logged` and
// `logged + 1` units. `why` says what differed when the verdict is not Exact or AheadOfLog.
Verdict judge(const std::string& container, unsigned seed, int logged, int units, std::string& why,
              Plan plan = Plan::Mixed);

}  // namespace Quellmar::crashtest::dao

#endif
