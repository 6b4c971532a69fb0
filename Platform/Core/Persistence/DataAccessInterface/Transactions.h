#ifndef QUELLMAR_TRANSACTIONS_H
#define QUELLMAR_TRANSACTIONS_H

#include "DataAccessInterfaceExport.h"

namespace Quellmar {

// A unit of work that a transaction stack can undo.
class QMX_INTERFACE_API AtomicTransaction {
public:
    AtomicTransaction() = default;
    AtomicTransaction(const AtomicTransaction&) = default;
    AtomicTransaction& operator=(const AtomicTransaction&) = default;
    virtual ~AtomicTransaction() = default;

    // Undoes the work; true when it succeeded.
    virtual bool revert() = 0;
};

// A lock on a data source, taken and related to other locks by the transaction stack.
class QMX_INTERFACE_API LockingTransaction : public AtomicTransaction {
public:
    LockingTransaction() = default;
    LockingTransaction(const LockingTransaction&) = default;
    LockingTransaction& operator=(const LockingTransaction&) = default;
    ~LockingTransaction() override = default;

    virtual void lock() = 0;
    // Asked of a held lock about a new request: false when this lock already covers it.
    virtual bool isCompatible(const LockingTransaction* other) const = 0;
    virtual bool isExclusive() const = 0;
};

}  // namespace Quellmar

#endif
