#ifndef QUELLMAR_CRASHTEST_DAOTRIALS_H
#define QUELLMAR_CRASHTEST_DAOTRIALS_H

// Kill trials of the DAO writer (qmx_crash_dao_writer), in three modes:
//   random   SIGKILL after a random time within an undisturbed run;
//   nth      the preloaded shim kills just before the writer's N-th write, truncation, sync
//            or unlink, N drawn from all such calls of an undisturbed run;
//   recover  as nth, then the open that rolls the interrupted unit back is killed just
//            before one of its own such calls, N drawn from an undisturbed recovery of a copy.
// Every trial ends with a checker process judging the container.

#include <string>
#include <vector>

namespace Quellmar::crashtest::dao {

struct TrialOptions {
    std::string writer, shim, dir;
    int trials = 1000;  // per mode
    int units = 12;     // units of work per writer run
    std::vector<std::string> modes{"random", "nth", "recover"};
    unsigned seed = 1;
    int jobs = 4;  // trials side by side: they mostly wait for syncs, not for a core
    bool keepDamaged = false;
    double timeout = 120;  // seconds; a process still running then counts as hung
    bool appends = false;  // the writer's appending plan (DaoWorkload.h) in place of the mixed one
};

// Prints one row per mode; 0 when every trial was clean, 1 otherwise, 2 when the writer fails
// undisturbed.
int runTrials(const TrialOptions& options);

}  // namespace Quellmar::crashtest::dao

#endif
