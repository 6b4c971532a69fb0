#include "ItemDamage.h"

#include "Format.h"
#include "Hid.h"
#include "TypeCodes.h"

#include <limits>
#include <optional>

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
Coverage lastChunkStored(hid_t dataset, hid_t dcpl, hsize_t count) {
    hsize_t chunk = 0;
    if (H5Pget_chunk(dcpl, 1, &chunk) != 1 || chunk == 0)
        return Coverage::Short;
    if (count == 0)
        return Coverage::Covered;
    const hsize_t offset = (count - 1) / chunk * chunk;
    hsize_t bytes = 0;  // 0 for a chunk never written
    // HDF5 1.10 fails this query for a chunk never written too; only a failed read of the file
    // leaves the driver's read error on the stack. (The chunk's info by coordinate tells both
    // apart, but walks more of the index the more chunks there are.)
    if (H5Dget_chunk_storage_size(dataset, &offset, &bytes) < 0)
        return failedReading() ? Coverage::Unknown : Coverage::Short;
    return bytes > 0 ? Coverage::Covered : Coverage::Short;
}

}  // namespace

bool failedReading() {
    bool found = false;
    H5Ewalk2(
        H5E_DEFAULT, H5E_WALK_UPWARD,
        [](unsigned, const H5E_error2_t* error, void* data) -> herr_t {
            // Only the file layer's report: this library's own checks push their findings
            // as read errors of a dataset or an attribute.
            if (error->min_num == H5E_READERROR &&
                (error->maj_num == H5E_VFL || error->maj_num == H5E_IO))
                *static_cast<bool*>(data) = true;
            return 0;
        },
        &found);
    return found;
}

Coverage storedCoverage(hid_t dataset, hsize_t count, size_t elementSize) {
    if (elementSize == 0 || count > std::numeric_limits<hsize_t>::max() / elementSize)
        return Coverage::Short;
    const hsize_t needed = count * elementSize;
    if (needed > static_cast<hsize_t>(std::numeric_limits<long long>::max()))
        return Coverage::Short;
    // Contiguous storage knows its size; so does compact, which only small claims can be.
    // Only contiguous storage has an offset (none yet when never allocated).
    std::optional<haddr_t> offset;
    if (needed > kSmallClaim)
        offset = H5Dget_offset(dataset);
    if (needed <= kSmallClaim || *offset != HADDR_UNDEF) {
        if (H5Dget_storage_size(dataset) >= needed)
            return Coverage::Covered;
    }
    ErrorKeeper keeper;  // an Unknown's reason outlives closing the property list
    Hid dcpl(H5Dget_create_plist(dataset));
    if (!dcpl) {
        keeper.capture();
        return Coverage::Unknown;
    }
    const H5D_layout_t layout = H5Pget_layout(dcpl.get());
    if (layout == H5D_CONTIGUOUS) {  // never allocated: reads as fill
        if (!offset)
            offset = H5Dget_offset(dataset);
        return *offset == HADDR_UNDEF ? Coverage::Covered : Coverage::Short;
    }
    if (layout != H5D_CHUNKED)
        return Coverage::Short;
    // Compressed chunks hold fewer bytes than they stand for, so chunks are checked instead of
    // bytes. Other programs may leave chunks unwritten (they read as fill values).
    if (!checksumsRequired(dataset))
        return Coverage::Covered;
    const Coverage last = lastChunkStored(dataset, dcpl.get(), count);
    if (last == Coverage::Unknown)
        keeper.capture();
    return last;
}

}  // namespace Quellmar::qmxfile
