// gtest main for everything that touches the file library: after every test, no HDF5
// identifier and no file-library handle may be left open.
#include "QMXL.h"

#include <gtest/gtest.h>

namespace {

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
