// Kills the crash writer again and again and checks what it leaves behind: the container must
// open, hold exactly the data of every transaction the writer logged as committed, and show
// nothing of a transaction it did not log (the one in flight may be wholly there: it can have
// committed just before the kill, ahead of its log line).
//
//   qmx_crashtest --writer PATH --shim PATH [--trials N] [--transactions T] [--modes random,nth]
//                 [--journal on|off|both] [--flush on|off] [--seed S] [--dir BASE]
//                 [--require-clean]
//   qmx_crashtest --workload dao|dao-append --writer PATH --shim PATH [--trials N] [--transactions UNITS]
//                 [--modes random,nth,recover] [--jobs J] [--timeout SECONDS] [--seed S] [--dir
//                 BASE]
//                 [--keep-damaged] [--require-clean]
//
// The first form drives the file-library writer (qmx_crash_writer); the second a host's units of
// work through the DAO factory and the DAOs (qmx_crash_dao_writer, DaoTrials.h); "dao-append"
// runs that writer's appending plan: units that append to vectors and arrays.
//
// Kill modes: "random" sends SIGKILL after a random time within one undisturbed run; "nth"
// kills just before the writer's N-th write, truncation, sync or unlink (the preloaded shim), N
// drawn from all such calls of an undisturbed run. Exit status 1 when --require-clean is given
// and a journaled trial left damage.
#include "DaoTrials.h"
#include "JournalControl.h"
#include "Workload.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Quellmar;
namespace fs = std::filesystem;

namespace {

struct Options {
    std::string writer, shim, dir;
    int trials = 1000;
    int transactions = 0;  // 0: the workload's default
    std::vector<std::string> modes{"random", "nth"};
    std::vector<bool> journal{true, false};
    bool flush = true;
    unsigned seed = 1;
    bool requireClean = false;
    bool keepDamaged = false;  // leaves damaged journaled trials in --dir for inspection
    std::string workload = "files";
    bool modesGiven = false;
    int jobs = 4;          // DAO workload only: trials side by side
    double timeout = 120;  // DAO workload only: seconds before a process counts as hung
};

struct Calibration {
    long long writes = 0;
    double seconds = 0;
};

struct Tally {
    int trials = 0, killed = 0, completed = 0, writerErrors = 0, damaged = 0, lost = 0,
        aheadOfLog = 0;
};

enum Verdict { Exact = 0, AheadOfLog = 1, Damaged = 2, DamagedLost = 3, CheckCrashed = 4 };

std::vector<std::string> split(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t comma; (comma = s.find(',', start)) != std::string::npos; start = comma + 1)
        out.push_back(s.substr(start, comma - start));
    out.push_back(s.substr(start));
    return out;
}

// Runs the writer; killAt > 0 arms the shim, delay > 0 kills after that long. Returns the
// wait status.
int runWriter(const Options& o, const std::string& dir, unsigned seed, bool journal,
              long long killAt, double delay, const std::string& countFile = {}) {
    const std::string container = dir + "/c.qmz", log = dir + "/log";
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("LD_PRELOAD", o.shim.c_str(), 1);
        // A sanitized writer otherwise refuses a library preloaded ahead of its runtime.
        setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0", 1);
        if (killAt > 0)
            setenv("QMX_KILL_AT", std::to_string(killAt).c_str(), 1);
        if (!countFile.empty())
            setenv("QMX_COUNT_FILE", countFile.c_str(), 1);
        const std::string seedText = std::to_string(seed),
                          countText = std::to_string(o.transactions);
        std::vector<const char*> args{o.writer.c_str(), container.c_str(), log.c_str(),
                                      seedText.c_str(), countText.c_str()};
        if (!journal)
            args.push_back("--no-journal");
        if (!o.flush)
            args.push_back("--no-flush");
        args.push_back(nullptr);
        execv(o.writer.c_str(), const_cast<char* const*>(args.data()));
        _exit(127);
    }
    if (delay > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(delay));
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

