#ifndef QUELLMAR_QMXFILE_JOURNALDRIVER_H
#define QUELLMAR_QMXFILE_JOURNALDRIVER_H

// The HDF5 file driver under every container file: POSIX I/O like HDF5's sec2 driver, with
// flock file locking, plus a rollback journal (Journal.h) that makes each read-write session a
// transaction. The session commits when HDF5 closes the file: the container is synced and the
// journal deleted. Any open that finds a journal left by a crashed writer rolls the container
// back first, under an exclusive lock.
//
// A file locked by another process is refused at once with "File NAME is in use by another
// process"; there is no waiting.

#include "JournalControl.h"

#include <hdf5.h>

#include <cstddef>
#include <cstdint>

namespace Quellmar::qmxfile {

// The registered driver (registered on first use); negative when HDF5 refuses.
hid_t journalDriverId();

// Puts the container driver on a file access property list: the journaled driver, or plain
// sec2 while the journal is switched off.
herr_t setContainerDriver(hid_t fapl);

// Whether commits sync the journal before overwriting and the container before deleting the
// journal (power-loss safe) or skip the syncs (process-crash safe only): QMXLsetflush decides.
bool journalSync();

// What the driver would hand HDF5 from the open file whose handle (as H5Fget_vfd_handle gives
// it) is handle: the container's bytes with the session's unwritten pages over them. False when
// no file is open under that handle or the read fails.
bool readJournaled(const void* handle, std::uint64_t addr, std::size_t size, void* out);
// That file's length, the session's appends included; 0 when none is open under the handle.
std::uint64_t journaledLength(const void* handle);

}  // namespace Quellmar::qmxfile

#endif
