#ifndef QUELLMAR_QMEXCEPTION_H
#define QUELLMAR_QMEXCEPTION_H

#include "ExceptionHandlingExport.h"

#include <exception>
#include <string>
#if __has_include(<source_location>)
#include <source_location>
#endif

namespace Quellmar {

#if defined(__cpp_lib_source_location)
using SourceLocation = std::source_location;
#else
/// clang 14 with libstdc++ 12 ships <source_location> without the class; the builtins it is
/// made of exist in both compilers.
class SourceLocation {
public:
    static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                            const char* function = __builtin_FUNCTION(),
                                            unsigned line = __builtin_LINE(),
                                            unsigned column = __builtin_COLUMN()) noexcept {
        SourceLocation where;
        where.m_file = file;
        where.m_function = function;
        where.m_line = line;
        where.m_column = column;
        return where;
    }
    constexpr const char* file_name() const noexcept { return m_file; }
    constexpr const char* function_name() const noexcept { return m_function; }
    constexpr unsigned line() const noexcept { return m_line; }
    constexpr unsigned column() const noexcept { return m_column; }

private:
    const char* m_file = "";
    const char* m_function = "";
    unsigned m_line = 0;
    unsigned m_column = 0;
};
#endif

/// Root of every exception the platform throws. The message is fixed English text.
class QMX_EXCEPTIONS_API QmException : public std::exception {
public:
    /// An exception whose what() is `message`.
    explicit QmException(std::string message) : m_message(std::move(message)) {}
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QmException(const QmException&) = default;
    QmException(QmException&&) noexcept = default;
    QmException& operator=(const QmException&) = default;
    QmException& operator=(QmException&&) noexcept = default;
    ~QmException() override = default;
    ///@}

    /// The message.
    const char* what() const noexcept override { return m_message.c_str(); }
    /// Writes the message as an ERROR line of the "QmException" logger.
    virtual void log() const;

protected:
    /// Replaces the message, for subclasses that complete it after construction.
    void setMessage(const std::string& message) { m_message = message; }

private:
    std::string m_message;
};

/// A caller passed something the operation cannot use; carries where it was detected.
class QMX_EXCEPTIONS_API QminvalidArgument : public QmException {
public:
    /// `message`, and where the throw happened (the caller's location by default).
    explicit QminvalidArgument(std::string message,
                               SourceLocation where = SourceLocation::current())
        : QmException(std::move(message)), m_where(where) {}

    /// Where the exception was made.
    const SourceLocation& where() const noexcept { return m_where; }

private:
    SourceLocation m_where;
};

}  // namespace Quellmar

#endif
