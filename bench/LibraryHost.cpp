#include "LibraryHost.h"

#if QMX_BENCH_HOST

#include "QMXL.h"

namespace Quellmar::bench {

HostSession::HostSession(const std::string& path, bool readOnly)
    : m_stack(TransactionStack::create()),
      m_context(m_stack, readOnly ? UserContext::ReadOnly : UserContext::ReadWrite),
      m_factory(std::make_shared<DataSourceDescriptor>(path), &m_context) {}

long libraryOpenHandles() { return QMXLgetHandleCount(); }

}  // namespace Quellmar::bench

#endif
