#include "ToolRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace Quellmar::testing {
namespace {

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() {
        if (::pipe2(fd, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    void closeRead() {
        if (fd[0] >= 0)
            ::close(fd[0]);
        fd[0] = -1;
    }
    void closeWrite() {
        if (fd[1] >= 0)
            ::close(fd[1]);
        fd[1] = -1;
    }
};

}  // namespace

ToolResult runQmx(const std::vector<std::string>& args, const std::string& input,
                  int timeoutSeconds) {
    Pipe in, out, err;
    std::vector<std::string> argv = {QMX_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(in.fd[0], 0);
        ::dup2(out.fd[1], 1);
        ::dup2(err.fd[1], 2);
        ::execv(cargv[0], cargv.data());
        ::_exit(127);
    }
    in.closeRead();
    out.closeWrite();
    err.closeWrite();
    ::signal(SIGPIPE, SIG_IGN);

    ToolResult r;
    std::size_t written = 0;
    if (input.empty())
        in.closeWrite();
    else
        ::fcntl(in.fd[1], F_SETFL, O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (out.fd[0] >= 0 || err.fd[0] >= 0) {
        pollfd fds[3];
        int n = 0;
        if (out.fd[0] >= 0)
            fds[n++] = {out.fd[0], POLLIN, 0};
        if (err.fd[0] >= 0)
            fds[n++] = {err.fd[0], POLLIN, 0};
        if (in.fd[1] >= 0)
            fds[n++] = {in.fd[1], POLLOUT, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            r.timedOut = true;
            break;
        }
        if (::poll(fds, static_cast<nfds_t>(n), static_cast<int>(left.count())) < 0)
            continue;
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents)
                continue;
            if (fds[i].fd == in.fd[1]) {
                const ssize_t k = ::write(in.fd[1], input.data() + written, input.size() - written);
                if (k > 0)
                    written += static_cast<std::size_t>(k);
                if (k < 0 || written == input.size())
                    in.closeWrite();
                continue;
            }
            char buf[65536];
            const ssize_t k = ::read(fds[i].fd, buf, sizeof buf);
            const bool isOut = fds[i].fd == out.fd[0];
            if (k > 0) {
                (isOut ? r.out : r.err).append(buf, static_cast<std::size_t>(k));
            } else {
                (isOut ? out : err).closeRead();
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        r.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        r.signal = WTERMSIG(status);
    return r;
}

std::string describe(const ToolResult& r) {
    std::string s = "exit " + std::to_string(r.exitCode);
    if (r.signal)
        s += ", signal " + std::to_string(r.signal);
    if (r.timedOut)
        s += ", timed out";
    return s + "\n--- stdout ---\n" + r.out + "\n--- stderr ---\n" + r.err;
}

}  // namespace Quellmar::testing
