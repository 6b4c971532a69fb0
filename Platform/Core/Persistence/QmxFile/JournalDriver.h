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

namespace Quellmar::qmxfile {

// The registered driver (registered on first use); negative when HDF5 refuses.
hid_t journalDriverId();

// Puts the container driver on a file access property list: the journaled driver, or plain
// sec2 while the journal is switched off.
herr_t setContainerDriver(hid_t fapl);

}  // namespace Quellmar::qmxfile

#endif
