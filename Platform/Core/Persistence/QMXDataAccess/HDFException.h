#ifndef QUELLMAR_HDFEXCEPTION_H
#define QUELLMAR_HDFEXCEPTION_H

#include "QMXDataAccessExport.h"

#include "DAOExceptions.h"

#include <string>

namespace Quellmar {

/// A file-library failure. The message is followed by the library's error stack as it was when
/// the exception was built, one entry per line, each after a tab.
class QMX_DATAACCESS_API HDFException : public DAOException {
public:
    HDFException();
    /// `message`, then the file library's error stack as it is now.
    explicit HDFException(const std::string& message);
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    HDFException(const HDFException&) = default;
    HDFException(HDFException&&) noexcept = default;
    HDFException& operator=(const HDFException&) = default;
    HDFException& operator=(HDFException&&) noexcept = default;
    ~HDFException() override = default;
    ///@}

private:
    void formatStack();
};

}  // namespace Quellmar

#endif
