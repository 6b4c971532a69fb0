#include "ItemDamage.h"

#include "Format.h"
#include "Hid.h"
#include "TypeCodes.h"

#include <limits>

namespace Quellmar::qmxfile {

bool writtenType(hid_t type) {
    switch (H5Tget_class(type)) {
        case H5T_INTEGER:
        case H5T_FLOAT: {
            const int code = codeOfType(type);
            return code >= 0 && H5Tequal(type, fileTypeOf(code)) > 0;
        }
        case H5T_OPAQUE: {
            Hid ours = makeOpaqueType();
            return ours && H5Tequal(type, ours.get()) > 0;
        }
        case H5T_STRING: {
            Hid ours = makeStringType();
            return ours && H5Tequal(type, ours.get()) > 0;
        }
        case H5T_COMPOUND:
            return true;
        default:
            return false;
    }
}

bool storageCovers(hid_t dataset, hsize_t count, size_t elementSize) {
    if (elementSize == 0 || count > std::numeric_limits<hsize_t>::max() / elementSize)
        return false;
    const hsize_t needed = count * elementSize;
    if (needed > static_cast<hsize_t>(std::numeric_limits<long long>::max()))
        return false;
    const hsize_t stored = H5Dget_storage_size(dataset);
    if (stored >= needed)
        return true;
    Hid dcpl(H5Dget_create_plist(dataset));
    const H5D_layout_t layout = dcpl ? H5Pget_layout(dcpl.get()) : H5D_LAYOUT_ERROR;
    if (layout == H5D_CONTIGUOUS)
        return stored == 0;
    if (layout != H5D_CHUNKED)
        return false;
    // Compressed chunks hold fewer bytes than they stand for, but this library writes every
    // element, so in its files every chunk the size asks for is there; a damaged dataspace
    // claiming more elements asks for chunks that are not. Other programs may leave chunks
    // unwritten (they read as fill values).
    if (!checksumsRequired(dataset))
        return true;
    hsize_t chunk = 0;
    if (H5Pget_chunk(dcpl.get(), 1, &chunk) != 1 || chunk == 0)
        return false;
    hsize_t chunks = 0;
    Hid space(H5Dget_space(dataset));  // HDF5 1.10 takes no H5S_ALL here
    if (!space || H5Dget_num_chunks(dataset, space.get(), &chunks) < 0)
        return false;
    return chunks >= count / chunk + (count % chunk != 0 ? 1 : 0);
}

}  // namespace Quellmar::qmxfile
