#include "Scratch.h"

namespace Quellmar::qmxfile {

unsigned char* ScratchSpace::get(size_t bytes) {
    if (bytes <= m_size)
        return m_kept.get();
    if (bytes > 2 * kSliceBytes) {
        m_once = std::make_unique_for_overwrite<unsigned char[]>(bytes);
        return m_once.get();
    }
    m_kept = std::make_unique_for_overwrite<unsigned char[]>(bytes);
    m_size = bytes;
    return m_kept.get();
}

ScratchSpace& scratchSpace() {
    thread_local ScratchSpace space;
    return space;
}

ScratchSpace& secondSliceSpace() {
    thread_local ScratchSpace space;
    return space;
}

ScratchSpace& backgroundSpace() {
    thread_local ScratchSpace space;
    return space;
}

}  // namespace Quellmar::qmxfile
