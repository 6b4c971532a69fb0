// qmx check: reads everything in a container and reports each problem with its path.
#include "CheckWalk.h"
#include "IsolatedCheck.h"
#include "Commands.h"
#include "Json.h"
#include "Progress.h"

#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

namespace Quellmar::qmx {
namespace {

class ProgressObserver : public CheckObserver {
public:
    void started(std::size_t entries) override {
        m_bar = std::make_unique<ProgressBar>("checking", entries);
    }
    void entering(std::size_t index, const std::string& path) override {
        if (m_bar)
            m_bar->update(index, path);
    }
    void finish() { m_bar.reset(); }

private:
    std::unique_ptr<ProgressBar> m_bar;
};

std::string plural(std::size_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

void printText(const std::string& file, const CheckResult& r) {
    for (const CheckFinding& f : r.findings)
        std::cout << file << ": " << (f.warning ? "warning: " : "") << f.path << ": " << f.message
                  << "\n";
    std::cout << file << ": " << (r.problems() ? plural(r.problems(), "problem") : "ok");
    if (r.warnings())
        std::cout << ", " << plural(r.warnings(), "warning");
    std::cout << " (";
    if (r.formatVersion)
        std::cout << "format version " << *r.formatVersion << "; ";
    std::cout << plural(r.groups, "group") << ", " << plural(r.objects, "object") << ", "
              << plural(r.vectors, "vector") << ", " << r.bytesRead << " bytes read)\n";
}

void printJson(const std::string& file, const CheckResult& r) {
    Json document = {{"file", file},
                     {"ok", r.problems() == 0},
                     {"formatVersion", orNull(r.formatVersion)},
                     {"libraryVersion", orNull(r.libraryVersion)},
                     {"groups", r.groups},
                     {"objects", r.objects},
                     {"vectors", r.vectors},
                     {"bytesRead", r.bytesRead}};
    for (const bool warnings : {false, true}) {
        Json list = Json::array();
        for (const CheckFinding& f : r.findings)
            if (f.warning == warnings)
                list.push_back({{"path", f.path}, {"message", f.message}});
        document[warnings ? "warnings" : "problems"] = std::move(list);
    }
    writeJson(std::cout, document);
}

int runCheck(const Args& args) {
    const std::string& file = args.positional(0);
    const bool native = args.has("--native");
    IsolationLimits limits;
    if (const auto seconds = args.value("--time-limit")) {
        try {
            std::size_t used = 0;
            limits.stallSeconds = std::stoi(*seconds, &used);
            if (used != seconds->size() || limits.stallSeconds < 1)
                throw std::invalid_argument(*seconds);
        } catch (const std::exception&) {
            throw UsageError("--time-limit needs a whole number of seconds, at least 1");
        }
    }
    ProgressObserver observer;
    // Damaged files can crash or hang HDF5 itself; a child process takes that instead of us.
    const CheckResult result = args.has("--in-process")
                                   ? checkContainer(file, native, observer)
                                   : runIsolated(
                                         [&](std::size_t first, CheckObserver& child) {
                                             return checkContainer(file, native, child, first);
                                         },
                                         observer, limits);
    observer.finish();
    if (args.has("--json"))
        printJson(file, result);
    else
        printText(file, result);
    return result.problems() ? kExitProblem : kExitOk;
}

}  // namespace

Command checkCommand() {
    return {"check",
            "FILE",
            "Verify that a container is sound: read everything, report each problem.",
            "Opens FILE as the library does, verifies the container marker and the format\n"
            "version, walks every group, has HDF5 decode every object's header and checks its\n"
            "attributes against their checksum, reads the bookkeeping attributes of every object "
            "group,\n"
            "every object and every vector and array, and reports each problem with its path.\n"
            "Warnings (unusual but readable content) do not fail the check.\n"
            "The reading runs in a child process: a crash or hang there is reported as a problem\n"
            "at the path being read, and the rest is checked by a new child.",
            {{"", "--json", "", "write the result as JSON"},
             {"", "--time-limit", "SECONDS",
              "stop a read that makes no progress for so long (default 120)"},
             {"", "--in-process", "", "read in this process, unprotected (for debugging)"},
             nativeOption(),
             verboseOption()},
            1,
            1,
            runCheck};
}

}  // namespace Quellmar::qmx
