#include "FreeLists.h"
#include "TestFiles.h"

#include <sys/stat.h>

#include <cstdlib>
#include <utility>

using namespace Quellmar::testing;

TEST(Files, CreatedContainerIsMarkedAndReopens) {
    TempDir dir;
    const std::string path = dir.file("a.qmz");
    int file = QMXLcreateFile(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    EXPECT_OK(QMXLisQMZFileNoLock(file));
    EXPECT_EQ(QMXLisFileReadOnly(file), 0);
    char* marker = nullptr;
    ASSERT_OK(QMXLgetStringAttribute(file, "QMZ_FORMAT", &marker));
    const std::string original = marker;
    std::free(marker);
    EXPECT_OK(QMXLcloseFile(file));

    file = QMXLopenFileReadOnly(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    EXPECT_OK(QMXLisQMZFileNoLock(file));
    EXPECT_OK(QMXLisFileReadOnly(file));
    char* name = nullptr;
    ASSERT_OK(QMXLgetFileName(file, &name));
    EXPECT_EQ(std::string(name), path);
    QMXLreleaseString(&name);
    EXPECT_EQ(name, nullptr);
    EXPECT_OK(QMXLcloseFile(file));

    // Writers take the answer from the file's memory as well: a marker written through the
    // library changes it at once, and for the sessions after. Spoilt, then put back.
    for (const auto& [text, expected] : {std::pair<std::string, int>{"not a container", 0},
                                         std::pair<std::string, int>{original, 1}}) {
        file = QMXLopenFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
        EXPECT_EQ(QMXLisQMZFileNoLock(file), 1 - expected);
        ASSERT_OK(QMXLsetStringAttribute(file, "QMZ_FORMAT", text.c_str()));
        EXPECT_EQ(QMXLisQMZFileNoLock(file), expected) << "after writing " << text;
        EXPECT_OK(QMXLcloseFile(file));
        for (const bool readOnly : {false, true, false}) {
            file = readOnly ? QMXLopenFileReadOnly(path.c_str()) : QMXLopenFile(path.c_str());
            ASSERT_GT(file, 0) << lastError();
            EXPECT_EQ(QMXLisQMZFileNoLock(file), expected) << "a later session, after " << text;
            EXPECT_OK(QMXLcloseFile(file));
        }
    }

    // What a read-only session found is not what the next one finds once the file changed.
    {
        H5Id f(H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT));
        ASSERT_GE(H5Adelete_by_name(f.id, "/", "QMZ_FORMAT", H5P_DEFAULT), 0);
    }
    file = QMXLopenFileReadOnly(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    EXPECT_EQ(QMXLisQMZFileNoLock(file), 0);
    EXPECT_OK(QMXLcloseFile(file));
}

TEST(Files, NativeFilesPassTheContainerTestOnlyThroughNativeEntryPoints) {
    TempDir dir;
    const std::string path = dir.file("n.h5");
    int file = QMXLcreateNativeHDF5(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    EXPECT_OK(QMXLisQMZFileNoLock(file));
    int version = 0;
    EXPECT_LT(QMXLupdateQMVersionOfFile(file, 3), 0);
    EXPECT_LT(QMXLgetQMVersionOfFile(file, &version), 0);
    QMXLcloseFile(file);

    file = QMXLopenFile(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    EXPECT_EQ(QMXLisQMZFileNoLock(file), 0);
    QMXLcloseFile(file);

    for (int native :
         {QMXLopenNativeHDF5(path.c_str()), QMXLopenNativeHDF5ReadOnly(path.c_str())}) {
        ASSERT_GT(native, 0) << lastError();
        EXPECT_OK(QMXLisQMZFileNoLock(native));
        QMXLcloseFile(native);
    }
}

TEST(Files, FilesThatAreNotHdf5FailWithAClearMessage) {
    TempDir dir;
    const std::string text = dir.file("text.qmz");
    writeFile(text, std::string(4096, 'x'));
    EXPECT_LT(QMXLopenFile(text.c_str()), 0);
    EXPECT_ERROR("not an HDF5 file");
    EXPECT_ERROR(text);
    EXPECT_LT(QMXLopenNativeHDF5ReadOnly(text.c_str()), 0);

    const std::string empty = dir.file("empty.qmz");
    writeFile(empty, "");
    EXPECT_LT(QMXLopenFileReadOnly(empty.c_str()), 0);
    EXPECT_ERROR("not an HDF5 file");

    const std::string missing = dir.file("missing.qmz");
    EXPECT_LT(QMXLopenFile(missing.c_str()), 0);
    EXPECT_ERROR("No such file");
    EXPECT_LT(QMXLopenFile(dir.path().c_str()), 0);
    EXPECT_ERROR("directory");

    // A damaged container: the signature is there, the rest is cut off.
    const std::string cut = dir.file("cut.qmz");
    int file = QMXLcreateFile(cut.c_str());
    ASSERT_GT(file, 0);
    QMXLcloseFile(file);
    writeFile(cut, readFile(cut).substr(0, 100));
    EXPECT_LT(QMXLopenFile(cut.c_str()), 0);
    EXPECT_ERROR(cut);

    EXPECT_LT(QMXLcreateFile(dir.file("no/such/dir.qmz").c_str()), 0);
    EXPECT_ERROR("cannot create file");
}

TEST(Files, BadArgumentsFailWithoutCrashing) {
    EXPECT_LT(QMXLcreateFile(nullptr), 0);
    EXPECT_LT(QMXLcreateFile(""), 0);
    EXPECT_ERROR("empty file name");
    EXPECT_LT(QMXLopenFile(nullptr), 0);
    EXPECT_LT(QMXLopenFileReadOnly(""), 0);
    EXPECT_LT(QMXLcreateNativeHDF5(nullptr), 0);
    EXPECT_LT(QMXLopenNativeHDF5(""), 0);
    for (int handle : {0, -1, 12345678}) {
        EXPECT_LT(QMXLcloseFile(handle), 0);
        EXPECT_LT(QMXLisQMZFileNoLock(handle), 0);
        EXPECT_LT(QMXLisFileReadOnly(handle), 0);
        EXPECT_LT(QMXLflushMetadata(handle), 0);
        EXPECT_LT(QMXLcloseOpenedObjectsForFile(handle), 0);
        EXPECT_LT(QMXLcloseAllFileHandlesForFile(handle), 0);
        char* name = nullptr;
        EXPECT_LT(QMXLgetFileName(handle, &name), 0);
        EXPECT_EQ(name, nullptr);
    }
    EXPECT_ERROR("12345678");
    EXPECT_LT(QMXLgetFileName(1, nullptr), 0);
}

TEST(Files, ReadOnlyFilesRefuseChanges) {
    TempDir dir;
    const std::string path = dir.file("r.qmz");
    int file = QMXLcreateFile(path.c_str());
    ASSERT_GT(file, 0);
    ASSERT_OK(QMXLcreatePathToGroup(file, "/g"));
    QMXLcloseFile(file);
    file = QMXLopenFileReadOnly(path.c_str());
    ASSERT_GT(file, 0);
    EXPECT_LT(QMXLcreatePathToGroup(file, "/h"), 0);
    EXPECT_ERROR("read-only");
    EXPECT_LT(QMXLcreateCompressedOpaqueData(file, "/g", "x", 0, 0, 1, "a"), 0);
    const int one = 1;
    EXPECT_LT(QMXLsetAttribute(file, "a", &one), 0);
    EXPECT_LT(QMXLupdateQMVersionOfFile(file, 2), 0);
    EXPECT_OK(QMXLflushMetadata(file));
    QMXLcloseFile(file);
}

TEST(Files, ClosingWithFlushingOffStillWritesEverything) {
    TempDir dir;
    const std::string path = dir.file("f.qmz");
    int file = QMXLcreateFile(path.c_str());
    ASSERT_GT(file, 0);
    ASSERT_OK(QMXLsetflush(0));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/", "x", 0, 0, 3, "abc"));
    EXPECT_OK(QMXLflushMetadata(file));
    QMXLcloseFile(file);
    QMXLsetflush(1);
    file = QMXLopenFileReadOnly(path.c_str());
    ASSERT_GT(file, 0);
    char buffer[3] = {};
    EXPECT_OK(QMXLreadOpaqueData(file, "/", "x", buffer));
    EXPECT_EQ(std::string(buffer, 3), "abc");
    QMXLcloseFile(file);
}

TEST(Files, FlushMakesDataVisibleToAnotherReader) {
    TempDir dir;
    const std::string path = dir.file("v.qmz");
    int file = QMXLcreateFile(path.c_str());
    ASSERT_GT(file, 0);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/", "x", 0, 0, 3, "abc"));
    ASSERT_OK(QMXLflushMetadata(file));
    // A copy of the bytes on disk is a complete container once flushed.
    const std::string copy = dir.file("copy.qmz");
    writeFile(copy, readFile(path));
    int other = QMXLopenFileReadOnly(copy.c_str());
    ASSERT_GT(other, 0) << lastError();
    long long size = -1;
    EXPECT_OK(QMXLgetSizeOfOpaqueData(other, "/", "x", &size));
    EXPECT_EQ(size, 3);
    QMXLcloseFile(other);
    QMXLcloseFile(file);
}

// HDF5's own free lists keep what a unit of thousands of objects freed; left there, it slowed
// every later small unit. A small unit's few blocks stay for the next one.
TEST(Files, ClosingAfterALargeUnitGivesHdf5sSpareBlocksBack) {
    TempDir dir;
    const std::string path = dir.file("many.qmz");
    int file = QMXLcreateFile(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    const int group = QMXLcreateOpaqueDataGroup(file, "/g");
    ASSERT_GT(group, 0) << lastError();
    ASSERT_OK(QMXLcloseGroup(group));
    const std::string data(100, 'x');
    for (int i = 0; i < 10000; ++i)
        ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", ("o" + std::to_string(i)).c_str(), 0,
                                                 0, data.size(), data.data()));
    ASSERT_OK(QMXLcloseFile(file));
    EXPECT_LE(Quellmar::qmxfile::spareHdf5Blocks(), Quellmar::qmxfile::kSpareHdf5BlockLimit);

    file = QMXLopenFileReadOnly(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    std::string back(data.size(), '\0');
    ASSERT_OK(QMXLreadOpaqueData(file, "/g", "o9999", back.data()));
    EXPECT_EQ(back, data);
    ASSERT_OK(QMXLcloseFile(file));
    EXPECT_GT(Quellmar::qmxfile::spareHdf5Blocks(), 0u);
}

TEST(Versions, FormatVersionIsWrittenReadAndAssignedByName) {
    TempDir dir;
    const std::string path = dir.file("v.qmz");
    int file = QMXLcreateFile(path.c_str());
    ASSERT_GT(file, 0);
    int version = 0;
    ASSERT_OK(QMXLgetQMVersionOfFile(file, &version));
    EXPECT_EQ(version, 1);
    ASSERT_OK(QMXLgetQMVersionOfLibraryByFileHandle(file, &version));
    EXPECT_EQ(version, 1);
    EXPECT_LT(QMXLupdateQMVersionOfFile(file, 0), 0);
    EXPECT_LT(QMXLupdateQMVersionOfFile(file, -4), 0);
    ASSERT_OK(QMXLupdateQMVersionOfFile(file, 5));
    QMXLcloseFile(file);
    file = QMXLopenFileReadOnly(path.c_str());
    ASSERT_OK(QMXLgetQMVersionOfFile(file, &version));
    EXPECT_EQ(version, 5);
    EXPECT_LT(QMXLgetQMVersionOfFile(file, nullptr), 0);
    QMXLcloseFile(file);

    EXPECT_LT(QMXLassignCurrentQMFileVersionForExtensions(3, nullptr), 0);
    EXPECT_LT(QMXLassignCurrentQMFileVersionForExtensions(0, [](const char*) { return 1; }), 0);
    ASSERT_OK(QMXLassignCurrentQMFileVersionForExtensions(7, [](const char* name) {
        const std::string n = name;
        return n.size() > 4 && n.substr(n.size() - 4) == ".qmv" ? 1 : 0;
    }));
    const std::string other = dir.file("w.qmv");
    file = QMXLcreateFile(other.c_str());
    ASSERT_GT(file, 0);
    ASSERT_OK(QMXLgetQMVersionOfFile(file, &version));
    EXPECT_EQ(version, 7);
    ASSERT_OK(QMXLgetQMVersionOfLibraryByFileHandle(file, &version));
    EXPECT_EQ(version, 7);
    QMXLcloseFile(file);
    file = QMXLopenFile(path.c_str());
    ASSERT_OK(QMXLgetQMVersionOfLibraryByFileHandle(file, &version));
    EXPECT_EQ(version, 1);
    QMXLcloseFile(file);
}
