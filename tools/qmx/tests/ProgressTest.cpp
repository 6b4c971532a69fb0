// The progress line: drawn on stderr only when stderr is a terminal.
#include "ToolTestSupport.h"

#include <unistd.h>

namespace Quellmar::testing {
namespace {

TEST_F(QmxTool, ProgressIsDrawnOnATerminalOnly) {
    const std::string file = demo();
    // Not a terminal: nothing but the result.
    const ToolResult piped = runQmx({"check", file});
    ASSERT_EQ(piped.exitCode, 0) << describe(piped);
    EXPECT_TRUE(piped.err.empty()) << piped.err;
    EXPECT_EQ(piped.out.find('\r'), std::string::npos);

    // On a terminal (script(1) gives the tool a pseudo-terminal) the bar appears and is
    // cleared again before the result.
    if (::access("/usr/bin/script", X_OK) != 0)
        GTEST_SKIP() << "script(1) is not installed";
    const std::string log = dir.file("tty.log");
    const std::string command = "/usr/bin/script -qec \"" + std::string(QMX_BINARY) + " check " +
                                file + "\" " + log + " > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string screen = readFile(log);
    EXPECT_NE(screen.find("checking ["), std::string::npos) << screen;
    EXPECT_NE(screen.find("\r\x1b[K"), std::string::npos) << screen;
    EXPECT_NE(screen.find(": ok (format version"), std::string::npos) << screen;
}

}  // namespace
}  // namespace Quellmar::testing
