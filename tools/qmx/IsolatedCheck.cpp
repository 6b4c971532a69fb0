#include "IsolatedCheck.h"
#include "Sanitized.h"

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace Quellmar::qmx {
namespace {

// Events travel as lines of tab-separated fields; names from a damaged file may hold anything.
std::string escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string unescape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c;
    }
    return out;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out(1);
    for (const char c : line) {
        if (c == '\t')
            out.emplace_back();
        else
            out.back() += c;
    }
    for (auto& f : out)
        f = unescape(f);
    return out;
}

void writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // the parent is gone; nothing left to tell
        done += static_cast<std::size_t>(n);
    }
}

class PipeObserver : public CheckObserver {
public:
    explicit PipeObserver(int fd) : m_fd(fd) {}
    void started(std::size_t entries) override {
        writeAll(m_fd, "S\t" + std::to_string(entries) + "\n");
    }
    void entering(std::size_t index, const std::string& path) override {
        writeAll(m_fd, "E\t" + std::to_string(index) + "\t" + escape(path) + "\n");
    }
    void found(const CheckFinding& f) override {
        writeAll(m_fd, std::string("F\t") + (f.warning ? "1" : "0") + "\t" + escape(f.path) + "\t" +
                           escape(f.message) + "\n");
    }
    void result(const CheckResult& r) {
        auto optional = [](const std::optional<int>& v) {
            return v ? std::to_string(*v) : std::string("-");
        };
        writeAll(m_fd, "R\t" + optional(r.formatVersion) + "\t" + optional(r.libraryVersion) +
                           "\t" + std::to_string(r.groups) + "\t" + std::to_string(r.objects) +
                           "\t" + std::to_string(r.vectors) + "\t" + std::to_string(r.bytesRead) +
                           "\n");
    }

private:
    int m_fd;
};

[[noreturn]] void runChild(int fd, const CheckFunction& check, std::size_t firstEntry,
                           const IsolationLimits& limits) {
    // A crash must end this process by its signal, for the parent to see, not by a handler.
    for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        ::signal(signal, SIG_DFL);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
#ifndef QMX_SANITIZED
    if (limits.memoryBytes > 0) {
        const rlimit memory{limits.memoryBytes, limits.memoryBytes};
        ::setrlimit(RLIMIT_AS, &memory);
    }
#else
    static_cast<void>(limits);
#endif
    PipeObserver observer(fd);
    CheckResult result;
    try {
        result = check(firstEntry, observer);
    } catch (const std::exception& e) {
        observer.found({"/", std::string("the check failed: ") + e.what(), false});
    } catch (...) {
        observer.found({"/", "the check failed", false});
    }
    observer.result(result);
    ::close(fd);
    // No exit handlers: they belong to the parent's copy of the process.
    ::_exit(0);
}

std::optional<int> optionalInt(const std::string& text) {
    if (text == "-")
        return std::nullopt;
    return std::stoi(text);
}

struct Run {
    bool finished = false;
    CheckResult result;  // counts and versions; findings collected separately
    std::vector<CheckFinding> findings;
    std::size_t entries = 0;
    std::optional<std::size_t> lastIndex;
    std::string lastPath;
    std::string failure;
};

class RunReader {
public:
    RunReader(Run& run, CheckObserver& observer, bool resumed)
        : m_run(run), m_observer(observer), m_resumed(resumed) {}

