#include "ItemChecksum.h"

#include "AttributeChecksum.h"
#include "ChecksumPath.h"
#include "Crc32c.h"
#include "Format.h"
#include "ItemDamage.h"
#include "SliceChecksums.h"
#include "SlicedIo.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

namespace Quellmar::qmxfile {
namespace {

// Pushes our own reason on HDF5's error stack, where the entry points pick up the innermost one.
void pushReason(const char* function, unsigned line, const char* reason) {
    H5Epush2(H5E_DEFAULT, __FILE__, function, line, H5E_ERR_CLS, H5E_DATASET, H5E_READERROR, "%s",
             reason);
}

enum class Stored { Absent, Present, Unreadable };

// The stored checksum. The attribute comes from a possibly damaged file: it is read only when
// it is one 4-byte integer, so a damaged extent cannot overrun the four-byte value. HDF5
// derives an attribute's storage size from its dataspace and type, so 4 bytes of a 4-byte
// type is exactly one element.
Stored storedChecksum(hid_t dataset, std::uint32_t& value) {
    // Opened straight away; only a failure asks whether it is there at all.
    Hid attribute(H5Aopen(dataset, kChecksumAttribute, H5P_DEFAULT));
    if (!attribute)
        return H5Aexists(dataset, kChecksumAttribute) == 0 ? Stored::Absent : Stored::Unreadable;
    Hid type(H5Aget_type(attribute.get()));
    if (!type || H5Tget_class(type.get()) != H5T_INTEGER || H5Tget_size(type.get()) != 4 ||
        H5Aget_storage_size(attribute.get()) != 4)
        return Stored::Unreadable;
    return H5Aread(attribute.get(), H5T_NATIVE_UINT32, &value) < 0 ? Stored::Unreadable
                                                                   : Stored::Present;
}

// The scalar dataspace of every checksum attribute, made once (HDF5 copies it into each).
hid_t scalarSpace() {
    static hid_t s_space = H5I_INVALID_HID;
    // Library lock held. HDF5 may have been shut down and set up again since.
    if (s_space >= 0 && H5Iis_valid(s_space) > 0)
        return s_space;
    s_space = H5Screate(H5S_SCALAR);
    return s_space;
}

herr_t writeChecksum(hid_t dataset, std::uint32_t crc, bool fresh, const char* path) {
    std::uint32_t value = 0;
    if (!sealChecksum(dataset, Covered::Item, crc, value, path)) {
        pushReason(__func__, __LINE__,
                   "the item's path is unknown, so its checksum cannot cover it");
        return -1;
    }
    const htri_t exists = fresh ? 0 : H5Aexists(dataset, kChecksumAttribute);
    if (exists < 0 || (!fresh && dropSlices(dataset) < 0))
        return -1;
    Hid attribute;
    if (exists > 0) {
        attribute = Hid(H5Aopen(dataset, kChecksumAttribute, H5P_DEFAULT));
    } else {
        const hid_t space = scalarSpace();
        if (space < 0)
            return -1;
        attribute = Hid(H5Acreate2(dataset, kChecksumAttribute, H5T_STD_U32LE, space, H5P_DEFAULT,
                                   H5P_DEFAULT));
    }
    if (!attribute || H5Awrite(attribute.get(), H5T_NATIVE_UINT32, &value) < 0)
        return -1;
    return attribute.close();
}

}  // namespace

namespace {

herr_t writeWith(hid_t dataset, hid_t fileType, hid_t memoryType, hsize_t count, const void* data,
                 bool fresh, const char* path) {
    if (count == 0)
        return storeChecksum(dataset, memoryType, count, data, fresh, path);
    const size_t size = H5Tget_size(memoryType);
    const size_t bytes = static_cast<size_t>(count) * size;
    if (size == 0)
        return -1;
    // Mostly the very same identifier (blobs, strings): no comparison needed.
    const htri_t same = fileType == memoryType ? 1 : H5Tequal(fileType, memoryType);
    if (same < 0)
        return -1;
    const auto* in = static_cast<const unsigned char*>(data);
    const size_t fileSize = H5Tget_size(fileType);
    std::optional<SliceCrcs> sliced;
    hsize_t perSlice = 0;
    if (wantsSlices(dataset, count, fileSize, !fresh)) {
        perSlice = sliceElementsFor(count, fileSize);
        sliced.emplace(static_cast<size_t>(perSlice) * fileSize);
    }
    SliceCrcs* slices = sliced ? &*sliced : nullptr;
    std::uint32_t crc = 0;
    if (same > 0 && bytes >= kConcurrentBytes) {
        if (!writeChecksummed(dataset, memoryType, size, count, in, crc, slices))
            return -1;
    } else if (same > 0) {
        if (H5Dwrite(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) < 0)
            return -1;
        sumInto(crc, slices, in, bytes);
    } else if (selfContained(fileType) && selfContained(memoryType)) {
        if (!writeConverted(dataset, fileType, memoryType, count, in, crc, slices))
            return -1;
    } else {
        if (H5Dwrite(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) < 0)
            return -1;
        return storeChecksum(dataset, memoryType, count, data, fresh, path);
    }
    ErrorKeeper keeper;
    if ((sliced ? writeSlices(dataset, StoredSlices{perSlice, sliced->crcs()}, count, fresh, path)
                : writeChecksum(dataset, crc, fresh, path)) < 0) {
        keeper.capture();
        return -1;
    }
    return 0;
}

}  // namespace

herr_t writeChecked(hid_t dataset, hid_t memoryType, hsize_t count, const void* data, bool fresh,
                    const char* path) {
    if (count == 0)
        return storeChecksum(dataset, memoryType, count, data, fresh, path);
    Hid fileType(H5Dget_type(dataset));
    if (!fileType)
        return -1;
    return writeWith(dataset, fileType.get(), memoryType, count, data, fresh, path);
}

herr_t writeFresh(hid_t dataset, hid_t fileType, hid_t memoryType, hsize_t count, const void* data,
                  const std::string& path) {
    return writeWith(dataset, fileType, memoryType, count, data, true, path.c_str());
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
    const size_t fileSize = H5Tget_size(fileType.get());
    std::optional<SliceCrcs> sliced;
    hsize_t perSlice = 0;
    if (wantsSlices(dataset, count, fileSize, !fresh)) {
        perSlice = sliceElementsFor(count, fileSize);
        sliced.emplace(static_cast<size_t>(perSlice) * fileSize);
    }
    SliceCrcs* slices = sliced ? &*sliced : nullptr;
    if (count > 0) {
        const htri_t same = H5Tequal(fileType.get(), memoryType);
        if (same > 0) {
            sumInto(crc, slices, data, static_cast<size_t>(count) * fileSize);
        } else if (same < 0 || !readConverted(dataset, fileType.get(), fileType.get(), count,
                                              nullptr, crc, slices)) {
            // HDF5 converted while writing; the stored bytes are what the checksum covers.
            keeper.capture();
            return -1;
        }
    }
    if ((sliced ? writeSlices(dataset, StoredSlices{perSlice, sliced->crcs()}, count, fresh, path)
                : writeChecksum(dataset, crc, fresh, path)) < 0) {
        keeper.capture();
        return -1;
    }
    return 0;
}

int sealItem(hid_t dataset) {
    ErrorKeeper keeper;
    auto refuse = [&](const char* reason) {
        H5Eclear2(H5E_DEFAULT);
        pushReason(__func__, __LINE__, reason);
        keeper.capture();
        return -1;
    };
    std::uint32_t ignored = 0;
    const Stored stored = storedChecksum(dataset, ignored);
    if (stored == Stored::Present)
        return 0;
    if (stored == Stored::Unreadable)
        return refuse("the checksum attribute is unreadable: the item is damaged");
    StoredSlices present;
    const SliceState slicesState = readSlices(dataset, present);
    if (slicesState == SliceState::Present)
        return 0;
    if (slicesState == SliceState::Unreadable)
        return refuse("the slice checksum attribute is unreadable: the item is damaged");
    Hid fileType(H5Dget_type(dataset));
    const long long count = elementCount(dataset);
    if (!fileType || count < 0) {
        keeper.capture();
        return -1;
    }
    if (!selfContained(fileType.get()))
        return refuse(
            "its values live outside its elements (variable-length data or references), "
            "which no checksum of this library covers");
    switch (storedCoverage(dataset, static_cast<hsize_t>(count), H5Tget_size(fileType.get()))) {
        case Coverage::Covered:
            break;
        case Coverage::Short:
            return refuse("the stored data is shorter than the item's size: the item is damaged");
        case Coverage::Unknown:
            keeper.capture();
            return -1;
    }
    std::uint32_t crc = 0;
    const size_t fileSize = H5Tget_size(fileType.get());
    const auto n = static_cast<hsize_t>(count);
    std::optional<SliceCrcs> sliced;
    hsize_t perSlice = 0;
    if (wantsSlices(dataset, n, fileSize, true)) {
        perSlice = sliceElementsFor(n, fileSize);
        sliced.emplace(static_cast<size_t>(perSlice) * fileSize);
    }
    if (count > 0 && !readConverted(dataset, fileType.get(), fileType.get(), n, nullptr, crc,
                                    sliced ? &*sliced : nullptr)) {
        keeper.capture();
        return -1;
    }
    if ((sliced ? writeSlices(dataset, StoredSlices{perSlice, sliced->crcs()}, n, true)
                : writeChecksum(dataset, crc, true, nullptr)) < 0) {
        keeper.capture();
        return -1;
    }
    return 1;
}

herr_t readChecked(hid_t dataset, hid_t memoryType, hsize_t count, void* data,
                   const char* path) {
    ErrorKeeper keeper;
    const size_t memorySize = H5Tget_size(memoryType);
    size_t bytes = 0;
    // Zeroed only once the count is known to be covered by what is stored: a damaged
    // dataspace claims more elements than the caller's buffer (sized by the size queries,
    // which check the same) holds, and nothing has reached the buffer before that.
    auto failed = [&] {
        if (data && bytes > 0)
            std::memset(data, 0, bytes);
        keeper.capture();
        return -1;
    };
    if (memorySize == 0)
        return failed();
    Hid fileType(H5Dget_type(dataset));
    if (!fileType)
        return failed();
    if (count > 0) {
        const Coverage coverage = storedCoverage(dataset, count, H5Tget_size(fileType.get()));
        if (coverage == Coverage::Short) {
            H5Eclear2(H5E_DEFAULT);
            pushReason(__func__, __LINE__,
                       "the stored data is shorter than the item's size: the item is damaged");
        }
        if (coverage != Coverage::Covered)
            return failed();
    }
    if (count > std::numeric_limits<size_t>::max() / memorySize)
        return failed();
    bytes = static_cast<size_t>(count) * memorySize;

    std::uint32_t expected = 0;
    // Large items written now carry slice checksums: looked for first, so their reads do not
    // pay for a failed lookup of the whole-item checksum.
    StoredSlices expectedSlices;
    SliceState sliceState = SliceState::Absent;
    if (count * H5Tget_size(fileType.get()) >= kSlicedBytes)
        sliceState = readSlices(dataset, expectedSlices);
    Stored stored = sliceState == SliceState::Absent ? storedChecksum(dataset, expected)
                                                     : Stored::Absent;
    if (stored == Stored::Unreadable) {
        H5Eclear2(H5E_DEFAULT);
        pushReason(__func__, __LINE__, "the checksum attribute is unreadable: the item is damaged");
        return failed();
    }
    // Large and appended items carry slice checksums instead; items of any size written with a
    // whole-item checksum keep being read by it.
    std::optional<SliceCrcs> sliced;
    if (stored == Stored::Absent) {
        const SliceState state =
            sliceState == SliceState::Absent ? readSlices(dataset, expectedSlices) : sliceState;
        if (state != SliceState::Absent) {
            // Checked against the element count before any data is read: the seal covers the
            // count, so a damaged one cannot make a read skip slices.
            if (!checkSlices(dataset, state, count, expectedSlices))
                return failed();
            stored = Stored::Present;
            sliced.emplace(static_cast<size_t>(expectedSlices.perSlice) *
                           H5Tget_size(fileType.get()));
        }
    }
    SliceCrcs* slices = sliced ? &*sliced : nullptr;
    if (stored == Stored::Absent && checksumsRequired(dataset)) {
        H5Eclear2(H5E_DEFAULT);
        pushReason(__func__, __LINE__, "the checksum attribute is missing: the item is damaged");
        return failed();
    }
    if (count == 0) {
        // Nothing to read, but the attribute is still checked: empty contents sum to 0.
        if (stored == Stored::Absent || slices ||
            checksumMatches(dataset, Covered::Item, 0, expected, path))
            return 0;
        pushReason(__func__, __LINE__, "checksum mismatch: the stored data is damaged");
        return failed();
    }
    // Records are matched by member name: a damaged record type reads other bytes as good.
    // The type is covered by the attribute checksum.
    if (H5Tget_class(fileType.get()) == H5T_COMPOUND && verifyAttributes(dataset) < 0)
        return failed();
    if (stored == Stored::Absent) {
        // Written before items carried checksums, or by another program: read as it is.
        return H5Dread(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) < 0 ? failed() : 0;
    }
    auto matches = [&](std::uint32_t actual) {
        return slices ? slices->crcs() == expectedSlices.crcs
                      : checksumMatches(dataset, Covered::Item, actual, expected, path);
    };

    const htri_t same = H5Tequal(fileType.get(), memoryType);
    if (same < 0)
        return failed();
    auto* out = static_cast<unsigned char*>(data);
    std::uint32_t actual = 0;
    if (same > 0) {
        // The common case needs no second buffer: check in place, zero on mismatch.
        // Large items in slices, each summed on the checksum thread while the next is read
        // (and, when compressed, decompressed).
        const hsize_t perSlice =
            bytes >= kConcurrentBytes ? readSliceElements(dataset, memorySize) : 0;
        if (perSlice > 0) {
            if (!readConcurrently(dataset, memoryType, memorySize, count, perSlice, out, actual,
                                  slices))
                return failed();
        } else {
            if (H5Dread(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) < 0)
                return failed();
            sumInto(actual, slices, out, bytes);
        }
    } else {
        if (!writtenType(fileType.get()) && checksumsRequired(dataset)) {
            H5Eclear2(H5E_DEFAULT);
            pushReason(__func__, __LINE__,
                       "the stored type is not one this library writes: the item is damaged");
            return failed();
        }
        if (selfContained(fileType.get()) && selfContained(memoryType)) {
            if (!readConverted(dataset, fileType.get(), memoryType, count, out, actual, slices))
                return failed();
        } else {
            // Verify the stored bytes first, then let HDF5 convert what lives outside the elements.
            if (!readConverted(dataset, fileType.get(), fileType.get(), count, nullptr, actual,
                               slices))
                return failed();
            if (matches(actual) &&
                H5Dread(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) < 0)
                return failed();
        }
    }
    if (!matches(actual)) {
        pushReason(__func__, __LINE__, "checksum mismatch: the stored data is damaged");
        return failed();
    }
    return 0;
}

}  // namespace Quellmar::qmxfile
