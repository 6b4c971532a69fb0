#include "DaoTrials.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <poll.h>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace Quellmar::crashtest::dao {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Calibration {
    long long calls = 0;  // calls the shim counts in an undisturbed run
    double seconds = 0;
};

struct Process {
    pid_t pid = -1;
    int status = 0;
    bool hung = false;
    double seconds = 0;  // from the start of the wait to the end of the process
};

// Starts a program with the shim's variables set as given (empty values left out) and its
// standard error going to `errors`; `ready`, when not negative, becomes its descriptor 3.
// posix_spawn, so that trials may run on several threads.
pid_t spawn(const std::vector<std::string>& args,
            const std::map<std::string, std::string>& variables, const std::string& errors,
            int ready = -1) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (!variables.count(name))
            env.push_back(entry);
    }
    for (const auto& [name, value] : variables)
        if (!value.empty())
            env.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    if (ready >= 0)
        posix_spawn_file_actions_adddup2(&actions, ready, 3);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// Waits for the process; kills it after `killAfter` seconds when that is positive, and as hung
// after `timeout` seconds.
Process await(pid_t pid, double killAfter, double timeout) {
    Process p;
    p.pid = pid;
    if (pid < 0) {
        p.status = 127 << 8;
        return p;
    }
    const auto start = Clock::now();
    auto pause = std::chrono::microseconds(200);
    bool killed = false;
    for (;;) {
        const pid_t done = waitpid(pid, &p.status, WNOHANG);
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (done == pid) {
            p.seconds = elapsed;
            return p;
        }
        if (!killed && killAfter > 0 && elapsed >= killAfter) {
            kill(pid, SIGKILL);
            killed = true;
            continue;
        }
        if (!killed && elapsed >= timeout) {
            kill(pid, SIGKILL);
            killed = p.hung = true;
        }
        double nap = std::chrono::duration<double>(pause).count();
        if (!killed && killAfter > 0)
            nap = std::min(nap, std::max(0.0, killAfter - elapsed));
        std::this_thread::sleep_for(std::chrono::duration<double>(nap));
        pause = std::min(pause * 2, std::chrono::microseconds(10000));
    }
}

std::map<std::string, std::string> shimVariables(const TrialOptions& o, long long killAt,
                                                 const std::string& countFile) {
    return {{"LD_PRELOAD", o.shim},
            // A sanitized writer otherwise refuses a library preloaded ahead of its runtime.
            {"ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0"},
            {"QMX_KILL_AT", killAt > 0 ? std::to_string(killAt) : ""},
            {"QMX_COUNT_FILE", countFile}};
}

// Runs the writer. With `fromReady` the clock of `killAfter` starts once the writer has loaded
// and is about to begin its units (it closes its descriptor 3 then), so that random kills are
// spread over its work and not over the loading of shared libraries.
Process runWriter(const TrialOptions& o, const std::string& dir, unsigned seed, long long killAt,
                  double killAfter, bool fromReady, const std::string& countFile = {}) {
    auto variables = shimVariables(o, killAt, countFile);
    int ready[2] = {-1, -1};
    if (fromReady) {
        if (pipe2(ready, O_CLOEXEC) != 0)
            return await(-1, 0, 0);
        variables["QMX_READY_FD"] = "3";
    }
    std::vector<std::string> args{o.writer, "write", dir + "/c.qmz", dir + "/log",
                                  std::to_string(seed), std::to_string(o.units)};
    if (o.appends)
        args.push_back("--appends");
    const pid_t pid = spawn(args, variables, dir + "/writer.err", ready[1]);
    if (fromReady) {
        ::close(ready[1]);
        // The pipe hangs up once the writer closed its end, or exited; nothing is ever sent.
        pollfd hangUp{ready[0], POLLIN, 0};
        if (pid > 0)
            poll(&hangUp, 1, static_cast<int>(o.timeout * 1000));
        ::close(ready[0]);
    }
    return await(pid, killAfter, o.timeout);
}

