#include "Diagnostics.h"

#include "Handle.h"
#include "Logging.h"

#include <cstdio>
#include <mutex>

namespace Quellmar::qmx {
namespace {

std::mutex g_mutex;
std::string g_lastError;

}  // namespace

void captureLibraryLog(bool verbose) {
    setLogSink(
        [verbose](const LogRecord& r) {
            if (r.level == LogLevel::Error) {
                std::lock_guard<std::mutex> guard(g_mutex);
                g_lastError = r.text;
            }
            if (verbose)
                std::fprintf(stderr, "qmx: [%s] %s\n", toString(r.level), r.text.c_str());
        },
        verbose ? LogLevel::Debug : LogLevel::Error);
}

std::string lastLibraryError() {
    std::lock_guard<std::mutex> guard(g_mutex);
    return g_lastError;
}

std::string fileLibraryError() {
    LibraryString message;
    if (QMXLgetLastErrorMessage(message.out()) < 0 || message.get() == nullptr)
        return {};
    std::string text = message.get();
    if (const auto eol = text.find('\n'); eol != std::string::npos)
        text.resize(eol);
    return text;
}

}  // namespace Quellmar::qmx
