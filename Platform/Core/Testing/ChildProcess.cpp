#include "ChildProcess.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sys/wait.h>
#include <unistd.h>

namespace Quellmar::testing {

int runInChild(const std::function<int()>& work, ChildEnd end) {
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        ::alarm(60);  // a child that hangs dies of SIGALRM instead of stalling the suite
        int rc = 99;
        try {
            rc = work();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "child: unexpected %s\n", e.what());
        }
        if (end == ChildEnd::QuickExit)
            ::_exit(rc);
        std::exit(rc);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return -1;
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void dieNow() {
    ::kill(::getpid(), SIGKILL);
    for (;;)
        ::pause();
}

}  // namespace Quellmar::testing