Process runRecovery(const TrialOptions& o, const std::string& dir, bool readWrite, long long killAt,
                    const std::string& countFile = {}) {
    std::vector<std::string> args{o.writer, "recover", dir + "/c.qmz"};
    if (readWrite)
        args.push_back("--read-write");
    return await(spawn(args, shimVariables(o, killAt, countFile), dir + "/recover.err"), 0,
                 o.timeout);
}

long long readCount(const std::string& file) {
    long long n = 0;
    std::ifstream(file) >> n;
    return n;
}

std::string slurp(const std::string& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool killedBySignal(const Process& p) {
    return WIFSIGNALED(p.status) && WTERMSIG(p.status) == SIGKILL && !p.hung;
}
bool exitedCleanly(const Process& p) {
    return WIFEXITED(p.status) && WEXITSTATUS(p.status) == 0;
}

Calibration calibrate(const TrialOptions& o, unsigned seed) {
    const std::string dir = o.dir + "/calibrate-" + std::to_string(seed);
    fs::remove_all(dir);
    fs::create_directories(dir);
    const Process p = runWriter(o, dir, seed, 0, 0, true, dir + "/count");
    Calibration c;
    c.seconds = p.seconds;
    c.calls = readCount(dir + "/count");
    if (!exitedCleanly(p) || c.calls <= 0) {
        std::fprintf(stderr, "undisturbed DAO writer run failed (status %d): %s\n", p.status,
                     slurp(dir + "/writer.err").c_str());
        c.calls = -1;
    } else {
        // The first run pays for a cold start and for counting; random kills are drawn over
        // the faster of two runs, so that few trials outlive their kill.
        fs::remove_all(dir);
        fs::create_directories(dir);
        const Process again = runWriter(o, dir, seed, 0, 0, true);
        if (exitedCleanly(again))
            c.seconds = std::min(c.seconds, again.seconds);
    }
    fs::remove_all(dir);
    return c;
}

struct Tally {
    int trials = 0, killed = 0, completed = 0, writerErrors = 0, damaged = 0, lost = 0, ahead = 0,
        absent = 0, recoveriesKilled = 0;
};

struct TrialResult {
    bool killed = false, completed = false, writerError = false, damaged = false, lost = false,
         ahead = false, absent = false, recoveryKilled = false;
    std::string report;  // why, for damage and writer errors
};

TrialResult runTrial(const TrialOptions& o, const std::string& mode, int trial, unsigned seed,
                     const Calibration& c, std::mt19937_64& rng) {
    TrialResult r;
    const std::string dir = o.dir + "/" + mode + "-t" + std::to_string(trial);
    fs::remove_all(dir);
    fs::create_directories(dir);
    Process writer;
    if (mode == "random") {
        writer = runWriter(o, dir, seed, 0,
                           std::uniform_real_distribution<double>(1e-4, c.seconds)(rng), true);
    } else {
        writer = runWriter(
            o, dir, seed,
            1 + static_cast<long long>(rng() % static_cast<unsigned long long>(c.calls)), 0, false);
    }
    r.killed = killedBySignal(writer);
    r.completed = exitedCleanly(writer);
    if (!r.killed && !r.completed) {
        r.writerError = true;
        r.report = dir + ": writer status " + std::to_string(writer.status) +
                   (writer.hung ? " (hung)" : "") + ": " + slurp(dir + "/writer.err");
    }
    if (mode == "recover") {
        // How many calls an undisturbed recovery of this very state makes, on a copy.
        const std::string probe = dir + "-probe";
        fs::remove_all(probe);
        fs::copy(dir, probe, fs::copy_options::recursive);
        const bool readWrite = trial % 2 == 1;
        runRecovery(o, probe, readWrite, 0, probe + "/count");
        const long long calls = readCount(probe + "/count");
        fs::remove_all(probe);
        if (calls > 0) {
            const Process p = runRecovery(
                o, dir, readWrite,
                1 + static_cast<long long>(rng() % static_cast<unsigned long long>(calls)));
            r.recoveryKilled = killedBySignal(p);
        }
    }
    std::vector<std::string> checkArgs{o.writer, "check", dir + "/c.qmz", dir + "/log",
                                       std::to_string(seed), std::to_string(o.units)};
    if (o.appends)
        checkArgs.push_back("--appends");
    const Process checker = await(spawn(checkArgs, {}, dir + "/check.err"), 0, o.timeout);
    const int verdict = WIFEXITED(checker.status) ? WEXITSTATUS(checker.status) : -1;
    r.ahead = verdict == 1;
    r.damaged = verdict != 0 && verdict != 1;
    r.lost = verdict == 3 || verdict == 9 || verdict == -1;
    r.absent = verdict == 0 && !fs::exists(dir + "/c.qmz");
    if (r.damaged)
        r.report += dir + ": verdict " + std::to_string(verdict) + (checker.hung ? " (hung)" : "") +
                    ": " + slurp(dir + "/check.err");
    if (r.damaged && o.keepDamaged) {
        fs::remove_all(dir + "-damaged");
        fs::rename(dir, dir + "-damaged");
    } else {
        fs::remove_all(dir);
    }
    return r;
}

}  // namespace

