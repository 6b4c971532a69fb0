#include "Logging.h"
#include "QmException.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace Quellmar;

namespace {
struct Settable : QmException {
    using QmException::QmException;
    using QmException::setMessage;
};
}  // namespace

TEST(QmException, MessageCopyAndReplace) {
    Settable e("first");
    Settable copy = e;
    e.setMessage("second");
    EXPECT_STREQ(e.what(), "second");
    EXPECT_STREQ(copy.what(), "first");
    const std::exception& base = e;
    EXPECT_STREQ(base.what(), "second");
}

TEST(QmException, InvalidArgumentKeepsMessageAndThrowSite) {
    int line = 0;
    try {
        line = __LINE__ + 1;
        throw QminvalidArgument("Unknown data type.");
    } catch (const QmException& e) {
        EXPECT_STREQ(e.what(), "Unknown data type.");
        const auto& arg = dynamic_cast<const QminvalidArgument&>(e);
        EXPECT_EQ(arg.where().line(), static_cast<unsigned>(line));
        EXPECT_NE(std::strstr(arg.where().file_name(), "QmExceptionTest.cpp"), nullptr);
    }
}

TEST(QmException, LogWritesAnErrorLine) {
    std::string seen;
    setLogSink([&](const LogRecord& r) { seen = r.logger + ":" + r.text; }, LogLevel::Error);
    QmException("broken").log();
    resetLogSink();
    EXPECT_EQ(seen, "QmException:broken");
}
