#include "ItemChecksum.h"

#include "AttributeChecksum.h"
#include "ChecksumPath.h"
#include "Crc32c.h"
#include "DataItems.h"
#include "Format.h"
#include "TypeCodes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace Quellmar::qmxfile {
namespace {

// Pushes our own reason on HDF5's error stack, where the entry points pick up the innermost one.
void pushReason(const char* function, unsigned line, const char* reason) {
    H5Epush2(H5E_DEFAULT, __FILE__, function, line, H5E_ERR_CLS, H5E_DATASET, H5E_READERROR, "%s", reason);
}

std::uint32_t crcOf(const void* bytes, hsize_t count, size_t elementSize) {
    return crc32c::Value(bytes, static_cast<size_t>(count) * elementSize);
}


// Large contiguous items go through in slices of this size, each checksummed while it is
// still in the processor's cache: checksumming the whole item afterwards read it all from
// memory a second time.
constexpr size_t kSliceBytes = 1u << 20;

bool isContiguous(hid_t dataset) {
    Hid dcpl(H5Dget_create_plist(dataset));
    return dcpl && H5Pget_layout(dcpl.get()) == H5D_CONTIGUOUS;
}

// Calls io(memorySpace, fileSpace, first element, element count) for consecutive slices.
template <class Io>
bool forEachSlice(hid_t dataset, size_t elementSize, hsize_t count, Io io) {
    const hsize_t perSlice = std::max<hsize_t>(1, kSliceBytes / elementSize);
    Hid fileSpace(H5Dget_space(dataset));
    if (!fileSpace) return false;
    for (hsize_t start = 0; start < count; start += perSlice) {
        const hsize_t n = std::min(perSlice, count - start);
        Hid memorySpace(H5Screate_simple(1, &n, nullptr));
        if (!memorySpace || H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, &start, nullptr, &n, nullptr) < 0 ||
            !io(memorySpace.get(), fileSpace.get(), start, n))
            return false;
    }
    return true;
}

// The CRC of the item's elements as stored, read back in slices of 1 MiB into one
// small buffer: a whole-item scratch copy cost more in page faults than the read itself.
bool storedCrc(hid_t dataset, hid_t fileType, hsize_t count, std::uint32_t& crc) {
    const size_t elementSize = H5Tget_size(fileType);
    if (elementSize == 0) return false;
    const hsize_t perSlice = std::max<hsize_t>(1, kSliceBytes / elementSize);
    std::vector<unsigned char> slice(static_cast<size_t>(std::min(perSlice, count)) * elementSize);
    crc = 0;
    return forEachSlice(dataset, elementSize, count, [&](hid_t memorySpace, hid_t fileSpace, hsize_t, hsize_t n) {
        if (H5Dread(dataset, fileType, memorySpace, fileSpace, H5P_DEFAULT, slice.data()) < 0) return false;
        crc = crc32c::Extend(crc, slice.data(), static_cast<size_t>(n) * elementSize);
        return true;
    });
}

enum class Stored { Absent, Present, Unreadable };

// The stored checksum. The attribute comes from a possibly damaged file: it is read only when
// it is one integer, so a damaged extent cannot overrun the four-byte value.
Stored storedChecksum(hid_t dataset, std::uint32_t& value) {
    // Opened straight away; only a failure asks whether it is there at all.
    Hid attribute(H5Aopen(dataset, kChecksumAttribute, H5P_DEFAULT));
    if (!attribute) return H5Aexists(dataset, kChecksumAttribute) == 0 ? Stored::Absent : Stored::Unreadable;
    Hid type(attribute ? H5Aget_type(attribute.get()) : H5I_INVALID_HID);
    Hid space(attribute ? H5Aget_space(attribute.get()) : H5I_INVALID_HID);
    if (!type || !space || H5Tget_class(type.get()) != H5T_INTEGER || H5Tget_size(type.get()) != 4 ||
        H5Sget_simple_extent_npoints(space.get()) != 1)
        return Stored::Unreadable;
    return H5Aread(attribute.get(), H5T_NATIVE_UINT32, &value) < 0 ? Stored::Unreadable : Stored::Present;
}

// Whether the stored type is one this library writes (see FORMAT.md). HDF5 converts from
// whatever the header says, so a damaged type turns verified bytes into other values.
// Compound types are covered by the item's attribute checksum instead.
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
    case H5T_COMPOUND: return true;
    default: return false;
    }
}

