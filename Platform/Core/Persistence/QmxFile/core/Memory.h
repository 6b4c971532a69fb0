#ifndef QUELLMAR_QMXFILE_MEMORY_H
#define QUELLMAR_QMXFILE_MEMORY_H

#include <cstddef>
#include <string>
#include <vector>

namespace Quellmar::qmxfile {

// Buffers handed to callers are remembered until they come back, so that a buffer
// released twice (two wrapper copies of one pointer) or a foreign pointer is ignored
// instead of corrupting the heap. Callers hold the library lock.
char* allocateString(const std::string& text);
// A list of strings: the array and every string are tracked.
char** allocateStrings(const std::vector<std::string>& texts);
void* allocateArray(std::size_t bytes);
// Frees a tracked buffer; false when the pointer is not one of ours (or already freed).
bool releaseTracked(void* pointer);
bool isTracked(void* pointer);
std::size_t trackedBufferCount();

}  // namespace Quellmar::qmxfile

#endif
