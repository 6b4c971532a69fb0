#ifndef QUELLMAR_TRANSACTIONS_H
#define QUELLMAR_TRANSACTIONS_H

#include "DataAccessInterfaceExport.h"

namespace Quellmar {

/// A unit of work that a transaction stack can undo.
class QMX_INTERFACE_API AtomicTransaction {
public:
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    AtomicTransaction() = default;
    AtomicTransaction(const AtomicTransaction&) = default;
    AtomicTransaction& operator=(const AtomicTransaction&) = default;
    virtual ~AtomicTransaction() = default;
    ///@}

    /// Undoes the work; true when it succeeded.
    virtual bool revert() = 0;
};

/// A lock on a data source, taken and related to other locks by the transaction stack.
class QMX_INTERFACE_API LockingTransaction : public AtomicTransaction {
public:
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    LockingTransaction() = default;
    LockingTransaction(const LockingTransaction&) = default;
    LockingTransaction& operator=(const LockingTransaction&) = default;
    ~LockingTransaction() override = default;
    ///@}

    /// Takes the lock; the transaction stack calls it once, when the lock is pushed.
    virtual void lock() = 0;
    /// Asked of a held lock about a new request: false when this lock already covers it.
    virtual bool isCompatible(const LockingTransaction* other) const = 0;
    /// Whether this lock is for writing.
    virtual bool isExclusive() const = 0;
};

}  // namespace Quellmar

#endif
