// Runs the real qmx binary and captures what it says.
#ifndef QMX_TOOL_TESTS_TOOLRUNNER_H
#define QMX_TOOL_TESTS_TOOLRUNNER_H

#include <string>
#include <vector>

namespace Quellmar::testing {

struct ToolResult {
    int exitCode = -1;  // -1 when killed by a signal or the timeout
    int signal = 0;
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs qmx with args, feeding input on stdin; kills it after timeoutSeconds.
ToolResult runQmx(const std::vector<std::string>& args, const std::string& input = "",
                  int timeoutSeconds = 60);

// Printable form of a run for failure messages.
std::string describe(const ToolResult& r);

}  // namespace Quellmar::testing

#endif
