// Files that are not sound containers: every command answers with one line and exit 1,
// never a crash or a hang; a read-only file can be read but not changed.
#include "ToolTestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

namespace Quellmar::testing {
namespace {

// Every command that opens an existing file, on that file.
std::vector<std::vector<std::string>> everyCommandOn(const std::string& file) {
    return {{"ls", file},
            {"ls", "-l", "--json", file},
            {"get", file, "models", "gearbox"},
            {"put", file, "models", "extra"},
            {"cat", file, "results", "counts"},
            {"check", file},
            {"compact", file},
            {"version", file},
            {"version", "--upgrade", file}};
}

void expectCleanRefusal(const std::string& file, const std::string& message) {
    for (const auto& args : everyCommandOn(file)) {
        const ToolResult r = runQmx(args, "data", 60);
        const std::string what = args[0] + " on " + file;
        EXPECT_FALSE(r.timedOut) << what;
        EXPECT_EQ(r.signal, 0) << what << describe(r);
        EXPECT_EQ(r.exitCode, 1) << what << describe(r);
        // check reports its finding as its output; the others on stderr.
        const std::string& said = args[0] == "check" ? r.out : r.err;
        EXPECT_TRUE(contains(said, message)) << what << ": expected '" << message << "'\n" << said;
        if (args[0] == "check") {
            EXPECT_TRUE(contains(r.out, ": /: ")) << r.out;
        } else {
            EXPECT_EQ(lineCount(r.err), 1u) << what << "\n" << r.err;
            EXPECT_TRUE(r.out.empty()) << what << r.out;
        }
    }
}

TEST_F(QmxTool, MissingFileDirectoryEmptyAndForeignFiles) {
    expectCleanRefusal(dir.file("absent.qmz"), "No such file or directory");
    expectCleanRefusal(dir.path(), "is a directory");
    writeFile(dir.file("empty.qmz"), "");
    expectCleanRefusal(dir.file("empty.qmz"), "empty file");
    writeFile(dir.file("text.qmz"), "this is a text file, not a container\n");
    expectCleanRefusal(dir.file("text.qmz"), "no HDF5 signature");
    // The signature alone does not make a file.
    writeFile(dir.file("header.qmz"), std::string("\x89HDF\r\n\x1a\n", 8) + std::string(600, '\0'));
    expectCleanRefusal(dir.file("header.qmz"), "damaged or truncated");
}

TEST_F(QmxTool, ContainerWithASecondNameIsRefusedAsSuch) {
    const std::string file = demo();
    const std::string bytes = readFile(file);
    ASSERT_EQ(::link(file.c_str(), dir.file("second.qmz").c_str()), 0);
    expectCleanRefusal(file, "has 2 hard links");
    expectCleanRefusal(dir.file("second.qmz"), "has 2 hard links");
    const ToolResult r = runQmx({"ls", file}, "data", 60);
    EXPECT_FALSE(contains(r.err, "damaged"))
        << "a sound file is not reported as damaged: " << r.err;
    EXPECT_EQ(readFile(file), bytes) << "a refused file is left as it was";
}

TEST_F(QmxTool, TruncatedContainers) {
    const std::string file = demo();
    const std::string bytes = readFile(file);
    for (const double keep : {0.1, 0.5, 0.9}) {
        const std::string cut =
            dir.file("cut" + std::to_string(static_cast<int>(keep * 10)) + ".qmz");
        writeFile(cut, bytes.substr(
                           0, static_cast<std::size_t>(static_cast<double>(bytes.size()) * keep)));
        expectCleanRefusal(cut, "damaged or truncated");
    }
}

TEST_F(QmxTool, NativeHdf5FileIsRefusedUnlessAskedFor) {
    const std::string file = dir.file("plain.h5");
    withH5py(
        file,
        "    f.create_group('data').create_dataset('values', data=numpy.arange(5, dtype='<i4'))",
        "w");
    expectCleanRefusal(file, "plain HDF5 file, not a QMZ container");

    // With --native the library's native driver opens it.
    expectOut({"ls", "--native", file}, 0, {"values", "vector, 5 x int32"});
    EXPECT_EQ(runQmx({"cat", "--native", file, "data", "values"}).out, "0\n1\n2\n3\n4\n");
    expectOut({"check", "--native", file}, 0);
}

TEST_F(QmxTool, ReadOnlyFileReadsButIsNeverChanged) {
    const std::string file = demo();
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    const std::string before = readFile(file);
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"ls", "-l", file},
                                               {"get", file, "models", "notes"},
                                               {"cat", file, "results", "counts"},
                                               {"check", file},
                                               {"version", file}}) {
        const ToolResult r = runQmx(args);
        EXPECT_EQ(r.exitCode, 0) << args[0] << describe(r);
    }
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"put", file, "models", "x"}, {"compact", file}, {"version", "--upgrade", file}}) {
        const ToolResult r = expectErr(args, 1, {"read-only"}, "data");
        EXPECT_EQ(lineCount(r.err), 1u) << r.err;
    }
    EXPECT_EQ(readFile(file), before);
    expectOut({"demo", "--force", file}, 1);
    EXPECT_EQ(readFile(file), before);
}

}  // namespace
}  // namespace Quellmar::testing
