// What a host reader says when it dies: the signal and its stack on stderr, so that a death
// can be placed in our code or inside HDF5. Sanitizer builds report for themselves.
#ifndef QMX_HOSTREAD_CRASHREPORT_H
#define QMX_HOSTREAD_CRASHREPORT_H

namespace Quellmar::hostread {

// True when the build carries AddressSanitizer (which has its own report and address space).
bool sanitizedBuild();
// Installs handlers for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT (not in sanitized builds).
void installCrashReport();
// Bounds the address space of the process to megabytes (not in sanitized builds); false
// when the limit could not be set.
bool limitMemory(unsigned long megabytes);

}  // namespace Quellmar::hostread

#endif
