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

namespace {

// Compact data lives in the object header, which holds less than this; a claim below it is
// checked by the stored size, cheap for every layout at that size.
constexpr hsize_t kSmallClaim = 64 * 1024;

// Whether the chunk holding the last of `count` elements is stored. This library writes every
// element, in order, so a damaged dataspace claiming more elements asks for a chunk that is
// not there. One index lookup: HDF5's stored-size and chunk-count queries walk every chunk,
// which an item that is appended to again and again would pay on each access.
bool lastChunkStored(hid_t dataset, hid_t dcpl, hsize_t count) {
    hsize_t chunk = 0;
    if (H5Pget_chunk(dcpl, 1, &chunk) != 1 || chunk == 0)
        return false;
    if (count == 0)
        return true;
    const hsize_t offset = (count - 1) / chunk * chunk;
    hsize_t bytes = 0;  // 0 for a chunk never written
    return H5Dget_chunk_storage_size(dataset, &offset, &bytes) >= 0 && bytes > 0;
}

}  // namespace

bool storageCovers(hid_t dataset, hsize_t count, size_t elementSize) {
    if (elementSize == 0 || count > std::numeric_limits<hsize_t>::max() / elementSize)
        return false;
    const hsize_t needed = count * elementSize;
    if (needed > static_cast<hsize_t>(std::numeric_limits<long long>::max()))
        return false;
    // Contiguous storage knows its size; so does compact, which only small claims can be.
    if (needed <= kSmallClaim || H5Dget_offset(dataset) != HADDR_UNDEF) {
        if (H5Dget_storage_size(dataset) >= needed)
            return true;
    }
    Hid dcpl(H5Dget_create_plist(dataset));
    const H5D_layout_t layout = dcpl ? H5Pget_layout(dcpl.get()) : H5D_LAYOUT_ERROR;
    if (layout == H5D_CONTIGUOUS)
        return H5Dget_offset(dataset) == HADDR_UNDEF;  // never allocated: reads as fill
    if (layout != H5D_CHUNKED)
        return false;
    // Compressed chunks hold fewer bytes than they stand for, so chunks are checked instead of
    // bytes. Other programs may leave chunks unwritten (they read as fill values).
    if (!checksumsRequired(dataset))
        return true;
    return lastChunkStored(dataset, dcpl.get(), count);
}

}  // namespace Quellmar::qmxfile
