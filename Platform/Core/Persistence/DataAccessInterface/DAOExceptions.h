#ifndef QUELLMAR_DAOEXCEPTIONS_H
#define QUELLMAR_DAOEXCEPTIONS_H

#include "DataAccessInterfaceExport.h"

#include "QmException.h"

namespace Quellmar {

/// Failures of data access objects. Caught as DAOException by hosts.
class QMX_INTERFACE_API DAOException : public QmException {
public:
    /// The constructors of QmException: the message is what() answers.
    using QmException::QmException;
};

/// The data source is missing, unreachable or of the wrong kind.
class QMX_INTERFACE_API DataSourceException : public DAOException {
public:
    /// The constructors of QmException: the message is what() answers.
    using DAOException::DAOException;
};

/// The data source refused an operation on its contents.
class QMX_INTERFACE_API DataAccessViolationException : public DAOException {
public:
    /// The constructors of QmException: the message is what() answers.
    using DAOException::DAOException;
};

/// A transaction could not be enlisted or related to the others on a stack.
class QMX_INTERFACE_API InvalidTransaction : public QmException {
public:
    /// The constructors of QmException: the message is what() answers.
    using QmException::QmException;
};

}  // namespace Quellmar

#endif