// Whether the stored bytes cover `count` elements of `elementSize`. HDF5 1.10 trusts the size a
// compact or contiguous layout claims and reads past the stored bytes when a damaged header
// claims more elements than it holds. Chunked storage is smaller when compressed and has its
// own per-chunk checks; contiguous storage never allocated reads as fill values. The layout is
// only looked up when the stored size falls short.
bool storageCovers(hid_t dataset, hsize_t count, size_t elementSize) {
    if (elementSize == 0 || count > std::numeric_limits<hsize_t>::max() / elementSize) return false;
    const hsize_t needed = count * elementSize;
    const hsize_t stored = H5Dget_storage_size(dataset);
    if (stored >= needed) return true;
    Hid dcpl(H5Dget_create_plist(dataset));
    const H5D_layout_t layout = dcpl ? H5Pget_layout(dcpl.get()) : H5D_LAYOUT_ERROR;
    return layout == H5D_CHUNKED || (layout == H5D_CONTIGUOUS && stored == 0);
}

herr_t writeChecksum(hid_t dataset, std::uint32_t crc, bool fresh, const char* path) {
    std::uint32_t value = 0;
    if (!sealChecksum(dataset, crc, value, path)) {
        pushReason(__func__, __LINE__, "the item's path is unknown, so its checksum cannot cover it");
        return -1;
    }
    const htri_t exists = fresh ? 0 : H5Aexists(dataset, kChecksumAttribute);
    if (exists < 0) return -1;
    Hid attribute;
    if (exists > 0) {
        attribute = Hid(H5Aopen(dataset, kChecksumAttribute, H5P_DEFAULT));
    } else {
        Hid space(H5Screate(H5S_SCALAR));
        if (!space) return -1;
        attribute = Hid(H5Acreate2(dataset, kChecksumAttribute, H5T_STD_U32LE, space.get(), H5P_DEFAULT,
                                   H5P_DEFAULT));
    }
    if (!attribute || H5Awrite(attribute.get(), H5T_NATIVE_UINT32, &value) < 0) return -1;
    return attribute.close();
}

}  // namespace

herr_t writeChecked(hid_t dataset, hid_t memoryType, hsize_t count, const void* data, bool fresh,
                    const char* path) {
    if (count == 0) return storeChecksum(dataset, memoryType, count, data, fresh, path);
    const size_t size = H5Tget_size(memoryType);
    const size_t bytes = static_cast<size_t>(count) * size;
    Hid fileType(H5Dget_type(dataset));
    if (size == 0 || !fileType) return -1;
    if (bytes < 2 * kSliceBytes || H5Tequal(fileType.get(), memoryType) <= 0 || !isContiguous(dataset)) {
        if (H5Dwrite(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) < 0) return -1;
        return storeChecksum(dataset, memoryType, count, data, fresh, path);
    }
    const auto* in = static_cast<const unsigned char*>(data);
    std::uint32_t crc = 0;
    const bool written = forEachSlice(dataset, size, count, [&](hid_t memorySpace, hid_t fileSpace, hsize_t start, hsize_t n) {
        const unsigned char* slice = in + static_cast<size_t>(start) * size;
        crc = crc32c::Extend(crc, slice, static_cast<size_t>(n) * size);
        return H5Dwrite(dataset, memoryType, memorySpace, fileSpace, H5P_DEFAULT, slice) >= 0;
    });
    if (!written) return -1;
    ErrorKeeper keeper;
    if (writeChecksum(dataset, crc, fresh, path) < 0) {
        keeper.capture();
        return -1;
    }
    return 0;
}

herr_t storeChecksum(hid_t dataset, hid_t memoryType, hsize_t count, const void* data, bool fresh,
                     const char* path) {
    ErrorKeeper keeper;
    Hid fileType(H5Dget_type(dataset));
    if (!fileType) {
        keeper.capture();
        return -1;
    }
    std::uint32_t crc = 0;
    if (count > 0) {
        const htri_t same = H5Tequal(fileType.get(), memoryType);
        if (same > 0) {
            crc = crcOf(data, count, H5Tget_size(fileType.get()));
        } else if (same < 0 || !storedCrc(dataset, fileType.get(), count, crc)) {
            // HDF5 converted while writing; the stored bytes are what the checksum covers.
            keeper.capture();
            return -1;
        }
    }
    if (writeChecksum(dataset, crc, fresh, path) < 0) {
        keeper.capture();
        return -1;
    }
    return 0;
}

