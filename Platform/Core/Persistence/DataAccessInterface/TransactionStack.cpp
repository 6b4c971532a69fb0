#include "TransactionStack.h"

#include "DAOExceptions.h"
#include "Logging.h"
#include "ReleaseReport.h"

#include <algorithm>

namespace Quellmar {

namespace {
const Logging s_log(__FILE__);

// Gives the constructor to make_shared without making it public.
struct ConstructibleStack : TransactionStack {
    ConstructibleStack() = default;
};
}  // namespace

std::shared_ptr<TransactionStack> TransactionStack::create() {
    return std::make_shared<ConstructibleStack>();
}

TransactionStack::~TransactionStack() {
    ReleaseReport report;
    destroyAll();
    // Nobody can be told by exception here: the log and the stack's message must do.
    if (report.anyFailed()) {
        m_errorMessage = report.message();
        s_log.logERROR(m_errorMessage, __FILE__, __PRETTY_FUNCTION__, __LINE__);
    }
}

void TransactionStack::destroyAll() {
    // Newest first, so locks outlive the creations they protect. Popping before destroying
    // keeps the stack consistent if a destructor looks at it.
    while (!m_entries.empty()) {
        std::unique_ptr<AtomicTransaction> last = std::move(m_entries.back().transaction);
        if (m_entries.back().lock)
            m_locks.pop_back();
        m_entries.pop_back();
        last.reset();
    }
}

bool TransactionStack::revert() {
    ReleaseReport report;  // lock reverts commit and close: their failures count too
    bool all = true;
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
        try {
            if (!it->transaction->revert())
                all = false;
        } catch (...) {
            all = false;  // keep undoing the rest; a revert must not strand older work
        }
    }
    destroyAll();
    if (report.anyFailed()) {
        m_errorMessage = report.message();
        return false;
    }
    return all;
}

void TransactionStack::reserveOne() {
    // Room first, so that taking ownership cannot be followed by a throwing push_back; growth
    // stays geometric (reserving size + 1 each time made a long stack quadratic).
    if (m_entries.size() == m_entries.capacity())
        m_entries.reserve(std::max<std::size_t>(16, 2 * m_entries.capacity()));
}

void TransactionStack::pushLock(LockingTransaction* lock) {
    std::unique_ptr<LockingTransaction> owned(lock);
    if (!owned)
        return;
    // Only the locks, not every creation on the stack: a long stack stays cheap to lock.
    for (const LockingTransaction* held : m_locks) {
        if (!held->isCompatible(owned.get()))
            return;  // already covered
    }
    owned->lock();  // on throw `owned` releases whatever the lock took
    reserveOne();
    m_locks.reserve(m_locks.size() + 1);
    LockingTransaction* raw = owned.get();
    m_entries.push_back(Entry{std::unique_ptr<AtomicTransaction>(owned.release()), raw});
    m_locks.push_back(raw);
}

void TransactionStack::push(AtomicTransaction* transaction) {
    std::unique_ptr<AtomicTransaction> owned(transaction);
    if (!owned)
        return;
    reserveOne();
    m_entries.push_back(Entry{std::move(owned), nullptr});
}

void TransactionStack::setErrorMessage(const std::string& message) {
    m_errorMessage = message;
}

std::string TransactionStack::getErrorMessage() const {
    return m_errorMessage;
}

TransactionStack::CommitOutcome TransactionStack::commit() {
    ReleaseReport report;
    destroyAll();
    if (report.anyFailed()) {
        m_errorMessage = report.message();
        throw DataSourceException(m_errorMessage);
    }
    return report.anyDeferred() ? CommitOutcome::Joined : CommitOutcome::Durable;
}

std::size_t TransactionStack::lockCount() const {
    return m_locks.size();
}

}  // namespace Quellmar
