#include "Logging.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>

namespace Quellmar {
namespace {

struct SinkState {
    std::mutex mutex;
    std::shared_ptr<const LogSink> sink;  // null: default stderr sink
    std::atomic<int> threshold{static_cast<int>(LogLevel::Error)};
};

SinkState& state() {
    // Leaked on purpose: loggers may log from static destructors after main returns.
    static SinkState* s = new SinkState;
    return *s;
}

void writeToStderr(const LogRecord& r) {
    std::fprintf(stderr, "[%s] %s: %s (%s:%d)\n", toString(r.level), r.logger.c_str(),
                 r.text.c_str(), r.function ? r.function : "", r.line);
}

}  // namespace

const char* toString(LogLevel level) {
    switch (level) {
        case LogLevel::Trace:
            return "TRACE";
        case LogLevel::Debug:
            return "DEBUG";
        case LogLevel::Info:
            return "INFO";
        case LogLevel::Error:
            return "ERROR";
    }
    return "?";
}

void setLogSink(LogSink sink, LogLevel threshold) {
    SinkState& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.sink = sink ? std::make_shared<const LogSink>(std::move(sink)) : nullptr;
    s.threshold = static_cast<int>(threshold);
}

void resetLogSink() {
    setLogSink(nullptr, LogLevel::Error);
}

LogLevel logThreshold() {
    return static_cast<LogLevel>(state().threshold.load());
}

Logging::Logging(std::string name) : m_name(std::move(name)) {}

bool Logging::isEnabled(LogLevel level) const {
    return static_cast<int>(level) >= state().threshold.load(std::memory_order_relaxed);
}

void Logging::log(LogLevel level, const std::string& text, const char* file, const char* function,
                  int line) const {
    if (!isEnabled(level))
        return;
    std::shared_ptr<const LogSink> sink;
    {
        std::lock_guard<std::mutex> guard(state().mutex);
        sink = state().sink;
    }
    LogRecord record{level, m_name, text, file, function, line};
    if (sink)
        (*sink)(record);
    else
        writeToStderr(record);
}

void Logging::logTRACE(const std::string& t, const char* f, const char* fn, int l) const {
    log(LogLevel::Trace, t, f, fn, l);
}
void Logging::logDEBUG(const std::string& t, const char* f, const char* fn, int l) const {
    log(LogLevel::Debug, t, f, fn, l);
}
void Logging::logINFO(const std::string& t, const char* f, const char* fn, int l) const {
    log(LogLevel::Info, t, f, fn, l);
}
void Logging::logERROR(const std::string& t, const char* f, const char* fn, int l) const {
    log(LogLevel::Error, t, f, fn, l);
}

}  // namespace Quellmar