int loggedCommits(const std::string& dir) {
    std::ifstream in(dir + "/log");
    std::string line, all;
    int count = 0;
    while (std::getline(in, line))
        if (!in.eof())
            ++count;  // only whole lines count
    return count;
}

// Judges the container in a child process: a damaged file may crash the reader.
Verdict check(const std::string& dir, unsigned seed, int logged, int transactions, bool journal) {
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(60);
        qmxfile::setJournalEnabled(journal);
        const std::string container = dir + "/c.qmz";
        const crashtest::State committed = crashtest::stateAfter(seed, logged);
        const crashtest::State next =
            logged < transactions ? crashtest::stateAfter(seed, logged + 1) : committed;
        if (!fs::exists(container))
            _exit(logged == 0 ? Exact : DamagedLost);
        crashtest::State actual;
        const std::string error = crashtest::readState(container, actual);
        // Opening rolled back a creation that never committed: no file is the right answer.
        if (!error.empty() && logged == 0 && !fs::exists(container))
            _exit(Exact);
        if (!error.empty()) {
            if (journal)
                std::fprintf(stderr, "%s (%d logged): %s\n", dir.c_str(), logged, error.c_str());
            _exit(logged == 0 ? Damaged : DamagedLost);
        }
        if (actual == committed)
            _exit(Exact);
        if (actual == next)
            _exit(AheadOfLog);
        if (journal)
            std::fprintf(stderr, "%s (%d logged): content differs\n", dir.c_str(), logged);
        // Lost: something committed and not changed by the transaction in flight is not there.
        bool lost = committed.version != actual.version && committed.version == next.version;
        for (const auto& [name, bytes] : committed.blobs) {
            auto n = next.blobs.find(name);
            auto a = actual.blobs.find(name);
            if (n != next.blobs.end() && n->second == bytes &&
                (a == actual.blobs.end() || a->second != bytes))
                lost = true;
        }
        for (const auto& [name, values] : committed.vectors) {
            auto n = next.vectors.find(name);
            auto a = actual.vectors.find(name);
            if (n != next.vectors.end() && n->second == values &&
                (a == actual.vectors.end() || a->second != values))
                lost = true;
        }
        _exit(lost ? DamagedLost : Damaged);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status))
        return CheckCrashed;
    return static_cast<Verdict>(WEXITSTATUS(status));
}

