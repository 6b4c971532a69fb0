#ifndef QUELLMAR_LOGGING_H
#define QUELLMAR_LOGGING_H

#include <functional>
#include <string>

namespace Quellmar {

enum class LogLevel { Trace = 0, Debug = 1, Info = 2, Error = 3 };

const char* toString(LogLevel level);

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
void setLogSink(LogSink sink, LogLevel threshold);
void resetLogSink();
LogLevel logThreshold();

// A named logger. Cheap to keep as a static; the name is usually the source file's path.
class Logging {
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
