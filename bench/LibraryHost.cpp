#include "LibraryHost.h"

#include <QMXDataAccess/QMXL.h>
#include <QMXDataAccess/QMXTransactions.h>

namespace Quellmar::bench {

namespace {

// The flushing switch goes first, so it ends last: after the lock has committed the file.
std::shared_ptr<TransactionStack> makeStack(bool synced) {
    std::shared_ptr<TransactionStack> stack = TransactionStack::create();
    if (!synced)
        stack->push(new DisableFlushingTransaction);
    return stack;
}

}  // namespace

HostSession::HostSession(const std::string& path, bool readOnly, bool synced)
    : m_stack(makeStack(synced)),
      m_context(m_stack, readOnly ? UserContext::ReadOnly : UserContext::ReadWrite),
      m_factory(std::make_shared<DataSourceDescriptor>(path), &m_context) {}

long libraryOpenHandles() {
    return QMXLgetHandleCount();
}

}  // namespace Quellmar::bench
