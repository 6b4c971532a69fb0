#include "TestFiles.h"

#include <sys/stat.h>

using namespace Quellmar::testing;

TEST(Files, CreatedContainerIsMarkedAndReopens) {
    TempDir dir;
    const std::string path = dir.file("a.qmz");
    int file = QMXLcreateFile(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    EXPECT_EQ(QMXLisQMZFileNoLock(file), 1);
    EXPECT_EQ(QMXLisFileReadOnly(file), 0);
    EXPECT_EQ(QMXLcloseFile(file), 1);

    file = QMXLopenFileReadOnly(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    EXPECT_EQ(QMXLisQMZFileNoLock(file), 1);
    EXPECT_EQ(QMXLisFileReadOnly(file), 1);
    char* name = nullptr;
    ASSERT_EQ(QMXLgetFileName(file, &name), 1);
    EXPECT_EQ(std::string(name), path);
    QMXLreleaseString(&name);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(QMXLcloseFile(file), 1);
}
