#include "FreeLists.h"

#include <hdf5.h>

namespace Quellmar::qmxfile {

std::size_t spareHdf5Blocks() {
    size_t regular = 0, arrays = 0, blocks = 0, factories = 0;
    if (H5get_free_list_sizes(&regular, &arrays, &blocks, &factories) < 0)
        return 0;
    return regular + arrays + blocks + factories;
}

void releaseSpareHdf5Blocks() {
    // Only memory nothing refers to is released; a failure leaves the lists as they were.
    if (spareHdf5Blocks() > kSpareHdf5BlockLimit)
        H5garbage_collect();
}

}  // namespace Quellmar::qmxfile