Calibration calibrate(const Options& o, unsigned seed, bool journal) {
    const std::string dir = o.dir + "/calibrate";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const auto start = std::chrono::steady_clock::now();
    const int status = runWriter(o, dir, seed, journal, 0, 0, dir + "/count");
    Calibration c;
    c.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ifstream(dir + "/count") >> c.writes;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || c.writes <= 0) {
        std::fprintf(stderr, "undisturbed writer run failed (status %d)\n", status);
        std::exit(2);
    }
    fs::remove_all(dir);
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--writer")
            o.writer = value();
        else if (a == "--shim")
            o.shim = value();
        else if (a == "--dir")
            o.dir = value();
        else if (a == "--trials")
            o.trials = std::atoi(value().c_str());
        else if (a == "--transactions")
            o.transactions = std::atoi(value().c_str());
        else if (a == "--modes") {
            o.modes = split(value());
            o.modesGiven = true;
        } else if (a == "--workload")
            o.workload = value();
        else if (a == "--jobs")
            o.jobs = std::atoi(value().c_str());
        else if (a == "--timeout")
            o.timeout = std::atof(value().c_str());
        else if (a == "--seed")
            o.seed = static_cast<unsigned>(std::atoi(value().c_str()));
        else if (a == "--flush")
            o.flush = value() != "off";
        else if (a == "--require-clean")
            o.requireClean = true;
        else if (a == "--keep-damaged")
            o.keepDamaged = true;
        else if (a == "--journal") {
            const std::string v = value();
            o.journal = v == "on"    ? std::vector<bool>{true}
                        : v == "off" ? std::vector<bool>{false}
                                     : std::vector<bool>{true, false};
        } else {
            std::fprintf(stderr, "unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    if (o.writer.empty() || o.shim.empty()) {
        std::fprintf(stderr, "--writer and --shim are required\n");
        return 2;
    }
    if (o.workload != "files" && o.workload != "dao" && o.workload != "dao-append") {
        std::fprintf(stderr, "unknown workload %s\n", o.workload.c_str());
        return 2;
    }
    const bool ownDir = o.dir.empty();
    if (ownDir) {
        char tmpl[] = "/tmp/qmx-crashtest-XXXXXX";
        if (!mkdtemp(tmpl))
            return 2;
        o.dir = tmpl;
    }
    fs::create_directories(o.dir);
    if (o.workload == "dao" || o.workload == "dao-append") {
        crashtest::dao::TrialOptions d;
        d.appends = o.workload == "dao-append";
        d.writer = o.writer;
        d.shim = o.shim;
        d.dir = o.dir;
        d.trials = o.trials;
        if (o.transactions > 0)
            d.units = o.transactions;
        if (o.modesGiven)
            d.modes = o.modes;
        d.seed = o.seed;
        d.jobs = o.jobs;
        d.timeout = o.timeout;
        d.keepDamaged = o.keepDamaged && !ownDir;
        const int rc = crashtest::dao::runTrials(d);
        if (ownDir)
            fs::remove_all(o.dir);
        return rc == 2 ? 2 : o.requireClean && rc != 0 ? 1 : 0;
    }

    if (o.transactions <= 0)
        o.transactions = 10;
    std::mt19937_64 rng(o.seed);
    // Workloads, each calibrated once per journal setting.
    const unsigned kSeeds = static_cast<unsigned>(std::clamp(o.trials, 1, 8));
    std::printf("%-7s %-8s %7s %7s %10s %8s %15s %13s %13s\n", "mode", "journal", "trials",
                "killed", "completed", "damaged", "lost committed", "ahead of log",
                "writer errors");
    bool clean = true;
    const bool keepDamaged = o.keepDamaged && !ownDir;
    for (bool journal : o.journal) {
        std::map<unsigned, Calibration> calibration;
        for (unsigned s = 0; s < kSeeds; ++s)
            calibration[s] = calibrate(o, o.seed * 100 + s, journal);
        for (const std::string& mode : o.modes) {
            Tally t;
            for (int trial = 0; trial < o.trials; ++trial) {
                const unsigned s = static_cast<unsigned>(trial) % kSeeds;
                const unsigned seed = o.seed * 100 + s;
                const Calibration& c = calibration[s];
                const std::string dir = o.dir + "/t" + std::to_string(trial);
                fs::remove_all(dir);
                fs::create_directories(dir);
                int status;
                if (mode == "nth") {
                    status = runWriter(o, dir, seed, journal,
                                       1 + static_cast<long long>(rng() % c.writes), 0);
                } else {
                    const double delay =
                        std::uniform_real_distribution<double>(1e-4, c.seconds)(rng);
                    status = runWriter(o, dir, seed, journal, 0, delay);
                }
                ++t.trials;
                if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
                    ++t.killed;
                else if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
                    ++t.completed;
                else
                    ++t.writerErrors;
                const Verdict v = check(dir, seed, loggedCommits(dir), o.transactions, journal);
                if (v == AheadOfLog)
                    ++t.aheadOfLog;
                if (v == Damaged || v == DamagedLost || v == CheckCrashed)
                    ++t.damaged;
                if (v == DamagedLost || v == CheckCrashed)
                    ++t.lost;
                if (keepDamaged && journal && v >= Damaged)
                    fs::rename(dir, dir + "-damaged");
                else
                    fs::remove_all(dir);
            }
            std::printf("%-7s %-8s %7d %7d %10d %8d %15d %13d %13d\n", mode.c_str(),
                        journal ? "on" : "off", t.trials, t.killed, t.completed, t.damaged, t.lost,
                        t.aheadOfLog, t.writerErrors);
            std::fflush(stdout);
            if (journal && (t.damaged > 0 || t.writerErrors > 0))
                clean = false;
        }
    }
    if (ownDir)
        fs::remove_all(o.dir);
    return o.requireClean && !clean ? 1 : 0;
}
