#ifndef QUELLMAR_QMEXCEPTION_H
#define QUELLMAR_QMEXCEPTION_H

#include <exception>
#include <source_location>
#include <string>

namespace Quellmar {

// Root of every exception the platform throws. The message is fixed English text.
class QmException : public std::exception {
public:
    explicit QmException(std::string message) : m_message(std::move(message)) {}
    QmException(const QmException&) = default;
    QmException(QmException&&) noexcept = default;
    QmException& operator=(const QmException&) = default;
    QmException& operator=(QmException&&) noexcept = default;
    ~QmException() override = default;

    const char* what() const noexcept override { return m_message.c_str(); }
    // Writes the message as an ERROR line of the "QmException" logger.
    virtual void log() const;

protected:
    void setMessage(const std::string& message) { m_message = message; }

private:
    std::string m_message;
};

// A caller passed something the operation cannot use; carries where it was detected.
class QminvalidArgument : public QmException {
public:
    explicit QminvalidArgument(std::string message,
                               std::source_location where = std::source_location::current())
        : QmException(std::move(message)), m_where(where) {}

    const std::source_location& where() const noexcept { return m_where; }

private:
    std::source_location m_where;
};

}  // namespace Quellmar

#endif
