#ifndef QUELLMAR_QMXFILE_LIBRARY_H
#define QUELLMAR_QMXFILE_LIBRARY_H

namespace Quellmar::qmxfile {

// Process-wide state of the library. Callers hold the library lock.
void ensureInitialised();
bool isExiting();
bool flushingEnabled();
void setFlushing(bool on);

}  // namespace Quellmar::qmxfile

#endif
