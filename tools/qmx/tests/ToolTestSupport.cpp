#include "ToolTestSupport.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace Quellmar::testing {
namespace {

ToolResult expectRun(const std::vector<std::string>& args, int exitCode,
                     const std::vector<std::string>& parts, const std::string& input, bool err) {
    std::string command = "qmx";
    for (const std::string& arg : args)
        command += " " + arg;
    SCOPED_TRACE(command);
    ToolResult r = runQmx(args, input);
    EXPECT_EQ(r.exitCode, exitCode) << describe(r);
    for (const std::string& part : parts)
        EXPECT_TRUE(contains(err ? r.err : r.out, part)) << "no '" << part << "' in\n"
                                                         << describe(r);
    return r;
}

}  // namespace

ToolResult expectOut(const std::vector<std::string>& args, int exitCode,
                     const std::vector<std::string>& parts, const std::string& input) {
    return expectRun(args, exitCode, parts, input, false);
}

ToolResult expectErr(const std::vector<std::string>& args, int exitCode,
                     const std::vector<std::string>& parts, const std::string& input) {
    return expectRun(args, exitCode, parts, input, true);
}

std::string python(const std::string& script, const std::string& stdinText) {
    TempDir scratch;
    writeFile(scratch.file("in"), stdinText);
    writeFile(scratch.file("script.py"), script);
    const std::string command = "/usr/bin/python3 " + scratch.file("script.py") + " < " +
                                scratch.file("in") + " > " + scratch.file("out") + " 2>&1";
    if (std::system(command.c_str()) != 0)
        return "<failed> " + readFile(scratch.file("out"));
    return readFile(scratch.file("out"));
}

void withH5py(const std::string& file, const std::string& code, const std::string& mode) {
    const std::string out = python("import h5py, numpy\nwith h5py.File('" + file + "', '" + mode +
                                       "') as f:\n" + code + "\nprint('ok')\n",
                                   "");
    ASSERT_EQ(out, "ok\n") << out;
}

}  // namespace Quellmar::testing
