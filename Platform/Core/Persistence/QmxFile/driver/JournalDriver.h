#ifndef QUELLMAR_QMXFILE_JOURNALDRIVER_H
#define QUELLMAR_QMXFILE_JOURNALDRIVER_H

// The HDF5 file driver under every container file: POSIX I/O like HDF5's sec2 driver, with
// flock file locking, plus a rollback journal (Journal.h) that makes each read-write session a
// transaction. The session commits when HDF5 closes the file, or earlier on request
// (commitFileNow): the container is synced and the journal cleared, and a new session begins.
// Any open that finds a journal left by a crashed writer rolls the container back first, under
// an exclusive lock.
//
// Flushes and closes never fail towards HDF5: in HDF5 1.10 a failed flush leaves the metadata
// cache unable to flush again, and a failed close keeps the file, which HDF5 then closes a
// second time at library shutdown, after the driver has freed it. So while a file is being
// flushed or closed (KeepFailures), failing writes are kept from HDF5, the session is never
// committed afterwards (the next open rolls it back), and the caller learns it from
// takeKeptFailure().

#include "JournalControl.h"

#include <hdf5.h>

#include <cstddef>
#include <cstdint>
#include <memory>
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

// Marks the calling thread as flushing or closing a file for its lifetime (see above).
class KeepFailures {
public:
    KeepFailures();
    ~KeepFailures();
    KeepFailures(const KeepFailures&) = delete;
    KeepFailures& operator=(const KeepFailures&) = delete;
};

// The first failure kept on this thread since the last reading, cleared by the reading; empty
// when there was none.
std::string takeKeptFailure();

// What the driver would hand HDF5 from the open file whose handle (as H5Fget_vfd_handle gives
// it) is handle: the container's bytes with the session's unwritten pages over them. False when
// no file is open under that handle or the read fails, with the reason in `error` when given.
bool readJournaled(const void* handle, std::uint64_t addr, std::size_t size, void* out,
                  std::string* error = nullptr);
// That file's length, the session's appends included; 0 when none is open under the handle.
std::uint64_t journaledLength(const void* handle);
// That session's first I/O failure (JournaledFile::failure); empty when there was none or no
// file is open under the handle.
std::string journaledFailure(const void* handle);

// What the file library remembers about the stored content of the open file under handle
// (JournaledFile::remembered): what an earlier session of the unchanged file left, else
// otherwise, which is then remembered. otherwise when no file is open under the handle.
std::shared_ptr<void> rememberedOf(const void* handle, const std::shared_ptr<void>& otherwise);

}  // namespace Quellmar::qmxfile

#endif
