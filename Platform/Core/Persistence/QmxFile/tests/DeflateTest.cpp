#include "TestFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

using namespace Quellmar::testing;

TEST(Deflate, CompactsAClosedFileAndKeepsEverything) {
    TempDir dir;
    const std::string path = dir.file("d.qmz");
    int file = QMXLcreateFile(path.c_str());
    ASSERT_OK(QMXLupdateQMVersionOfFile(file, 4));
    const std::string big(200000, 'x');
    for (int i = 0; i < 20; ++i)
        ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", ("big" + std::to_string(i)).c_str(), 0,
                                                 0, 200000, big.data()));
    const int group = QMXLcreateOpaqueDataGroup(file, "/keep");
    const int version = 9;
    ASSERT_OK(QMXLcreateAttribute(group, "Version", &version));
    QMXLcloseGroup(group);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/keep", "small", 0, 0, 5, "small"));
    const double values[] = {1, 2, 3};
    ASSERT_OK(QMXLcreateTypedDataset(file, "/keep", "v", 4, 100, 1, QMXL_FLOAT64, 3, values));
    ASSERT_OK(QMXLremoveGroup(file, "/g"));
    QMXLcloseFile(file);
    const long long before = fileSize(path);
    ASSERT_GT(before, 4000000);
    ::chmod(path.c_str(), 0640);

    ASSERT_OK(QMXLdeflate(path.c_str(), 100));
    EXPECT_LT(fileSize(path), 20000);
    struct stat st {};
    ::stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    file = QMXLopenFileReadOnly(path.c_str());
    ASSERT_GT(file, 0);
    EXPECT_OK(QMXLisQMZFileNoLock(file));
    int stored = 0;
    ASSERT_OK(QMXLgetQMVersionOfFile(file, &stored));
    EXPECT_EQ(stored, 4);
    EXPECT_OK(QMXLexistsOpaqueDataGroup(file, "/keep"));
    EXPECT_EQ(readBlob(file, "/keep", "small"), "small");
    double back[3] = {};
    ASSERT_OK(QMXLreadTypedDataset(file, "/keep", "v", QMXL_FLOAT64, back));
    EXPECT_EQ(back[2], 3.0);
    const int again = QMXLopenOpaqueDataGroup(file, "/keep");
    ASSERT_OK(QMXLreadAttribute(again, "Version", &stored));
    EXPECT_EQ(stored, 9);
    QMXLcloseGroup(again);
    QMXLcloseFile(file);

    // Nothing left to gain: a copy is not smaller, so the percentage leaves the file alone.
    const std::string content = readFile(path);
    EXPECT_GE(QMXLdeflate(path.c_str(), 1), 0);
    EXPECT_EQ(readFile(path), content);
}

TEST(Deflate, FailuresLeaveTheOriginalUntouched) {
    TempDir dir;
    const std::string text = dir.file("text.qmz");
    writeFile(text, std::string(5000, 't'));
    EXPECT_EQ(QMXLdeflate(text.c_str(), 100), -1);
    EXPECT_EQ(readFile(text), std::string(5000, 't'));
    EXPECT_EQ(QMXLdeflate(dir.file("missing.qmz").c_str(), 100), -1);
    EXPECT_EQ(QMXLdeflate(nullptr, 100), -1);
    EXPECT_EQ(QMXLdeflate("", 100), -1);

    const std::string path = dir.file("open.qmz");
    const int file = QMXLcreateFile(path.c_str());
    EXPECT_EQ(QMXLdeflate(path.c_str(), 100), -1);
    EXPECT_ERROR("is open");
    QMXLcloseFile(file);
    EXPECT_EQ(QMXLdeflate(path.c_str(), 0), -1);
    EXPECT_EQ(QMXLdeflate(path.c_str(), 101), -1);

    // A directory that refuses the temporary copy.
    const std::string locked = dir.file("locked");
    ::mkdir(locked.c_str(), 0700);
    const std::string inside = locked + "/f.qmz";
    QMXLcloseFile(QMXLcreateFile(inside.c_str()));
    const std::string content = readFile(inside);
    ::chmod(locked.c_str(), 0500);
    if (::geteuid() != 0) {
        EXPECT_EQ(QMXLdeflate(inside.c_str(), 100), -1);
        EXPECT_EQ(readFile(inside), content);
    }
    ::chmod(locked.c_str(), 0700);
    // No temporary copies stay behind.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().string().find(".deflate-"), std::string::npos) << entry.path();
}
