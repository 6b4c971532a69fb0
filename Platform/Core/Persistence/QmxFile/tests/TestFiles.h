#ifndef QUELLMAR_QMXFILE_TESTFILES_H
#define QUELLMAR_QMXFILE_TESTFILES_H

#include "QMXL.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Quellmar::testing {

// The last error message of this thread, empty when there is none.
inline std::string lastError() {
    char* text = nullptr;
    QMXLgetLastErrorMessage(&text);
    std::string result = text ? text : "";
    QMXLreleaseString(&text);
    return result;
}

// A fresh container in its own directory, closed at the end of the test.
class ContainerTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file("c.qmz");
        file = QMXLcreateFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
    }
    void TearDown() override {
        if (file > 0 && QMXLisValid(file) == 1) {
            QMXLcloseOpenedObjectsForFile(file);
            QMXLcloseAllFileHandlesForFile(file);
        }
    }
    void reopen(bool readOnly = false) {
        QMXLcloseOpenedObjectsForFile(file);
        QMXLcloseAllFileHandlesForFile(file);
        file = readOnly ? QMXLopenFileReadOnly(path.c_str()) : QMXLopenFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
    }

    TempDir dir;
    std::string path;
    int file = -1;
};

}  // namespace Quellmar::testing

#endif
