#ifndef QUELLMAR_RELEASEREPORT_H
#define QUELLMAR_RELEASEREPORT_H

#include "DataAccessInterfaceExport.h"

#include <string>
#include <vector>

namespace Quellmar {

/// What ending the locks of a unit of work did to their data sources. A transaction stack puts
/// one on its thread while it ends its transactions; a lock that commits and closes its data
/// source tells the thread's report (if there is one) when that failed, or when it left the
/// source's changes to another unit of work on the same thread that still holds it for writing.
/// Reports nest: the newest one on a thread is current until it is destroyed.
class QMX_INTERFACE_API ReleaseReport {
public:
    ReleaseReport();
    ~ReleaseReport();
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    ReleaseReport(const ReleaseReport&) = delete;
    ReleaseReport& operator=(const ReleaseReport&) = delete;
    ///@}

    /// The report current on the calling thread; null when no stack is ending transactions.
    static ReleaseReport* current();

    /// `source` could not be committed; its changes are not durable.
    void failed(const std::string& source, const std::string& cause);
    /// `source`'s changes were left to another open unit of work of this thread.
    void deferred(const std::string& source);

    /// Whether a source could not be committed.
    bool anyFailed() const { return !m_failures.empty(); }
    /// Whether a source's changes were left to another unit of work.
    bool anyDeferred() const { return m_deferred; }
    /// "Could not commit SOURCE: CAUSE", one clause per failure, joined by "; ".
    std::string message() const;

private:
    ReleaseReport* m_previous;
    std::vector<std::string> m_failures;
    bool m_deferred = false;
};

}  // namespace Quellmar

#endif
