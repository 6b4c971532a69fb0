// Storages destroyed by static destructors may run after the library's own exit work: the
// library must then answer without touching HDF5, and what was open must be on disk.
#include "TestFiles.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace Quellmar::qmxfile {
void beginProcessExit();  // what the library runs when it is finalised at exit
}

using namespace Quellmar::testing;

TEST(Exit, OpenFilesAreWrittenAndLateCleanupIsSkipped) {
    EXPECT_EQ(QMXLgetSkipCleanup(), 0);
    TempDir dir;
    const std::string path = dir.file("exit.qmz");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int file = QMXLcreateFile(path.c_str());
        const int group = QMXLcreateOpaqueDataGroup(file, "/g");
        QMXLsetflush(0);
        if (file <= 0 || group <= 0 ||
            QMXLcreateCompressedOpaqueData(file, "/g", "x", 0, 0, 4, "data") != 1)
            std::_Exit(2);
        Quellmar::qmxfile::beginProcessExit();  // file and group still open
        const bool late = QMXLgetSkipCleanup() == 1 && QMXLcloseOpenedObjectsForFile(file) == 1 &&
                          QMXLcloseAllFileHandlesForFile(file) == 1 &&
                          QMXLcloseObject(group) == 1 && QMXLisValid(file) == 0 &&
                          QMXLgetHandleCount() == 0 && QMXLopenGroup(file, "/") < 0;
        std::_Exit(late ? 0 : 3);  // no exit handlers: only what the exit work wrote counts
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const int file = QMXLopenFileReadOnly(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    char data[4] = {};
    EXPECT_EQ(QMXLreadOpaqueData(file, "/g", "x", data), 1);
    EXPECT_EQ(std::string(data, 4), "data");
    EXPECT_EQ(QMXLexistsOpaqueDataGroup(file, "/g"), 1);
    QMXLcloseFile(file);
}
