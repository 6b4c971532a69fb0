// Corners of the command line a parser change could move: the exact help layout, "-" as an
// operand, the last of a repeated option, and the messages of bad usage.
#include "ToolTestSupport.h"

namespace Quellmar::testing {
namespace {

TEST(QmxCommandLine, HelpKeepsItsLayout) {
    const ToolResult r = runQmx({"get", "--help"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(
        r.out,
        "Usage: qmx get [OPTIONS] FILE GROUP NAME\n"
        "\n"
        "Write the bytes of one object to standard output or a file.\n"
        "\n"
        "GROUP is the object group (\"models\", \"/models\" or \"a/b\"; \"Design\" for the design\n"
        "group) and NAME the object. Opaque objects and string objects are written exactly as\n"
        "stored, without any terminator added.\n"
        "\n"
        "Options:\n"
        "  -o, --output OUT      write to OUT instead of standard output\n"
        "  --native              open a plain HDF5 file (no container marker)\n"
        "  -v, --verbose         show the library's log lines on stderr\n"
        "  -h, --help            show this help\n"
        "\n"
        "Exit status: 0 success, 1 a problem was found or the request failed, 2 bad usage.\n");
    // Help wins over missing operands, wherever it stands.
    EXPECT_EQ(runQmx({"get", "f.qmz", "-h"}).out, r.out);
}

TEST_F(QmxTool, DashIsAnOperandAndTheLastRepeatedOptionCounts) {
    const std::string file = demo();
    const ToolResult put = runQmx({"put", file, "models", "fromStdin", "-"}, "piped bytes");
    ASSERT_EQ(put.exitCode, 0) << describe(put);
    const ToolResult toStdout = runQmx({"get", file, "models", "fromStdin", "-o", "-"});
    EXPECT_EQ(toStdout.exitCode, 0) << describe(toStdout);
    EXPECT_EQ(toStdout.out, "piped bytes");

    const ToolResult twice = runQmx(
        {"get", file, "models", "notes", "-o", dir.file("first"), "--output", dir.file("second")});
    ASSERT_EQ(twice.exitCode, 0) << describe(twice);
    EXPECT_FALSE(readFile(dir.file("second")).empty());
    EXPECT_EQ(runQmx({"ls", dir.file("first")}).exitCode, 1) << "only the last -o is written";
}

TEST(QmxCommandLine, BadUsageNamesWhatIsWrong) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"ls", "--bogus", "f.qmz"}, "qmx ls: unknown option '--bogus'\n"},
        {{"ls", "f.qmz", "-x"}, "qmx ls: unknown option '-x'\n"},
        {{"ls"}, "qmx ls: missing operand; expected FILE [GROUP]\n"},
        {{"cat", "a", "b", "c", "d"}, "qmx cat: too many operands; expected FILE PATH NAME\n"},
        {{"get", "f.qmz", "g", "n", "-o"}, "--output"},
        {{"check", "--json=yes", "f.qmz"}, "json"},
    };
    for (const Case& c : cases) {
        const ToolResult r = runQmx(c.args);
        EXPECT_EQ(r.exitCode, 2) << describe(r);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(lineCount(r.err), 2u) << r.err;
    }
}

}  // namespace
}  // namespace Quellmar::testing
