#include "TestFiles.h"

#include <thread>

using namespace Quellmar::testing;

namespace {

std::vector<std::string> errorStack() {
    std::vector<std::string> entries;
    QMXLwalkErrorStack(&entries, [](const char* text, void* context) {
        static_cast<std::vector<std::string>*>(context)->push_back(text);
    });
    return entries;
}

}  // namespace

TEST(Errors, MessagesBelongToTheirThread) {
    EXPECT_LT(QMXLcloseObject(424242), 0);
    std::thread([] {
        // A thread without failures of its own has no message, whatever others failed.
        char* text = reinterpret_cast<char*>(0x1);
        EXPECT_EQ(QMXLgetLastErrorMessage(&text), 0);
        EXPECT_EQ(text, nullptr);
        EXPECT_TRUE(errorStack().empty());
        EXPECT_LT(QMXLopenGroup(777, "/x"), 0);
        EXPECT_NE(lastError().find("QMXLopenGroup"), std::string::npos);
    }).join();
    EXPECT_ERROR("QMXLcloseObject");
    EXPECT_ERROR("424242");
}

TEST(Errors, Hdf5FailuresHandTheirStackOver) {
    TempDir dir;
    const std::string path = dir.file("cut.qmz");
    const int file = QMXLcreateFile(path.c_str());
    ASSERT_GT(file, 0);
    QMXLcloseFile(file);
    writeFile(path, readFile(path).substr(0, 200));
    ASSERT_LT(QMXLopenFileReadOnly(path.c_str()), 0);
    const std::vector<std::string> stack = errorStack();
    ASSERT_GE(stack.size(), 2u);
    EXPECT_EQ(stack.front(), lastError());
    EXPECT_NE(stack[1].find("H5Fopen"), std::string::npos) << stack[1];
    // Later successful calls leave the record of the failure alone.
    EXPECT_EQ(QMXLisValid(1), 0);
    EXPECT_EQ(errorStack().size(), stack.size());
}

TEST(Errors, OwnFailuresAreOneEntry) {
    EXPECT_LT(QMXLcreateFile(""), 0);
    const std::vector<std::string> stack = errorStack();
    ASSERT_EQ(stack.size(), 1u);
    EXPECT_EQ(stack[0], "QMXLcreateFile: empty file name");
    EXPECT_LT(QMXLwalkErrorStack(nullptr, nullptr), 0);
    EXPECT_LT(QMXLgetLastErrorMessage(nullptr), 0);
}

TEST(Memory, BuffersGoBackOnceAndForeignPointersAreIgnored) {
    EXPECT_LT(QMXLopenFile(""), 0);
    char* first = nullptr;
    ASSERT_OK(QMXLgetLastErrorMessage(&first));
    char* copy = first;
    EXPECT_OK(QMXLreleaseString(&first));
    EXPECT_EQ(first, nullptr);
    EXPECT_LT(QMXLreleaseString(&copy), 0);  // the second release of one buffer is refused
    EXPECT_EQ(QMXLreleaseString(&first), 0);
    EXPECT_LT(QMXLreleaseString(nullptr), 0);
    char local[] = "not ours";
    char* foreign = local;
    EXPECT_LT(QMXLreleaseString(&foreign), 0);
    EXPECT_LT(QMXLreleaseStrings(-1, nullptr), 0);
    EXPECT_EQ(QMXLreleaseStrings(0, nullptr), 0);
    EXPECT_LT(QMXLreleaseStrings(1, nullptr), 0);
    char* list[] = {local};
    EXPECT_LT(QMXLreleaseStrings(1, list), 0);
    EXPECT_LT(QMXLreleaseArray(nullptr), 0);
    void* none = nullptr;
    EXPECT_EQ(QMXLreleaseArray(&none), 0);
}
