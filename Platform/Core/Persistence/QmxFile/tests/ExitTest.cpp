// Storages destroyed by static destructors may run after the library's own exit work: the
// library must then answer without touching HDF5, and what was open must be on disk.
#include "ChildProcess.h"
#include "TestFiles.h"

namespace Quellmar::qmxfile {
void beginProcessExit();  // what the library runs when it is finalised at exit
}

using namespace Quellmar::testing;

TEST(Exit, OpenFilesAreWrittenAndLateCleanupIsSkipped) {
    EXPECT_EQ(QMXLgetSkipCleanup(), 0);
    TempDir dir;
    const std::string path = dir.file("exit.qmz");
    // The child ends without exit handlers: only what the exit work wrote counts.
    const int rc = runInChild(
        [&] {
            const int file = QMXLcreateFile(path.c_str());
            const int group = QMXLcreateOpaqueDataGroup(file, "/g");
            QMXLsetflush(0);
            if (file <= 0 || group <= 0 ||
                QMXLcreateCompressedOpaqueData(file, "/g", "x", 0, 0, 4, "data") != 1)
                return 2;
            Quellmar::qmxfile::beginProcessExit();  // file and group still open
            const bool late =
                QMXLgetSkipCleanup() == 1 && QMXLcloseOpenedObjectsForFile(file) == 1 &&
                QMXLcloseAllFileHandlesForFile(file) == 1 && QMXLcloseObject(group) == 1 &&
                QMXLisValid(file) == 0 && QMXLgetHandleCount() == 0 && QMXLopenGroup(file, "/") < 0;
            return late ? 0 : 3;
        },
        ChildEnd::QuickExit);
    ASSERT_EQ(rc, 0);
    const int file = QMXLopenFileReadOnly(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    char data[4] = {};
    EXPECT_OK(QMXLreadOpaqueData(file, "/g", "x", data));
    EXPECT_EQ(std::string(data, 4), "data");
    EXPECT_OK(QMXLexistsOpaqueDataGroup(file, "/g"));
    QMXLcloseFile(file);
}
