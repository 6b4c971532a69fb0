#ifndef QUELLMAR_QMXFILE_SCRATCH_H
#define QUELLMAR_QMXFILE_SCRATCH_H

#include <cstddef>
#include <memory>

namespace Quellmar::qmxfile {

// Reads that checksum behind the read go in slices of this size: the worker then finds each
// slice still in the shared cache. Larger slices made it read them from memory again, which
// on a machine bound by memory bandwidth costs as much as the read itself. Conversions go
// through a scratch buffer of the same size, which stays in the cache.
inline constexpr size_t kSliceBytes = size_t{1} << 20;

// Scratch space kept by each thread between calls. Fresh pages cost a page fault each; for a
// buffer of a MiB that took longer than the conversion through it. Unusually large requests
// (single elements beyond a slice) get a buffer of their own.
class ScratchSpace {
public:
    // At least `bytes` of uninitialised memory, valid until the next get or release.
    unsigned char* get(size_t bytes);
    // Frees a buffer of its own given to an unusually large request.
    void release() { m_once.reset(); }

private:
    std::unique_ptr<unsigned char[]> m_kept, m_once;
    size_t m_size = 0;
};

// The calling thread's scratch space for converted elements, for the background buffer HDF5's
// record conversion needs, and the second slice buffer of reads and writes that convert on the
// checksum thread while the next slice moves.
ScratchSpace& scratchSpace();
ScratchSpace& backgroundSpace();
ScratchSpace& secondSliceSpace();

}  // namespace Quellmar::qmxfile

#endif
