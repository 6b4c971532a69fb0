#include "ItemChecksum.h"

#include "AttributeChecksum.h"
#include "Crc32c.h"
#include "DataItems.h"
#include "Format.h"
#include "TypeCodes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
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

// The element bytes converted from one type to another; empty on failure. Compound
// conversions take members missing from the source from a zeroed background.
std::optional<std::vector<unsigned char>> convert(hid_t from, hid_t to, hsize_t count, const void* data) {
    const size_t fromSize = H5Tget_size(from);
    const size_t toSize = H5Tget_size(to);
    if (fromSize == 0 || toSize == 0) return std::nullopt;
    std::vector<unsigned char> buffer(static_cast<size_t>(count) * std::max(fromSize, toSize));
    std::vector<unsigned char> background(static_cast<size_t>(count) * toSize);
    std::memcpy(buffer.data(), data, static_cast<size_t>(count) * fromSize);
    if (H5Tconvert(from, to, static_cast<size_t>(count), buffer.data(), background.data(), H5P_DEFAULT) < 0)
        return std::nullopt;
    buffer.resize(static_cast<size_t>(count) * toSize);
    return buffer;
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

herr_t writeChecksum(hid_t dataset, std::uint32_t value, bool fresh) {
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

herr_t storeChecksum(hid_t dataset, hid_t memoryType, hsize_t count, const void* data, bool fresh) {
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
        } else {
            auto stored = same < 0 ? std::nullopt : convert(memoryType, fileType.get(), count, data);
            if (!stored) {
                keeper.capture();
                return -1;
            }
            crc = crc32c::Value(stored->data(), stored->size());
        }
    }
    if (writeChecksum(dataset, crc, fresh) < 0) {
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
        // Nothing to read, but the attribute is still checked: an empty item sums to 0.
        if (stored == Stored::Absent || expected == 0) return 0;
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
        if (H5Dread(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) < 0) return failed();
        good = crcOf(data, count, memorySize) == expected;
    } else {
        if (!writtenType(fileType.get()) && checksumsRequired(dataset)) {
            H5Eclear2(H5E_DEFAULT);
            pushReason(__func__, __LINE__, "the stored type is not one this library writes: the item is damaged");
            return failed();
        }
        const size_t fileSize = H5Tget_size(fileType.get());
        if (fileSize == 0) return failed();
        std::vector<unsigned char> raw(static_cast<size_t>(count) * fileSize);
        if (H5Dread(dataset, fileType.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, raw.data()) < 0) return failed();
        good = crcOf(raw.data(), count, fileSize) == expected;
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
