// The command line itself: help and its layout, where options may stand, "-" as an operand, the
// last of a repeated option, and the messages and exit codes of bad usage.
#include "ToolTestSupport.h"

namespace Quellmar::testing {
namespace {

const std::vector<std::string> kCommands = {"ls",    "get",     "put",     "cat", "append",
                                            "check", "compact", "version", "demo"};

TEST(QmxCli, HelpOnEveryCommandExitsZeroAndNamesTheCommand) {
    for (const std::string& command : kCommands) {
        for (const char* flag : {"--help", "-h"}) {
            const ToolResult r = runQmx({command, flag});
            EXPECT_EQ(r.exitCode, 0) << command << "\n" << describe(r);
            EXPECT_NE(r.out.find("Usage: qmx " + command), std::string::npos) << r.out;
            EXPECT_TRUE(r.err.empty()) << r.err;
        }
    }
    const ToolResult overall = runQmx({"--help"});
    EXPECT_EQ(overall.exitCode, 0);
    for (const std::string& command : kCommands)
        EXPECT_NE(overall.out.find("  " + command + " "), std::string::npos) << command;
    EXPECT_EQ(runQmx({"help", "cat"}).out, runQmx({"cat", "--help"}).out);
}

TEST(QmxCli, HelpKeepsItsLayout) {
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

// Two lines on stderr only: what is wrong, then where to look.
TEST(QmxCli, BadUsageExitsTwoAndNamesWhatIsWrong) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{}, ""},                      // no command
        {{"frobnicate"}, ""},          // unknown command
        {{"help", "frobnicate"}, ""},  // help for an unknown command
        {{"ls"}, "qmx ls: missing operand; expected FILE [GROUP]\n"},
        {{"ls", "a", "b", "c"}, ""},  // too many operands
        {{"cat", "a", "b", "c", "d"}, "qmx cat: too many operands; expected FILE PATH NAME\n"},
        {{"ls", "--bogus", "f.qmz"}, "qmx ls: unknown option '--bogus'\n"},
        {{"ls", "f.qmz", "-x"}, "qmx ls: unknown option '-x'\n"},
        {{"get", "f.qmz", "g", "n", "-o"}, "--output"},            // option without its value
        {{"check", "--json=yes", "f.qmz"}, "json"},                // flag given a value
        {{"put", "f.qmz", "g", "n", "--group-version", "x"}, ""},  // not a number
        {{"put", "f.qmz", "/", "n"}, ""},                          // the root is no object group
    };
    for (const Case& c : cases) {
        const ToolResult r = runQmx(c.args);
        std::string joined;
        for (const auto& a : c.args)
            joined += a + " ";
        SCOPED_TRACE(joined);
        EXPECT_EQ(r.exitCode, 2) << describe(r);
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Try 'qmx"), std::string::npos) << r.err;
        EXPECT_EQ(lineCount(r.err), 2u) << r.err;
    }
}

TEST_F(QmxTool, OptionsStandAnywhereDashesAreOperandsAndTheLastRepeatCounts) {
    const std::string file = demo();
    const ToolResult before = runQmx({"ls", "-l", file});
    EXPECT_EQ(before.exitCode, 0);
    EXPECT_EQ(runQmx({"ls", file, "--long"}).out, before.out);
    // After "--" a leading dash is an operand: here a file name that does not exist.
    const ToolResult dashed = runQmx({"ls", "--", "-l"});
    EXPECT_EQ(dashed.exitCode, 1) << describe(dashed);
    EXPECT_NE(dashed.err.find("-l: No such file"), std::string::npos) << dashed.err;
    // "-oOUT" and "--output=OUT" are the same as "-o OUT".
    const ToolResult a = runQmx({"get", file, "models", "notes", "-o" + dir.file("a")});
    const ToolResult b = runQmx({"get", file, "models", "notes", "--output=" + dir.file("b")});
    EXPECT_EQ(a.exitCode, 0) << describe(a);
    EXPECT_EQ(b.exitCode, 0) << describe(b);
    EXPECT_EQ(readFile(dir.file("a")), readFile(dir.file("b")));
    EXPECT_FALSE(readFile(dir.file("a")).empty());

    // "-" is standard input or output.
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

}  // namespace
}  // namespace Quellmar::testing
