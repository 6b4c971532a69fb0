#ifndef QUELLMAR_DAOEXCEPTIONS_H
#define QUELLMAR_DAOEXCEPTIONS_H

#include "QmException.h"

namespace Quellmar {

// Failures of data access objects. Caught as DAOException by hosts.
class DAOException : public QmException {
public:
    using QmException::QmException;
};

// The data source is missing, unreachable or of the wrong kind.
class DataSourceException : public DAOException {
public:
    using DAOException::DAOException;
};

// The data source refused an operation on its contents.
class DataAccessViolationException : public DAOException {
public:
    using DAOException::DAOException;
};

// A transaction could not be enlisted or related to the others on a stack.
class InvalidTransaction : public QmException {
public:
    using QmException::QmException;
};

}  // namespace Quellmar

#endif
