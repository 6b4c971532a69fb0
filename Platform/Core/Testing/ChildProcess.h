// Runs a piece of a test in a forked child, so that a crash, a kill or what happens at exit
// (static destruction, HDF5's shutdown) is seen as the child's status.
#ifndef QUELLMAR_TESTING_CHILDPROCESS_H
#define QUELLMAR_TESTING_CHILDPROCESS_H

#include <functional>

namespace Quellmar::testing {

// How the child ends when `work` returns: through exit() (static destructors and library
// shutdown run, so a crash there shows) or through _exit() (nothing more runs).
enum class ChildEnd { Exit, QuickExit };

// Runs `work` in a child (with a 60 s alarm) that ends with its result; an exception escaping
// `work` is printed and ends the child with 99. Returns the exit code, or 128 + the signal
// that ended the child.
int runInChild(const std::function<int()>& work, ChildEnd end);

// The crash: the calling process dies at once, with everything it holds open as it is.
[[noreturn]] void dieNow();

}  // namespace Quellmar::testing

#endif
