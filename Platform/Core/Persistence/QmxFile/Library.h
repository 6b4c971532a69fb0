#ifndef QUELLMAR_QMXFILE_LIBRARY_H
#define QUELLMAR_QMXFILE_LIBRARY_H

namespace Quellmar::qmxfile {

// Process-wide state of the library. Callers hold the library lock.
void ensureInitialised();
// The process is ending: closes every handle while HDF5 can still write the files, and
// from then on answers calls without touching HDF5 (QMXLgetSkipCleanup gives 1).
void beginProcessExit();
bool isExiting();
bool flushingEnabled();
void setFlushing(bool on);

}  // namespace Quellmar::qmxfile

#endif
