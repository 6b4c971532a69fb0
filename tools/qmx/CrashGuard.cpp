#include "CrashGuard.h"
#include "Sanitized.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>

namespace Quellmar::qmx {
namespace {

// Fixed buffers: the handler may only write what is already in memory.
char g_prefix[512];
char g_path[1024] = "/";

void append(char* out, std::size_t size, const char* text) {
    const std::size_t used = std::strlen(out);
    std::strncat(out, text, size - used - 1);
}

#ifndef QMX_SANITIZED
char g_altStack[1 << 16];

void write2(const char* text) {
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, left);
        if (n <= 0)
            return;
        text += n;
        left -= static_cast<std::size_t>(n);
    }
}

extern "C" void onCrash(int) {
    write2(g_prefix);
    write2(g_path);
    write2(": reading this crashed the HDF5 library (the file is damaged)\n");
    ::_exit(1);
}
#endif

}  // namespace

void installCrashGuard(const std::string& command, const std::string& file) {
    g_prefix[0] = '\0';
    append(g_prefix, sizeof g_prefix, "qmx ");
    append(g_prefix, sizeof g_prefix, command.c_str());
    append(g_prefix, sizeof g_prefix, ": ");
    append(g_prefix, sizeof g_prefix, file.c_str());
    append(g_prefix, sizeof g_prefix, ": ");
#ifndef QMX_SANITIZED
    // A corrupt file can also send HDF5 into deep recursion: handle on a stack of our own.
    stack_t stack{};
    stack.ss_sp = g_altStack;
    stack.ss_size = sizeof g_altStack;
    ::sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_handler = onCrash;
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL})
        ::sigaction(signal, &action, nullptr);
#endif
}

void crashGuardAt(const std::string& path) {
    // Written between calls into HDF5, never while the handler could run.
    std::strncpy(g_path, path.c_str(), sizeof g_path - 1);
    g_path[sizeof g_path - 1] = '\0';
}

}  // namespace Quellmar::qmx
