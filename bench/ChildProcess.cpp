#include "ChildProcess.h"

#include "Harness.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

namespace Quellmar::bench {

namespace {

bool writeAll(int fd, const std::string& s) {
    for (size_t done = 0; done < s.size();) {
        const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string readAll(int fd) {
    std::string s;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return s;
        s.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace

std::string runInChild(const std::function<std::string()>& work) {
    int fds[2];
    if (::pipe(fds) != 0)
        throw BenchFailure(std::string("cannot make a pipe: ") + std::strerror(errno));
    // Buffered output would be written twice, once by each process.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw BenchFailure(std::string("cannot fork: ") + std::strerror(errno));
    }
    if (child == 0) {
        ::close(fds[0]);
        // The first byte says whether the rest is the answer or the error.
        std::string answer;
        try {
            const std::string made = work();
            answer.reserve(made.size() + 1);
            answer.push_back('+');
            answer.append(made);
        } catch (const std::exception& e) {
            answer = std::string("-") + e.what();
        } catch (...) {
            answer = "-an unknown exception";
        }
        std::cout.flush();
        std::cerr.flush();
        std::fflush(nullptr);
        const bool sent = writeAll(fds[1], answer);
        // _exit: the parent's exit handlers (HDF5's among them) are the parent's to run.
        ::_exit(sent ? 0 : 3);
    }
    ::close(fds[1]);
    const std::string answer = readAll(fds[0]);
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status))
        throw BenchFailure("the workload's process died of signal " +
                           std::to_string(WTERMSIG(status)) + " (" +
                           strsignal(WTERMSIG(status)) + ")");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || answer.empty())
        throw BenchFailure("the workload's process exited with status " +
                           std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
                           " and no answer");
    if (answer[0] == '-')
        throw BenchFailure(answer.substr(1));
    return answer.substr(1);
}

}  // namespace Quellmar::bench
