#ifndef QUELLMAR_QMXLOGLINE_H
#define QUELLMAR_QMXLOGLINE_H

#include "Logging.h"

#include <sstream>

// Composes a log line in a string stream and hands it to `logger` with this source file, the
// full signature of the calling operation and the line. Nothing is composed for a level that
// no sink would see.
#define QMX_LOG_LINE(logger, LEVEL, level, parts)                                         \
    do {                                                                                  \
        if ((logger).isEnabled(::Quellmar::LogLevel::level)) {                            \
            std::ostringstream qmx_line;                                                  \
            qmx_line << parts;                                                            \
            (logger).log##LEVEL(qmx_line.str(), __FILE__, __PRETTY_FUNCTION__, __LINE__); \
        }                                                                                 \
    } while (false)

#define QMX_TRACE(logger, parts) QMX_LOG_LINE(logger, TRACE, Trace, parts)
#define QMX_DEBUG(logger, parts) QMX_LOG_LINE(logger, DEBUG, Debug, parts)
#define QMX_INFO(logger, parts) QMX_LOG_LINE(logger, INFO, Info, parts)
#define QMX_ERROR(logger, parts) QMX_LOG_LINE(logger, ERROR, Error, parts)

#endif
