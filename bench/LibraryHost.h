#ifndef QUELLMAR_BENCH_LIBRARYHOST_H
#define QUELLMAR_BENCH_LIBRARYHOST_H

#include <QMXDataAccess/DataSourceDescriptor.h>
#include <QMXDataAccess/QMXGenericDAOFactory.h>
#include <QMXDataAccess/TransactionStack.h>
#include <QMXDataAccess/UserContext.h>

#include <memory>
#include <string>

namespace Quellmar::bench {

// One unit of work as a host runs it: its own transaction stack, a factory that opens and
// locks the container, and DAOs bound to both. The work ends with commit(), which ends the
// stack's transactions and so commits and closes the file.
//
// Unless `synced`, the stack starts with a DisableFlushingTransaction, as a host doing bulk
// work does: commits stay safe against a crash of the process (the journal) but skip the
// syncs that protect them against power loss. None of the other contenders syncs either.
class HostSession {
public:
    HostSession(const std::string& path, bool readOnly, bool synced = false);
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    template <class Dao>
    void bind(Dao& dao) {
        dao.setDataSource(m_factory.getStorage());
        dao.setContext(m_stack);
    }
    void commit() { m_stack->commit(); }

private:
    std::shared_ptr<TransactionStack> m_stack;
    UserContext m_context;
    QMXGenericDAOFactory m_factory;
};

// The library's handle and identifier tables are empty again.
long libraryOpenHandles();

}  // namespace Quellmar::bench

#endif
