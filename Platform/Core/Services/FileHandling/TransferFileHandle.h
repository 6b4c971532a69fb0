#ifndef QUELLMAR_TRANSFERFILEHANDLE_H
#define QUELLMAR_TRANSFERFILEHANDLE_H

#include "FileHandlingExport.h"

#include "FileName.h"

#include <string>

namespace Quellmar {

/// Marks a file as being opened by this process for as long as the object lives.
///
/// The mode value is a bit set: 1 read, 2 write, 32 shared with other openers (33 is a shared
/// read, 35 a shared read-write open). The object records the file and mode in a process-wide
/// table, so diagnostics can ask which files are in the middle of an open (`isInTransfer`) and
/// with which mode. It does not touch the file itself.
class QMX_FILEHANDLING_API TransferFileHandle {
public:
    enum : int { Read = 1, Write = 2, Shared = 32 };

    /// Records `name` as in transfer with `mode` until destruction.
    TransferFileHandle(const FileName& name, int mode);
    ~TransferFileHandle();
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    TransferFileHandle(const TransferFileHandle&) = delete;
    TransferFileHandle& operator=(const TransferFileHandle&) = delete;
    ///@}

    /// The file recorded.
    const FileName& fileName() const { return m_name; }
    /// The mode bits recorded.
    int mode() const { return m_mode; }
    /// Whether the mode includes Write.
    bool wantsWrite() const { return (m_mode & Write) != 0; }

    /// Number of live handles for the file in this process.
    static int isInTransfer(const FileName& name);

private:
    FileName m_name;
    int m_mode;
};

}  // namespace Quellmar

#endif
