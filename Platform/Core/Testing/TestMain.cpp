// gtest main for everything that touches the file library: after every test, no HDF5
// identifier and no file-library handle may be left open.
#include "QMXL.h"

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>

#include <string>

// What one test program adds to the suppressions below; most define none.
extern "C" const char* qmx_test_leak_suppressions() __attribute__((weak));

// Blosc's filter plugin allocates its global context once and never frees it; that is not ours
// to report.
extern "C" const char* __lsan_default_suppressions() {
    static const std::string text =
        std::string("leak:libblosc.so\n") +
        (qmx_test_leak_suppressions ? qmx_test_leak_suppressions() : "");
    return text.c_str();
}
#endif

namespace {

#if defined(__SANITIZE_ADDRESS__)
// HDF5 unloads its filter plugins at exit, before the leak check, which then cannot name the
// module an allocation came from; keeping Blosc loaded lets the suppression above match.
[[maybe_unused]] const bool s_bloscKept = dlopen("libblosc.so.1", RTLD_LAZY | RTLD_NODELETE);
#endif

class NoOpenObjects : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& info) override {
        const int objects = QMXLgetOpenObjectCount();
        const int handles = QMXLgetHandleCount();
        if (objects != 0 || handles != 0) {
            ADD_FAILURE() << info.test_suite_name() << "." << info.name() << " left " << objects
                          << " HDF5 identifiers and " << handles << " handles open";
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new NoOpenObjects);
    return RUN_ALL_TESTS();
}
