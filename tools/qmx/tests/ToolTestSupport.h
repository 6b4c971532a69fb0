// Shared pieces of the qmx tests: a fixture with a scratch directory and a demo container.
#ifndef QMX_TOOL_TESTS_TOOLTESTSUPPORT_H
#define QMX_TOOL_TESTS_TOOLTESTSUPPORT_H

#include "TempDir.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Quellmar::testing {

class QmxTool : public ::testing::Test {
protected:
    // A fresh container written by 'qmx demo'.
    std::string demo(const std::string& name = "demo.qmz") {
        const std::string path = dir.file(name);
        const ToolResult r = runQmx({"demo", path});
        EXPECT_EQ(r.exitCode, 0) << describe(r);
        return path;
    }

    TempDir dir;
};

// Number of lines in text.
inline std::size_t lineCount(const std::string& text) {
    std::size_t n = 0;
    for (const char c : text)
        n += c == '\n';
    return n;
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Runs qmx with args (and input on stdin), expects its exit code and each of `parts` in what it
// wrote to standard output (expectOut) or standard error (expectErr); the run, for more checks.
ToolResult expectOut(const std::vector<std::string>& args, int exitCode,
                     const std::vector<std::string>& parts = {}, const std::string& input = "");
ToolResult expectErr(const std::vector<std::string>& args, int exitCode,
                     const std::vector<std::string>& parts = {}, const std::string& input = "");

// Runs /usr/bin/python3 with the script on the file's contents; its stdout, or "<failed>".
std::string python(const std::string& script, const std::string& stdinText);

// Runs h5py code on the file opened as `f` (mode "r+" or "w"); h5py writes no checksums.
void withH5py(const std::string& file, const std::string& code, const std::string& mode = "r+");

}  // namespace Quellmar::testing

#endif
