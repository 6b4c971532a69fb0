#include "SliceChecksums.h"

#include "ChecksumPath.h"
#include "Crc32c.h"
#include "Format.h"

#include <bit>
#include <limits>

namespace Quellmar::qmxfile {

namespace {

// The values before the slice CRCs: elements per slice, seal.
constexpr size_t kHeadValues = 2;

void putLittleEndian(std::vector<unsigned char>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

std::uint32_t sealContents(const StoredSlices& s, hsize_t count) {
    std::vector<unsigned char> head;
    head.reserve(12);
    putLittleEndian(head, s.perSlice, 4);
    putLittleEndian(head, count, 8);
    // The CRCs follow as little-endian 32-bit values: their layout in memory here, summed in
    // place rather than copied byte by byte on every read.
    static_assert(std::endian::native == std::endian::little, "CRCs are summed in place");
    return crc32c::Extend(crc32c::Value(head.data(), head.size()), s.crcs.data(),
                          4 * s.crcs.size());
}

hsize_t slicesFor(hsize_t count, hsize_t perSlice) {
    return perSlice == 0 ? 0 : (count + perSlice - 1) / perSlice;
}

// Writes `values` over the stored table when it has their length and this library's form: 1.
// Otherwise removes any stored table, for a new one to be made: 0. -1 on failure.
htri_t rewriteOrDrop(hid_t dataset, const std::vector<std::uint32_t>& values) {
    const htri_t exists = H5Aexists(dataset, kSliceChecksumAttribute);
    if (exists <= 0)
        return exists;
    Hid attribute(H5Aopen(dataset, kSliceChecksumAttribute, H5P_DEFAULT));
    Hid type(attribute ? H5Aget_type(attribute.get()) : H5I_INVALID_HID);
    Hid space(attribute ? H5Aget_space(attribute.get()) : H5I_INVALID_HID);
    if (!type || !space)
        return -1;
    // Only the exact stored form: another integer type would convert, and could clip, the CRCs.
    if (H5Tequal(type.get(), H5T_STD_U32LE) > 0 && H5Sget_simple_extent_ndims(space.get()) == 1 &&
        H5Sget_simple_extent_npoints(space.get()) == static_cast<hssize_t>(values.size())) {
        if (H5Awrite(attribute.get(), H5T_NATIVE_UINT32, values.data()) < 0)
            return -1;
        return attribute.close() < 0 ? -1 : 1;
    }
    if (attribute.close() < 0 || H5Adelete(dataset, kSliceChecksumAttribute) < 0)
        return -1;
    return 0;
}

}  // namespace

void pushSliceReason(const char* function, unsigned line, const std::string& reason) {
    H5Epush2(H5E_DEFAULT, __FILE__, function, line, H5E_ERR_CLS, H5E_DATASET, H5E_READERROR, "%s",
             reason.c_str());
}

hsize_t sliceElementsFor(hsize_t count, size_t elementSize) {
    hsize_t per = std::max<hsize_t>(1, kSliceBaseBytes / std::max<size_t>(1, elementSize));
    while (slicesFor(count, per) > kMaxSlices)
        per *= 2;
    return per;
}

bool extendible(hid_t dataset) {
    Hid dcpl(H5Dget_create_plist(dataset));
    if (!dcpl || H5Pget_layout(dcpl.get()) != H5D_CHUNKED)
        return false;
    Hid space(H5Dget_space(dataset));
    hsize_t maximum = 0;
    return space && H5Sget_simple_extent_ndims(space.get()) == 1 &&
           H5Sget_simple_extent_dims(space.get(), nullptr, &maximum) == 1 &&
           maximum == H5S_UNLIMITED;
}

bool wantsSlices(hid_t dataset, hsize_t count, size_t elementSize, bool mayBeExtendible) {
    if (count * elementSize >= kSlicedBytes)
        return true;
    return mayBeExtendible && extendible(dataset);
}

SliceState readSlices(hid_t dataset, StoredSlices& slices) {
    Hid attribute(H5Aopen(dataset, kSliceChecksumAttribute, H5P_DEFAULT));
    if (!attribute) {
        const htri_t exists = H5Aexists(dataset, kSliceChecksumAttribute);
        if (exists == 0)
            H5Eclear2(H5E_DEFAULT);  // the failed open's stack: not a failure
        return exists == 0 ? SliceState::Absent : SliceState::Unreadable;
    }
    // From a possibly damaged file: only read when its stored size is exactly what the
    // dataspace and the 4-byte type say, so nothing can overrun the buffer.
    Hid type(H5Aget_type(attribute.get()));
    Hid space(H5Aget_space(attribute.get()));
    if (!type || !space || H5Tget_class(type.get()) != H5T_INTEGER ||
        H5Tget_size(type.get()) != 4 || H5Sget_simple_extent_ndims(space.get()) != 1)
        return SliceState::Unreadable;
    const hssize_t points = H5Sget_simple_extent_npoints(space.get());
    if (points < static_cast<hssize_t>(kHeadValues) ||
        points > static_cast<hssize_t>(kMaxSlices + kHeadValues) ||
        H5Aget_storage_size(attribute.get()) != static_cast<hsize_t>(points) * 4)
        return SliceState::Unreadable;
    std::vector<std::uint32_t> values(static_cast<size_t>(points));
    if (H5Aread(attribute.get(), H5T_NATIVE_UINT32, values.data()) < 0)
        return SliceState::Unreadable;
    slices.perSlice = values[0];
    slices.seal = values[1];
    slices.crcs.assign(values.begin() + kHeadValues, values.end());
    return SliceState::Present;
}

bool slicesSealed(hid_t dataset, const StoredSlices& s, hsize_t count) {
    if (s.perSlice == 0 || slicesFor(count, s.perSlice) != s.crcs.size())
        return false;
    return checksumMatches(dataset, Covered::Item, sealContents(s, count), s.seal);
}

bool checkSlices(hid_t dataset, SliceState state, hsize_t count, const StoredSlices& slices) {
    if (state != SliceState::Present) {
        H5Eclear2(H5E_DEFAULT);
        pushSliceReason(__func__, __LINE__,
                        state == SliceState::Absent
                            ? "the checksum attribute is missing: the item is damaged"
                            : "the slice checksum attribute is unreadable: the item is damaged");
        return false;
    }
    if (!slicesSealed(dataset, slices, count)) {
        pushSliceReason(__func__, __LINE__,
                        "checksum mismatch: the slice checksums do not match the item: the item "
                        "is damaged");
        return false;
    }
    return true;
}

bool loadSlices(hid_t dataset, hsize_t count, StoredSlices& slices) {
    return checkSlices(dataset, readSlices(dataset, slices), count, slices);
}

herr_t writeSlices(hid_t dataset, const StoredSlices& s, hsize_t count, bool fresh,
                   const char* path) {
    if (s.perSlice == 0 || s.perSlice > std::numeric_limits<std::uint32_t>::max() ||
        slicesFor(count, s.perSlice) != s.crcs.size() || s.crcs.size() > kMaxSlices) {
        pushSliceReason(__func__, __LINE__, "the item has too many slices for its checksums");
        return -1;
    }
    std::uint32_t seal = 0;
    if (!sealChecksum(dataset, Covered::Item, sealContents(s, count), seal, path)) {
        pushSliceReason(__func__, __LINE__,
                        "the item's path is unknown, so its checksum cannot cover it");
        return -1;
    }
    std::vector<std::uint32_t> values;
    values.reserve(s.crcs.size() + kHeadValues);
    values.push_back(static_cast<std::uint32_t>(s.perSlice));
    values.push_back(seal);
    values.insert(values.end(), s.crcs.begin(), s.crcs.end());
    const hsize_t points = values.size();
    if (!fresh) {
        // A whole-item checksum the slices replace goes.
        const htri_t whole = H5Aexists(dataset, kChecksumAttribute);
        if (whole < 0 || (whole > 0 && H5Adelete(dataset, kChecksumAttribute) < 0))
            return -1;
        // A table that keeps its length (an append inside the last slice, an update of the
        // same size) is rewritten where it stands: HDF5 need not free it and find room for it
        // in the object header again.
        const htri_t kept = rewriteOrDrop(dataset, values);
        if (kept != 0)
            return kept > 0 ? 0 : -1;
    }
    Hid space(H5Screate_simple(1, &points, nullptr));
    Hid attribute(space ? H5Acreate2(dataset, kSliceChecksumAttribute, H5T_STD_U32LE, space.get(),
                                     H5P_DEFAULT, H5P_DEFAULT)
                        : H5I_INVALID_HID);
    if (!attribute || H5Awrite(attribute.get(), H5T_NATIVE_UINT32, values.data()) < 0)
        return -1;
    return attribute.close();
}

htri_t dropSlices(hid_t dataset) {
    const htri_t exists = H5Aexists(dataset, kSliceChecksumAttribute);
    if (exists <= 0)
        return exists;
    return H5Adelete(dataset, kSliceChecksumAttribute) < 0 ? -1 : 1;
}

}  // namespace Quellmar::qmxfile
