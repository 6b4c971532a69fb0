#ifndef QUELLMAR_LOGGING_H
#define QUELLMAR_LOGGING_H

#include "LoggingExport.h"

#include <functional>
#include <string>

namespace Quellmar {

enum class LogLevel { Trace = 0, Debug = 1, Info = 2, Error = 3 };

QMX_LOGGING_API const char* toString(LogLevel level);

/// What a sink receives for every line at or above its threshold.
struct LogRecord {
    LogLevel level;             ///< the line's level
    const std::string& logger;  ///< the logger's name
    const std::string& text;    ///< the message
    const char* file;           ///< source file of the call
    const char* function;       ///< full signature of the calling function
    int line;                   ///< source line of the call
};

using LogSink = std::function<void(const LogRecord&)>;

/// Replaces the process-wide sink. An empty sink restores the default one, which writes lines
/// at `threshold` and above (ERROR by default) to stderr.
QMX_LOGGING_API void setLogSink(LogSink sink, LogLevel threshold);
QMX_LOGGING_API void resetLogSink();
QMX_LOGGING_API LogLevel logThreshold();

/// A named logger. Cheap to keep as a static; the name is usually the source file's path.
class QMX_LOGGING_API Logging {
public:
    /// A logger named `name`; nothing is written at construction.
    explicit Logging(std::string name);

    /// The name given at construction.
    const std::string& name() const { return m_name; }
    /// Lets callers skip composing a message nobody will see.
    bool isEnabled(LogLevel level) const;

    ///@{
    /// log() at LogLevel::Trace, Debug, Info and Error.
    void logTRACE(const std::string& text, const char* file, const char* function, int line) const;
    void logDEBUG(const std::string& text, const char* file, const char* function, int line) const;
    void logINFO(const std::string& text, const char* file, const char* function, int line) const;
    void logERROR(const std::string& text, const char* file, const char* function, int line) const;
    ///@}

    /// Hands one line to the process-wide sink when `level` is at or above its threshold;
    /// anything below is dropped without a call.
    void log(LogLevel level, const std::string& text, const char* file, const char* function,
             int line) const;

private:
    std::string m_name;
};

}  // namespace Quellmar

#endif
