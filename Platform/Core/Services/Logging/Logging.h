#ifndef QUELLMAR_LOGGING_H
#define QUELLMAR_LOGGING_H

#include "LoggingExport.h"

#include <functional>
#include <string>

namespace Quellmar {

enum class LogLevel { Trace = 0, Debug = 1, Info = 2, Error = 3 };

QMX_LOGGING_API const char* toString(LogLevel level);

// What a sink receives for every line at or above its threshold.
struct LogRecord {
    LogLevel level;
    const std::string& logger;
    const std::string& text;
    const char* file;
    const char* function;
    int line;
};

using LogSink = std::function<void(const LogRecord&)>;

// Replaces the process-wide sink. An empty sink restores the default one, which writes lines
// at `threshold` and above (ERROR by default) to stderr.
QMX_LOGGING_API void setLogSink(LogSink sink, LogLevel threshold);
QMX_LOGGING_API void resetLogSink();
QMX_LOGGING_API LogLevel logThreshold();

// A named logger. Cheap to keep as a static; the name is usually the source file's path.
class QMX_LOGGING_API Logging {
public:
    explicit Logging(std::string name);

    const std::string& name() const { return m_name; }
    // Lets callers skip composing a message nobody will see.
    bool isEnabled(LogLevel level) const;

    void logTRACE(const std::string& text, const char* file, const char* function, int line) const;
    void logDEBUG(const std::string& text, const char* file, const char* function, int line) const;
    void logINFO(const std::string& text, const char* file, const char* function, int line) const;
    void logERROR(const std::string& text, const char* file, const char* function, int line) const;

    void log(LogLevel level, const std::string& text, const char* file, const char* function,
             int line) const;

private:
    std::string m_name;
};

}  // namespace Quellmar

#endif