herr_t readChecked(hid_t dataset, hid_t memoryType, hsize_t count, void* data) {
    ErrorKeeper keeper;
    const size_t memorySize = H5Tget_size(memoryType);
    const size_t bytes = static_cast<size_t>(count) * memorySize;
    auto failed = [&] {
        if (data && bytes > 0) std::memset(data, 0, bytes);
        keeper.capture();
        return -1;
    };
    if (memorySize == 0) return failed();

    std::uint32_t expected = 0;
    const Stored stored = storedChecksum(dataset, expected);
    if (stored == Stored::Unreadable) {
        H5Eclear2(H5E_DEFAULT);
        pushReason(__func__, __LINE__, "the checksum attribute is unreadable: the item is damaged");
        return failed();
    }
    if (stored == Stored::Absent && checksumsRequired(dataset)) {
        H5Eclear2(H5E_DEFAULT);
        pushReason(__func__, __LINE__, "the checksum attribute is missing: the item is damaged");
        return failed();
    }
    if (count == 0) {
        // Nothing to read, but the attribute is still checked: empty contents sum to 0.
        if (stored == Stored::Absent || checksumMatches(dataset, 0, expected)) return 0;
        pushReason(__func__, __LINE__, "checksum mismatch: the stored data is damaged");
        return failed();
    }
    Hid fileType(H5Dget_type(dataset));
    if (!fileType) return failed();
    if (!storageCovers(dataset, count, H5Tget_size(fileType.get()))) {
        H5Eclear2(H5E_DEFAULT);
        pushReason(__func__, __LINE__, "the stored data is shorter than the item's size: the item is damaged");
        return failed();
    }
    // Records are matched by member name: a damaged record type reads other bytes as good.
    // The type is covered by the attribute checksum.
    if (H5Tget_class(fileType.get()) == H5T_COMPOUND && verifyAttributes(dataset) < 0) return failed();
    if (stored == Stored::Absent) {
        // Written before items carried checksums, or by another program: read as it is.
        return H5Dread(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) < 0 ? failed() : 0;
    }

    const htri_t same = H5Tequal(fileType.get(), memoryType);
    if (same < 0) return failed();
    bool good = false;
    if (same > 0) {
        // The common case needs no second buffer: check in place, zero on mismatch.
        if (bytes >= 2 * kSliceBytes && isContiguous(dataset)) {
            auto* out = static_cast<unsigned char*>(data);
            std::uint32_t crc = 0;
            const bool read = forEachSlice(dataset, memorySize, count, [&](hid_t memorySpace, hid_t fileSpace, hsize_t start, hsize_t n) {
                unsigned char* slice = out + static_cast<size_t>(start) * memorySize;
                if (H5Dread(dataset, memoryType, memorySpace, fileSpace, H5P_DEFAULT, slice) < 0) return false;
                crc = crc32c::Extend(crc, slice, static_cast<size_t>(n) * memorySize);
                return true;
            });
            if (!read) return failed();
            good = checksumMatches(dataset, crc, expected);
        } else {
            if (H5Dread(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) < 0) return failed();
            good = checksumMatches(dataset, crcOf(data, count, memorySize), expected);
        }
    } else {
        if (!writtenType(fileType.get()) && checksumsRequired(dataset)) {
            H5Eclear2(H5E_DEFAULT);
            pushReason(__func__, __LINE__, "the stored type is not one this library writes: the item is damaged");
            return failed();
        }
        std::uint32_t actual = 0;
        if (!storedCrc(dataset, fileType.get(), count, actual)) return failed();
        good = checksumMatches(dataset, actual, expected);
        // Verified: let HDF5 read again with conversion into the caller's buffer. Its own
        // conversion during the read is far faster than converting the whole item afterwards,
        // and the second read comes from the page cache.
        if (good && H5Dread(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) < 0)
            return failed();
    }
    if (!good) {
        pushReason(__func__, __LINE__, "checksum mismatch: the stored data is damaged");
        return failed();
    }
    return 0;
}

}  // namespace Quellmar::qmxfile
