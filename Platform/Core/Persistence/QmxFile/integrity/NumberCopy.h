// Converts numbers between the stored type and the caller's with a plain loop where the result
// is known bit for bit: HDF5's own conversion of a slice costs a call through its type machinery
// and a copy out of its buffer, several times the loop.
#ifndef QUELLMAR_QMXFILE_NUMBERCOPY_H
#define QUELLMAR_QMXFILE_NUMBERCOPY_H

#include <hdf5.h>

#include <cstddef>

namespace Quellmar::qmxfile {

// Converts `count` elements from `from` to `to`; the two do not overlap.
using NumberLoop = void (*)(const unsigned char* from, unsigned char* to, std::size_t count);

// The loop from type `from` to type `to` (native byte order) when this library has one that
// gives exactly HDF5's values; nullptr otherwise, and HDF5 converts.
NumberLoop numberLoop(hid_t from, hid_t to);

// The loops themselves, for the tests to hold against HDF5.
// Doubles beyond the float range become infinities of their sign, as HDF5 makes them (a plain
// cast would round those just above the largest float down to it); NaNs stay NaNs.
void doublesToFloats(const unsigned char* from, unsigned char* to, std::size_t count);
void floatsToDoubles(const unsigned char* from, unsigned char* to, std::size_t count);

}  // namespace Quellmar::qmxfile

#endif
