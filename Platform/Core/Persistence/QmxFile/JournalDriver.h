#ifndef QUELLMAR_QMXFILE_JOURNALDRIVER_H
#define QUELLMAR_QMXFILE_JOURNALDRIVER_H

// The HDF5 file driver under every container file: POSIX I/O like HDF5's sec2 driver, with
// flock file locking, plus a rollback journal (Journal.h) that makes each read-write session a
// transaction. The session commits when HDF5 closes the file, or earlier on request
// (commitFileNow): the container is synced and the journal emptied, and a new session begins.
// Any open that finds a journal left by a crashed writer rolls the container back first, under
// an exclusive lock.
//
// A close never fails towards HDF5: HDF5 1.10 keeps a file whose close failed and closes it a
// second time at library shutdown, after the driver has freed it. So while a file is being
// closed (ClosingFile), failing writes are recorded and not reported, the session is then not
// committed (the next open rolls it back), and the caller learns it from takeCloseFailure().
//
// A file locked by another process is refused at once with "File NAME is in use by another
// process"; there is no waiting.

#include "JournalControl.h"

#include <hdf5.h>

#include <string>

namespace Quellmar::qmxfile {

// The registered driver (registered on first use); negative when HDF5 refuses.
hid_t journalDriverId();

// Puts the container driver on a file access property list: the journaled driver, or plain
// sec2 while the journal is switched off.
herr_t setContainerDriver(hid_t fapl);

// Flushes HDF5's metadata of `file` and commits the driver's session now; the file stays open.
// For a read-only file, or one not under the journal, HDF5's flush alone. False with the
// reason in `error`.
bool commitFileNow(hid_t file, std::string& error);

// Marks the calling thread as closing a file for its lifetime (see above).
class ClosingFile {
public:
    ClosingFile();
    ~ClosingFile();
    ClosingFile(const ClosingFile&) = delete;
    ClosingFile& operator=(const ClosingFile&) = delete;
};

// Why the last close on this thread could not commit its session, cleared by the reading;
// empty when it could.
std::string takeCloseFailure();

}  // namespace Quellmar::qmxfile

#endif
