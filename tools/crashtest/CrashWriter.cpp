// The process that gets killed: runs the workload's transactions on one container through the
// file library and appends each transaction's number to a side log once its commit returned.
//
//   qmx_crash_writer CONTAINER LOG SEED COUNT [--no-journal] [--no-flush]
#include "JournalControl.h"
#include "QMXL.h"
#include "Workload.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

using namespace Quellmar;

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s CONTAINER LOG SEED COUNT [--no-journal] [--no-flush]\n",
                     argv[0]);
        return 2;
    }
    const std::string container = argv[1];
    const unsigned seed = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
    const int count = std::atoi(argv[4]);
    for (int i = 5; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-journal") == 0)
            qmxfile::setJournalEnabled(false);
        if (std::strcmp(argv[i], "--no-flush") == 0)
            QMXLsetflush(0);
    }
    const int log = ::open(argv[2], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log < 0) {
        std::perror("log");
        return 2;
    }
    crashtest::State state;
    for (int n = 1; n <= count; ++n) {
        const std::vector<crashtest::Op> ops = crashtest::planTransaction(seed, n, state);
        const std::string error = crashtest::runTransaction(container, n, ops);
        if (!error.empty()) {
            std::fprintf(stderr, "transaction %d: %s\n", n, error.c_str());
            return 3;
        }
        crashtest::applyOps(ops, state);
        const std::string line = std::to_string(n) + "\n";
        if (::write(log, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            return 4;
    }
    ::close(log);
    return 0;
}