    void consume(const char* data, std::size_t size) {
        m_pending.append(data, size);
        std::size_t start = 0;
        for (std::size_t end; (end = m_pending.find('\n', start)) != std::string::npos;
             start = end + 1)
            line(m_pending.substr(start, end - start));
        m_pending.erase(0, start);
    }

private:
    void line(const std::string& text) {
        const std::vector<std::string> f = fields(text);
        try {
            if (f[0] == "S" && f.size() == 2) {
                m_run.entries = std::stoull(f[1]);
                if (!m_resumed)
                    m_observer.started(m_run.entries);
            } else if (f[0] == "E" && f.size() == 3) {
                m_run.lastIndex = std::stoull(f[1]);
                m_run.lastPath = f[2];
                m_observer.entering(*m_run.lastIndex, m_run.lastPath);
            } else if (f[0] == "F" && f.size() == 4) {
                // A resumed walk repeats what it finds before its first entry.
                if (m_resumed && !m_run.lastIndex)
                    return;
                CheckFinding finding{f[2], f[3], f[1] == "1"};
                m_run.findings.push_back(finding);
                m_observer.found(finding);
            } else if (f[0] == "R" && f.size() == 7) {
                m_run.result.formatVersion = optionalInt(f[1]);
                m_run.result.libraryVersion = optionalInt(f[2]);
                m_run.result.groups = std::stoull(f[3]);
                m_run.result.objects = std::stoull(f[4]);
                m_run.result.vectors = std::stoull(f[5]);
                m_run.result.bytesRead = std::stoull(f[6]);
                m_run.finished = true;
            }
        } catch (const std::exception&) {
            // A garbled line from a dying child: the failure is reported from its exit status.
        }
    }

    Run& m_run;
    CheckObserver& m_observer;
    bool m_resumed;
    std::string m_pending;
};

std::string signalText(int signal) {
    const char* name = ::strsignal(signal);
    return "signal " + std::to_string(signal) + (name ? std::string(", ") + name : std::string());
}

Run runOnce(const CheckFunction& check, std::size_t firstEntry, CheckObserver& observer,
            const IsolationLimits& limits) {
    Run run;
    int fds[2];
    if (::pipe(fds) != 0) {
        run.failure = std::string("cannot start the checker: ") + std::strerror(errno);
        return run;
    }
    std::fflush(nullptr);  // the child must not write the parent's buffered output again
    const pid_t pid = ::fork();
    if (pid < 0) {
        run.failure = std::string("cannot start the checker: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return run;
    }
    if (pid == 0) {
        ::close(fds[0]);
        runChild(fds[1], check, firstEntry, limits);
    }
    ::close(fds[1]);

    RunReader reader(run, observer, firstEntry > 0);
    bool stalled = false;
    char buffer[4096];
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, limits.stallSeconds * 1000);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            stalled = true;
            ::kill(pid, SIGKILL);
            break;
        }
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        reader.consume(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (stalled) {
        run.finished = false;
        run.failure = "no progress for " + std::to_string(limits.stallSeconds) +
                      " s: the reader hangs and was stopped";
    } else if (WIFSIGNALED(status)) {
        run.finished = false;
        run.failure = "the reader crashed (" + signalText(WTERMSIG(status)) + ")";
    } else if (!run.finished) {
        run.failure = "the reader ended without an answer (exit status " +
                      std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
    }
    return run;
}

}  // namespace

bool memoryLimitApplies() {
#ifdef QMX_SANITIZED
    return false;
#else
    return true;
#endif
}

CheckResult runIsolated(const CheckFunction& check, CheckObserver& observer,
                        const IsolationLimits& limits) {
    CheckResult total;
    std::size_t first = 0;
    for (int restart = 0;; ++restart) {
        Run run = runOnce(check, first, observer, limits);
        total.findings.insert(total.findings.end(), run.findings.begin(), run.findings.end());
        total.groups += run.result.groups;
        total.objects += run.result.objects;
        total.vectors += run.result.vectors;
        total.bytesRead += run.result.bytesRead;
        if (run.finished) {
            total.formatVersion = run.result.formatVersion;
            total.libraryVersion = run.result.libraryVersion;
            break;
        }
        const bool inEntry = run.lastIndex.has_value();
        const CheckFinding failure{
            inEntry ? run.lastPath : "/",
            run.failure + (inEntry ? "" : " while opening or listing the file"), false};
        total.findings.push_back(failure);
        observer.found(failure);
        const std::size_t next = inEntry ? *run.lastIndex + 1 : run.entries;
        if (next >= run.entries)
            break;
        if (restart >= limits.maxRestarts) {
            const CheckFinding rest{"/",
                                    std::to_string(run.entries - next) +
                                        " entries not checked after " +
                                        std::to_string(restart + 1) + " failed readers",
                                    false};
            total.findings.push_back(rest);
            observer.found(rest);
            break;
        }
        first = next;
    }
    return total;
}

}  // namespace Quellmar::qmx
