#ifndef QUELLMAR_QMXFILE_LIBRARY_H
#define QUELLMAR_QMXFILE_LIBRARY_H

#include <mutex>

namespace Quellmar::qmxfile {

// The process-wide lock every entry point holds (see Call.h).
std::recursive_mutex& libraryMutex();

// Process-wide state of the library. Callers hold the library lock.
void ensureInitialised();
// The process is ending: closes every handle while HDF5 can still write the files, and
// from then on answers calls without touching HDF5 (QMXLgetSkipCleanup gives 1).
void beginProcessExit();
// What beginProcessExit runs first: closes what calls keep open between them (KeptItem.h),
// which would keep a file from closing and so from being written.
void releaseAtExit(void (*release)());
bool isExiting();
bool flushingEnabled();
void setFlushing(bool on);

}  // namespace Quellmar::qmxfile

#endif
