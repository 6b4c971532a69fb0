// Counts calls into chosen file-library functions. A test executable that includes this header
// defines the functions itself: the dynamic linker then binds the library's calls to these
// definitions, which count and forward to the file library's own.
#ifndef QUELLMAR_TESTS_CALLCOUNTER_H
#define QUELLMAR_TESTS_CALLCOUNTER_H

#include <dlfcn.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>

namespace Quellmar::testing {

class CallCounter {
public:
    static void hit(const char* name) {
        std::lock_guard<std::mutex> guard(mutex());
        ++calls()[name];
    }
    static int count(const std::string& name) {
        std::lock_guard<std::mutex> guard(mutex());
        auto it = calls().find(name);
        return it == calls().end() ? 0 : it->second;
    }
    static int total() {
        std::lock_guard<std::mutex> guard(mutex());
        int n = 0;
        for (const auto& c : calls())
            n += c.second;
        return n;
    }
    static void reset() {
        std::lock_guard<std::mutex> guard(mutex());
        calls().clear();
    }
    template <class F>
    static F real(const char* name) {
        return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
    }

private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::map<std::string, int>& calls() {
        static std::map<std::string, int> c;
        return c;
    }
};

}  // namespace Quellmar::testing

// Defines a counting QMXL function with one or two arguments.
#define QMX_COUNT_CALLS_1(Name, A)                                                    \
    extern "C" int Name(A a) {                                                        \
        ::Quellmar::testing::CallCounter::hit(#Name);                                 \
        static auto real = ::Quellmar::testing::CallCounter::real<int (*)(A)>(#Name); \
        return real(a);                                                               \
    }
#define QMX_COUNT_CALLS_2(Name, A, B)                                                    \
    extern "C" int Name(A a, B b) {                                                      \
        ::Quellmar::testing::CallCounter::hit(#Name);                                    \
        static auto real = ::Quellmar::testing::CallCounter::real<int (*)(A, B)>(#Name); \
        return real(a, b);                                                               \
    }

#endif
