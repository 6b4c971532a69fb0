#ifndef QUELLMAR_QMXWRITERGATE_H
#define QUELLMAR_QMXWRITERGATE_H

#include "QMXDataAccessExport.h"

#include <chrono>
#include <string>

namespace Quellmar {

/// Writing units of work on one file in one process take turns. HDF5 shares one open file
/// between all opens of it in a process, so two threads writing it at once would mix their
/// uncommitted changes and one's commit would make the other's durable. An exclusive lock
/// therefore lets its thread through this gate first: while one thread holds a file for writing,
/// an exclusive lock of another thread on the same file waits, up to the wait limit, and then
/// fails with DataSourceException. The thread that holds the gate may enter it again (other units
/// of work of that thread join the open one). Files are told apart by device and inode, so every
/// name of a file meets the same gate.
class QMX_DATAACCESS_API QMXWriterGate {
public:
    /// How long an exclusive lock waits for another thread's writing unit to end; 5 s unless the
    /// host sets it. Zero refuses at once. Applies to waits that start afterwards.
    static void setWaitLimit(std::chrono::milliseconds limit);
    /// The wait limit in force.
    static std::chrono::milliseconds waitLimit();

    /// The gate key of a file: its device and inode, or the name when it cannot be looked up.
    static std::string keyOf(const std::string& fileName);
    /// Lets the calling thread through the gate of `key`, waiting while another thread holds it.
    /// Throws DataSourceException naming `fileName` when the wait limit passes.
    static void enter(const std::string& key, const std::string& fileName);
    /// Leaves one enter of `key`; the gate opens when the last one is left.
    static void leave(const std::string& key);
};

}  // namespace Quellmar

#endif
