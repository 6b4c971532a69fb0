// The host process of the DAO crash test, in three roles:
//
//   qmx_crash_dao_writer write CONTAINER LOG SEED UNITS [--appends]
//       runs the units (of the appending plan with --appends) one after the other; appends "N committed" or "N reverted" to LOG
//       (O_APPEND, synced) once the unit's commit() or revert() has returned. With
//       QMX_READY_FD set, closes that descriptor when its units begin.
//   qmx_crash_dao_writer recover CONTAINER [--read-write]
//       opens the container once through the factory and ends the unit: the open that rolls
//       an interrupted unit back, killed in its turn.
//   qmx_crash_dao_writer check CONTAINER LOG SEED UNITS [--appends]
//       judges the container read-only through the DAOs; the exit status is the verdict
//       (DaoCheck.h), 9 for a log that cannot be read. Prints why on stderr.
#include "DaoCheck.h"
#include "DaoWorkload.h"

#include "DataSourceDescriptor.h"
#include "QMXGenericDAOFactory.h"
#include "TransactionStack.h"
#include "UserContext.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <string>
#include <unistd.h>

using namespace Quellmar;
using namespace Quellmar::crashtest::dao;

namespace {

int usage(const char* self) {
    std::fprintf(stderr,
                 "usage: %s write CONTAINER LOG SEED UNITS [--appends]\n"
                 "       %s recover CONTAINER [--read-write]\n"
                 "       %s check CONTAINER LOG SEED UNITS [--appends]\n",
                 self, self, self);
    return 2;
}

int writeUnits(const std::string& container, const char* logName, unsigned seed, int units,
               Plan plan) {
    const int log = ::open(logName, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log < 0) {
        std::perror("log");
        return 2;
    }
    // Tells the harness that loading is over and the units begin: it times random kills from here.
    if (const char* ready = std::getenv("QMX_READY_FD"))
        ::close(std::atoi(ready));
    State state;
    for (int i = 0; i < units; ++i) {
        const Unit unit = planUnit(seed, i, state, plan);
        const std::string error = runUnit(container, unit);
        if (!error.empty()) {
            std::fprintf(stderr, "unit %d: %s\n", i, error.c_str());
            return 3;
        }
        applyUnit(unit, state);
        const std::string line =
            std::to_string(i) + (unit.reverted ? " reverted\n" : " committed\n");
        if (::write(log, line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
            ::fsync(log) != 0)
            return 4;
    }
    ::close(log);
    return 0;
}

int recover(const std::string& container, bool readWrite) {
    try {
        auto stack = TransactionStack::create();
        UserContext context(stack, readWrite ? UserContext::ReadWrite : UserContext::ReadOnly);
        QMXGenericDAOFactory factory(std::make_shared<DataSourceDescriptor>(container), &context);
        stack->commit();
        return 0;
    } catch (const std::exception& e) {
        // A creation rolled back leaves nothing to open: not the recoverer's business to judge.
        std::fprintf(stderr, "recover: %s\n", e.what());
        return 1;
    }
}

int check(const std::string& container, const std::string& log, unsigned seed, int units,
          Plan plan) {
    std::string why;
    const int logged = loggedUnits(log, why);
    if (logged < 0) {
        std::fprintf(stderr, "%s: %s\n", log.c_str(), why.c_str());
        return 9;
    }
    const Verdict v = judge(container, seed, logged, units, why, plan);
    if (v == Verdict::Damaged || v == Verdict::DamagedLost)
        std::fprintf(stderr, "%s (%d logged): %s\n", container.c_str(), logged, why.c_str());
    return static_cast<int>(v);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return usage(argv[0]);
    const std::string role = argv[1];
    if (role == "recover")
        return recover(argv[2], argc > 3 && std::strcmp(argv[3], "--read-write") == 0);
    if (argc < 6)
        return usage(argv[0]);
    const unsigned seed = static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10));
    const int units = std::atoi(argv[5]);
    if (argc > 7 || (argc == 7 && std::strcmp(argv[6], "--appends") != 0))
        return usage(argv[0]);
    const Plan plan = argc == 7 ? Plan::Appends : Plan::Mixed;
    if (role == "write")
        return writeUnits(argv[2], argv[3], seed, units, plan);
    if (role == "check")
        return check(argv[2], argv[3], seed, units, plan);
    return usage(argv[0]);
}
