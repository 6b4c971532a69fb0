#include "Logging.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Quellmar;

namespace {
struct Captured {
    LogLevel level;
    std::string logger, text, function;
    int line;
};
}  // namespace

TEST(Logging, SinkReceivesLinesAtOrAboveThreshold) {
    std::vector<Captured> lines;
    setLogSink(
        [&](const LogRecord& r) {
            lines.push_back({r.level, r.logger, r.text, r.function, r.line});
        },
        LogLevel::Debug);
    Logging log("src/Storage.cpp");
    log.logTRACE("hidden", __FILE__, "void f()", 1);
    log.logDEBUG("*** Persistence: x", __FILE__, "void f()", 2);
    log.logERROR("bad", __FILE__, "void g(int)", 3);
    resetLogSink();

    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, LogLevel::Debug);
    EXPECT_EQ(lines[0].logger, "src/Storage.cpp");
    EXPECT_EQ(lines[0].text, "*** Persistence: x");
    EXPECT_EQ(lines[0].line, 2);
    EXPECT_EQ(lines[1].function, "void g(int)");
    EXPECT_FALSE(log.isEnabled(LogLevel::Info));
    EXPECT_TRUE(log.isEnabled(LogLevel::Error));
}

TEST(Logging, DefaultSinkWritesErrorsToStderr) {
    resetLogSink();
    Logging log("unit");
    testing::internal::CaptureStderr();
    log.logINFO("not shown", __FILE__, "f", 1);
    log.logERROR("shown", __FILE__, "f", 2);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("not shown"), std::string::npos);
    EXPECT_NE(err.find("[ERROR] unit: shown"), std::string::npos);
}