int runTrials(const TrialOptions& o) {
    for (const std::string& mode : o.modes)
        if (mode != "random" && mode != "nth" && mode != "recover") {
            std::fprintf(stderr, "unknown kill mode %s\n", mode.c_str());
            return 2;
        }
    fs::create_directories(o.dir);
    const unsigned seeds = static_cast<unsigned>(std::clamp(o.trials, 1, 8));
    // Calibrated side by side as the trials run, so that their timing matches the trials'.
    std::vector<Calibration> calibration(seeds);
    {
        std::atomic<unsigned> next{0};
        std::vector<std::thread> workers;
        for (int j = 0; j < std::max(1, o.jobs); ++j)
            workers.emplace_back([&] {
                for (unsigned s; (s = next++) < seeds;)
                    calibration[s] = calibrate(o, o.seed * 100 + s);
            });
        for (auto& w : workers)
            w.join();
    }
    for (const Calibration& c : calibration)
        if (c.calls < 0)
            return 2;
    std::printf("%-8s %7s %7s %10s %8s %15s %13s %8s %11s %13s\n", "mode", "trials", "killed",
                "completed", "damaged", "lost committed", "ahead of log", "absent", "rec. killed",
                "writer errors");
    std::fflush(stdout);
    bool clean = true;
    int reports = 0;
    for (size_t m = 0; m < o.modes.size(); ++m) {
        const std::string& mode = o.modes[m];
        Tally t;
        std::mutex lock;
        std::atomic<int> next{0};
        auto worker = [&] {
            for (int trial; (trial = next++) < o.trials;) {
                const unsigned s = static_cast<unsigned>(trial) % seeds;
                // Each trial draws from its own generator, so a run does not depend on scheduling.
                std::mt19937_64 rng(o.seed * 1000003ull + m * 7919ull +
                                    static_cast<unsigned long long>(trial));
                const TrialResult r =
                    runTrial(o, mode, trial, o.seed * 100 + s, calibration[s], rng);
                std::lock_guard<std::mutex> guard(lock);
                ++t.trials;
                t.killed += r.killed;
                t.completed += r.completed;
                t.writerErrors += r.writerError;
                t.damaged += r.damaged;
                t.lost += r.lost;
                t.ahead += r.ahead;
                t.absent += r.absent;
                t.recoveriesKilled += r.recoveryKilled;
                if (!r.report.empty() && reports++ < 20)
                    std::fprintf(stderr, "%s\n", r.report.c_str());
            }
        };
        std::vector<std::thread> workers;
        for (int j = 0; j < std::max(1, o.jobs); ++j)
            workers.emplace_back(worker);
        for (auto& w : workers)
            w.join();
        std::printf("%-8s %7d %7d %10d %8d %15d %13d %8d %11d %13d\n", mode.c_str(), t.trials,
                    t.killed, t.completed, t.damaged, t.lost, t.ahead, t.absent, t.recoveriesKilled,
                    t.writerErrors);
        std::fflush(stdout);
        if (t.damaged > 0 || t.writerErrors > 0)
            clean = false;
    }
    return clean ? 0 : 1;
}

}  // namespace Quellmar::crashtest::dao
