#include "CrashReport.h"

#include "GuardedBuffer.h"

#include <execinfo.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <initializer_list>

#if defined(__SANITIZE_ADDRESS__)
#define QMX_HOSTREAD_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QMX_HOSTREAD_ASAN 1
#endif
#endif

namespace Quellmar::hostread {
namespace {

void writeText(const char* text) {
    const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

// Only async-signal-safe calls: the stack is written straight to stderr.
void onFatalSignal(int sig, siginfo_t* info, void*) {
    if (sig == SIGSEGV && info && GuardedBuffer::isGuardAddress(info->si_addr))
        writeText("host buffer overrun: written past the end of a host's buffer\n");
    char line[64] = "host died: signal ";
    char digits[12];
    int n = 0;
    for (int v = sig; v > 0 && n < 11; v /= 10)
        digits[n++] = static_cast<char>('0' + v % 10);
    std::size_t at = std::strlen(line);
    while (n > 0)
        line[at++] = digits[--n];
    line[at++] = '\n';
    line[at] = '\0';
    writeText(line);
    void* frames[64];
    const int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, STDERR_FILENO);
    writeText("end of stack\n");
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

}  // namespace

bool sanitizedBuild() {
#ifdef QMX_HOSTREAD_ASAN
    return true;
#else
    return false;
#endif
}

void installCrashReport() {
    if (sanitizedBuild())
        return;
    // backtrace() loads libgcc on first use, which must not happen inside the handler.
    void* warm[1];
    ::backtrace(warm, 1);
    // The handler runs on its own stack, so a stack overflow is reported too.
    static char altStack[64 * 1024];
    stack_t ss{};
    ss.ss_sp = altStack;
    ss.ss_size = sizeof altStack;
    ::sigaltstack(&ss, nullptr);
    struct sigaction action {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_ONSTACK | SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        ::sigaction(sig, &action, nullptr);
}

bool limitMemory(unsigned long megabytes) {
    if (sanitizedBuild())
        return true;
    struct rlimit limit {};
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(megabytes) << 20;
    return ::setrlimit(RLIMIT_AS, &limit) == 0;
}

}  // namespace Quellmar::hostread
