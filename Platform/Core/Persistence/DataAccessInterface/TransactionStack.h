#ifndef QUELLMAR_TRANSACTIONSTACK_H
#define QUELLMAR_TRANSACTIONSTACK_H

#include "DataAccessInterfaceExport.h"

#include "Transactions.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace Quellmar {

/// The host's unit of work: the locks and undoable transactions enlisted by data access
/// objects, in the order they were pushed. The stack owns everything it is given.
///
/// Ending the unit: revert() undoes every transaction (newest first) and then destroys them;
/// commit() and the destructor destroy them (newest first) without undoing, so lock
/// destructors commit and close their files. A stack is used by one thread.
///
/// A file that could not be committed is never passed over in silence: commit() throws,
/// revert() answers false, and the destructor, which cannot throw, logs the failure at ERROR and
/// keeps it as the stack's error message (getErrorMessage()).
class QMX_INTERFACE_API TransactionStack {
public:
    /// A new, empty stack; stacks exist only as shared pointers.
    static std::shared_ptr<TransactionStack> create();

    /// Ends every transaction as commit() does; a file that could not be committed is logged
    /// at ERROR and kept as the error message instead of thrown.
    virtual ~TransactionStack();
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    TransactionStack(const TransactionStack&) = delete;
    TransactionStack& operator=(const TransactionStack&) = delete;
    ///@}

    /// Undoes and destroys every transaction, newest first; true when every revert succeeded
    /// (one that throws counts as failed, and the older ones are still undone) and every file
    /// was committed and closed afterwards. On false the error message names what failed.
    virtual bool revert();
    /// Takes ownership of `lock` at once, also when this throws. Every held lock is asked
    /// `isCompatible(lock)`: an exception leaves the stack as it was; a false answer means the
    /// request is already covered and `lock` is dropped untaken. Otherwise `lock->lock()` runs;
    /// if it throws, `lock` is destroyed and the exception passes on.
    virtual void pushLock(LockingTransaction* lock);
    /// Takes ownership of `transaction`.
    virtual void push(AtomicTransaction* transaction);
    /// Replaces the stack's error message; DAO operations name their failure text here before
    /// they enlist their lock.
    virtual void setErrorMessage(const std::string& message);
    /// The last text set, or what a failed revert() or destructor left; empty at first.
    virtual std::string getErrorMessage() const;

    /// What a commit that returned did with the unit's changes.
    enum class CommitOutcome {
        /// Every file the unit held is committed: its changes survive a crash from now on.
        Durable,
        /// At least one file is also held for writing by another unit of work of this thread,
        /// which is still open: the changes to that file were joined to that unit and become
        /// durable when it commits (and are lost if it never does, e.g. the process dies).
        Joined
    };

    /// Ends the unit of work without undoing it: every transaction is destroyed, newest first,
    /// and the locks commit and close their files. Throws DataSourceException naming each file
    /// that could not be committed and why, after every transaction has been ended; the unit's
    /// changes to such a file are not durable (the next open rolls them back).
    CommitOutcome commit();

    /// Transactions held, locks included.
    std::size_t size() const { return m_entries.size(); }
    /// Locks held.
    std::size_t lockCount() const;
    /// Whether the stack holds no transaction.
    bool empty() const { return m_entries.empty(); }

protected:
    /// An empty stack; hosts make theirs with create().
    TransactionStack() = default;

private:
    struct Entry {
        std::unique_ptr<AtomicTransaction> transaction;
        LockingTransaction* lock;  // same object when it is a lock, else null
    };
    /// Destroys every transaction, newest first. Callers put a ReleaseReport on the thread
    /// first, to learn what ending the locks did.
    void destroyAll();
    void reserveOne();

    std::vector<Entry> m_entries;
    std::vector<LockingTransaction*> m_locks;  ///< the locks among m_entries, oldest first
    std::string m_errorMessage;
};

}  // namespace Quellmar

#endif
