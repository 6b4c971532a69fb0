#ifndef QUELLMAR_QMXFILE_FREELISTS_H
#define QUELLMAR_QMXFILE_FREELISTS_H

#include <cstddef>

namespace Quellmar::qmxfile {

// HDF5 keeps the blocks it frees on free lists of its own, for reuse. A large unit of work
// (thousands of objects created or read) leaves megabytes there, scattered over the heap among
// what is still in use, and every later small unit ran up to a quarter slower among them
// (glibc's malloc touching cold chunks). Called when a file closes: gives the lists back to the
// C library once they hold more than kSpareHdf5BlockLimit, which small units never leave (a unit
// that opens one file and reads or writes a few items leaves about 0.3 MB).
inline constexpr std::size_t kSpareHdf5BlockLimit = std::size_t{1} << 20;
void releaseSpareHdf5Blocks();

// Bytes the lists hold now (0 when HDF5 cannot tell).
std::size_t spareHdf5Blocks();

}  // namespace Quellmar::qmxfile

#endif
