#include "RangeRead.h"

#include "AttributeChecksum.h"
#include "ChecksumPath.h"
#include "Crc32c.h"
#include "Format.h"
#include "ItemDamage.h"
#include "SliceChecksums.h"
#include "SlicedIo.h"
#include "StoredElements.h"

#include <cstring>
#include <memory>
#include <optional>

namespace Quellmar::qmxfile {

namespace {

void pushReason(const char* function, unsigned line, const char* reason) {
    H5Eclear2(H5E_DEFAULT);
    pushSliceReason(function, line, reason);
}

// Converts `count` stored elements into the caller's buffer as whole reads do: records
// matched by member name, members the stored records lack keeping what the buffer holds.
bool convertInto(hid_t fileType, hid_t memoryType, hsize_t count, const unsigned char* stored,
                 unsigned char* out) {
    const size_t fileSize = H5Tget_size(fileType), memorySize = H5Tget_size(memoryType);
    const size_t n = static_cast<size_t>(count);
    const htri_t same = H5Tequal(fileType, memoryType);
    if (same < 0)
        return false;
    if (same > 0) {
        std::memcpy(out, stored, n * fileSize);
        return true;
    }
    const size_t wider = std::max(fileSize, memorySize);
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[n * wider]);
    std::memcpy(buffer.get(), stored, n * fileSize);
    std::unique_ptr<unsigned char[]> background;
    if (H5Tget_class(fileType) == H5T_COMPOUND || H5Tget_class(memoryType) == H5T_COMPOUND) {
        background.reset(new unsigned char[n * wider]);
        std::memcpy(background.get(), out, n * memorySize);
    }
    if (H5Tconvert(fileType, memoryType, n, buffer.get(), background.get(), H5P_DEFAULT) < 0)
        return false;
    std::memcpy(out, buffer.get(), n * memorySize);
    return true;
}

}  // namespace

herr_t readRangeChecked(hid_t dataset, hid_t memoryType, hsize_t total, hsize_t first,
                        hsize_t count, void* data, bool* attributesVerified,
                        std::shared_ptr<const SealedSlices>* sealed) {
    ErrorKeeper keeper;
    auto* out = static_cast<unsigned char*>(data);
    const size_t memorySize = H5Tget_size(memoryType);
    auto failed = [&] {
        if (out && memorySize > 0)
            std::memset(out, 0, static_cast<size_t>(count) * memorySize);
        keeper.capture();
        return -1;
    };
    if (count == 0)
        return 0;
    Hid fileType(H5Dget_type(dataset));
    if (!fileType || memorySize == 0)
        return failed();
    const size_t fileSize = H5Tget_size(fileType.get());
    const Coverage coverage = storedCoverage(dataset, total, fileSize);
    if (coverage == Coverage::Short)
        pushReason(__func__, __LINE__,
                   "the stored data is shorter than the item's size: the item is damaged");
    if (coverage != Coverage::Covered)
        return failed();
    const bool records = H5Tget_class(fileType.get()) == H5T_COMPOUND;
    if (records && !(attributesVerified && *attributesVerified)) {
        if (verifyAttributes(dataset) < 0)
            return failed();
        if (attributesVerified)
            *attributesVerified = true;
    }
    const htri_t same = H5Tequal(fileType.get(), memoryType);
    if (same < 0)
        return failed();
    if (same == 0 && !records && !writtenType(fileType.get()) && checksumsRequired(dataset)) {
        pushReason(__func__, __LINE__,
                   "the stored type is not one this library writes: the item is damaged");
        return failed();
    }
    if (!selfContained(fileType.get())) {
        pushReason(__func__, __LINE__,
                   "its values live outside its elements, which no range read verifies");
        return failed();
    }

    // Which checksum the item carries.
    std::shared_ptr<const SealedSlices> known =
        sealed && *sealed && (*sealed)->count == total ? *sealed : nullptr;
    if (!known) {
        auto found = std::make_shared<SealedSlices>();
        found->count = total;
        const SliceState sliceState = readSlices(dataset, found->slices);
        if (sliceState != SliceState::Absent) {
            if (!checkSlices(dataset, sliceState, total, found->slices))
                return failed();
            known = std::move(found);
            if (sealed)
                *sealed = known;
        }
    }
    if (known) {
        const StoredSlices& slices = known->slices;
        // Only the slices the range touches are read and checked.
        const hsize_t per = slices.perSlice;
        const hsize_t firstSlice = first / per, lastSlice = (first + count - 1) / per;
        const hsize_t start = firstSlice * per;
        const hsize_t end = std::min(total, (lastSlice + 1) * per);
        std::unique_ptr<unsigned char[]> stored(
            new unsigned char[static_cast<size_t>(end - start) * fileSize]);
        const StoredElements elements(dataset, fileSize, total);
        if (!(elements.direct() ? elements.readDirect(start, end - start, stored.get())
                                : readStoredRange(dataset, fileType.get(), start, end - start,
                                             stored.get())))
            return failed();
        for (hsize_t k = firstSlice; k <= lastSlice; ++k) {
            const hsize_t from = k * per, to = std::min(total, from + per);
            const std::uint32_t crc =
                crc32c::Value(stored.get() + static_cast<size_t>(from - start) * fileSize,
                              static_cast<size_t>(to - from) * fileSize);
            if (crc != slices.crcs[static_cast<size_t>(k)]) {
                pushReason(__func__, __LINE__, "checksum mismatch: the stored data is damaged");
                return failed();
            }
        }
        if (!convertInto(fileType.get(), memoryType, count,
                         stored.get() + static_cast<size_t>(first - start) * fileSize, out))
            return failed();
        return 0;
    }

    // One checksum over the whole item (written before slice checksums, or small): the whole
    // item is checked first.
    Hid attribute(H5Aopen(dataset, kChecksumAttribute, H5P_DEFAULT));
    if (attribute) {
        std::uint32_t expected = 0, actual = 0;
        Hid type(H5Aget_type(attribute.get()));
        if (!type || H5Tget_class(type.get()) != H5T_INTEGER || H5Tget_size(type.get()) != 4 ||
            H5Aget_storage_size(attribute.get()) != 4 ||
            H5Aread(attribute.get(), H5T_NATIVE_UINT32, &expected) < 0) {
            pushReason(__func__, __LINE__,
                       "the checksum attribute is unreadable: the item is damaged");
            return failed();
        }
        if (!readConverted(dataset, fileType.get(), fileType.get(), total, nullptr, actual))
            return failed();
        if (!checksumMatches(dataset, Covered::Item, actual, expected)) {
            pushReason(__func__, __LINE__, "checksum mismatch: the stored data is damaged");
            return failed();
        }
    } else if (H5Aexists(dataset, kChecksumAttribute) != 0) {
        pushReason(__func__, __LINE__, "the checksum attribute is unreadable: the item is damaged");
        return failed();
    } else if (checksumsRequired(dataset)) {
        pushReason(__func__, __LINE__, "the checksum attribute is missing: the item is damaged");
        return failed();
    }
    H5Eclear2(H5E_DEFAULT);
    std::unique_ptr<unsigned char[]> stored(new unsigned char[static_cast<size_t>(count) * fileSize]);
    if (!readStoredRange(dataset, fileType.get(), first, count, stored.get()) ||
        !convertInto(fileType.get(), memoryType, count, stored.get(), out))
        return failed();
    return 0;
}

}  // namespace Quellmar::qmxfile
