// The command line itself: help, usage errors and their exit codes.
#include "ToolTestSupport.h"

namespace Quellmar::testing {
namespace {

const std::vector<std::string> kCommands = {"ls",    "get",     "put",     "cat",    "append",
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

TEST(QmxCli, BadUsageExitsTwoWithMessageOnStderrOnly) {
    const std::vector<std::vector<std::string>> cases = {
        {},                                                  // no command
        {"frobnicate"},                                      // unknown command
        {"help", "frobnicate"},                              // help for an unknown command
        {"ls"},                                              // missing operand
        {"ls", "a", "b", "c"},                               // too many operands
        {"ls", "--bogus", "f.qmz"},                          // unknown option
        {"get", "f.qmz", "g", "n", "-o"},                    // option without its value
        {"check", "--json=yes", "f.qmz"},                    // flag given a value
        {"put", "f.qmz", "g", "n", "--group-version", "x"},  // not a number
        {"put", "f.qmz", "/", "n"},                          // the root is no object group
    };
    for (const auto& args : cases) {
        const ToolResult r = runQmx(args);
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        EXPECT_EQ(r.exitCode, 2) << joined << "\n" << describe(r);
        EXPECT_TRUE(r.out.empty()) << joined << r.out;
        EXPECT_NE(r.err.find("Try 'qmx"), std::string::npos) << joined << r.err;
    }
}

TEST(QmxCli, OptionsMayStandAnywhereAndDoubleDashEndsThem) {
    TempDir dir;
    const std::string file = dir.file("c.qmz");
    ASSERT_EQ(runQmx({"demo", file}).exitCode, 0);
    const ToolResult before = runQmx({"ls", "-l", file});
    const ToolResult after = runQmx({"ls", file, "--long"});
    EXPECT_EQ(before.exitCode, 0);
    EXPECT_EQ(before.out, after.out);
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
}

}  // namespace
}  // namespace Quellmar::testing
