#include "Appends.h"

#include "AttributeIO.h"
#include "ChecksumPath.h"
#include "Crc32c.h"
#include "DataItems.h"
#include "Filters.h"
#include "Format.h"
#include "HeaderCheck.h"
#include "ItemChecksum.h"
#include "Layout.h"
#include "SliceChecksums.h"
#include "SliceCrcs.h"
#include "SlicedIo.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

namespace Quellmar::qmxfile {

namespace {

// Chunks of an appended item: large enough that HDF5's chunk index stays small over many
// appends, apart from the (smaller) slices its checksums cover. A small item gets smaller
// chunks: every chunk is stored whole, and a few appended numbers must not cost 64 KiB each.
constexpr size_t kAppendChunkBytes = size_t{64} << 10;
constexpr size_t kSmallestAppendChunkBytes = size_t{8} << 10;

// Elements per chunk for an item of `elements` (what it holds after its first append).
hsize_t appendChunkFor(hsize_t elements, size_t elementSize) {
    const size_t size = std::max<size_t>(1, elementSize);
    size_t bytes = kAppendChunkBytes;
    if (elements < kAppendChunkBytes / size)
        bytes = std::clamp(std::bit_ceil(static_cast<size_t>(elements) * size),
                           kSmallestAppendChunkBytes, kAppendChunkBytes);
    return std::max<hsize_t>(1, bytes / size);
}

using Bytes = std::unique_ptr<unsigned char[]>;

Bytes allocate(size_t bytes) {
    return Bytes(new unsigned char[std::max<size_t>(1, bytes)]);
}

// The caller's elements in the stored type, as updates convert them (members a record type
// lacks would be zeros; the entry points refuse such record types for appends).
Bytes toStored(hid_t fileType, hid_t memoryType, hsize_t count, const void* data) {
    const size_t fileSize = H5Tget_size(fileType), memorySize = H5Tget_size(memoryType);
    const size_t n = static_cast<size_t>(count);
    Bytes buffer = allocate(n * std::max(fileSize, memorySize));
    std::memcpy(buffer.get(), data, n * memorySize);
    const htri_t same = H5Tequal(fileType, memoryType);
    if (same > 0)
        return buffer;
    Bytes background;
    if (H5Tget_class(fileType) == H5T_COMPOUND) {
        background = allocate(n * std::max(fileSize, memorySize));
        std::memset(background.get(), 0, n * std::max(fileSize, memorySize));
    }
    if (same < 0 ||
        H5Tconvert(memoryType, fileType, n, buffer.get(), background.get(), H5P_DEFAULT) < 0)
        return nullptr;
    return buffer;
}

// Appends stored elements to an extendible dataset of `stored` elements whose verified slice
// checksums are `slices`: only the new elements are written, the last slice's CRC is extended
// from its stored value and new slices are added. `path` as for writeSlices.
herr_t extend(hid_t dataset, hid_t fileType, hsize_t stored, const StoredSlices& slices,
              const unsigned char* bytes, hsize_t count, const char* path) {
    ErrorKeeper keeper;
    const size_t fileSize = H5Tget_size(fileType);
    const hsize_t total = stored + count;
    const size_t sliceBytes = static_cast<size_t>(slices.perSlice) * fileSize;
    const size_t lastBytes =
        slices.crcs.empty() ? 0
                            : static_cast<size_t>(stored) * fileSize -
                                  (slices.crcs.size() - 1) * sliceBytes;
    SliceCrcs sums(sliceBytes, slices.crcs, lastBytes);
    sums.add(bytes, static_cast<size_t>(count) * fileSize);
    while (sums.crcs().size() > kMaxSlices)
        sums.doubleSlices(static_cast<size_t>(total) * fileSize);
    const StoredSlices grown{sums.sliceBytes() / fileSize, sums.crcs()};
    // A table of another length needs new room in the header. HDF5 keeps no free space from
    // one session to the next, so an old table freed after the new chunks were placed stayed
    // unused in the file for good: 10 MB over 1,000 appends of 80 KB. Dropped first, it gives
    // its room (at the file's end since the last append) back, and the new table goes after
    // the new chunks, at the end again.
    const bool moves = grown.crcs.size() != slices.crcs.size();
    const htri_t dropped = moves ? dropSlices(dataset) : 0;
    if (dropped < 0) {
        keeper.capture();
        return -1;
    }
    auto undo = [&] {
        keeper.capture();
        H5Dset_extent(dataset, &stored);
        if (dropped > 0)
            writeSlices(dataset, slices, stored, false, path);
        return -1;
    };
    if (H5Dset_extent(dataset, &total) < 0 ||
        !writeStoredRange(dataset, fileType, stored, count, bytes) ||
        (moves && H5Dflush(dataset) < 0) || writeSlices(dataset, grown, total, false, path) < 0)
        return undo();
    return 0;
}

// A copy of the item in an extendible layout, not linked yet, with its attributes, elements
// and slice checksums; `slices` receives those, `oldCount` the element count. `appending`
// elements follow: the chunks are sized for both.
Hid moveToExtendible(hid_t loc, hid_t old, hid_t fileType, hsize_t appending, hsize_t& oldCount,
                     StoredSlices& slices) {
    const long long n = elementCount(old);
    if (n < 0)
        return Hid();
    oldCount = static_cast<hsize_t>(n);
    const size_t fileSize = H5Tget_size(fileType);
    // Verified before it moves: damage must not be sealed into the new checksums.
    Bytes bytes = allocate(static_cast<size_t>(oldCount) * fileSize);
    if (readChecked(old, fileType, oldCount, bytes.get()) < 0)
        return Hid();
    const LayoutRequest request = requestOf(old, oldCount);
    const hsize_t chunk = appendChunkFor(oldCount + appending, fileSize);
    Hid dcpl = extendibleProperties(request, chunk);
    const hsize_t maximum = H5S_UNLIMITED;
    Hid space(H5Screate_simple(1, &oldCount, &maximum));
    if (!dcpl || !space)
        return Hid();
    Hid fresh(H5Dcreate_anon(loc, fileType, space.get(), dcpl.get(), H5P_DEFAULT));
    if (!fresh)
        return Hid();
    trustNewObject(fresh.get());
    // The copied checksums are the old item's: new ones follow with the first append.
    if (copyAttributes(old, fresh.get()) < 0 || dropSlices(fresh.get()) < 0 ||
        (attributeExists(fresh.get(), kChecksumAttribute) > 0 &&
         H5Adelete(fresh.get(), kChecksumAttribute) < 0))
        return Hid();
    if (oldCount > 0 &&
        H5Dwrite(fresh.get(), fileType, H5S_ALL, H5S_ALL, H5P_DEFAULT, bytes.get()) < 0)
        return Hid();
    slices.perSlice = sliceElementsFor(oldCount, fileSize);
    SliceCrcs sums(static_cast<size_t>(slices.perSlice) * fileSize);
    sums.add(bytes.get(), static_cast<size_t>(oldCount) * fileSize);
    slices.crcs = sums.crcs();
    return fresh;
}

}  // namespace

herr_t appendItem(hid_t loc, const Path& path, Hid item, hid_t memoryType, hsize_t count,
                  const void* data) {
    ErrorKeeper keeper;
    auto failed = [&] {
        keeper.capture();
        return -1;
    };
    // Closed here, inside the keeper's scope: closing an item whose filter is missing adds
    // HDF5 errors of its own, which must not replace the reason kept.
    Hid old = std::move(item);
    Hid fileType(old ? H5Dget_type(old.get()) : H5I_INVALID_HID);
    if (!fileType)
        return failed();
    // The stored chunks are read back (the last one is extended, a first append moves them all):
    // without a filter's plugin that fails, so say which plugin before anything is changed.
    if (explainMissingFilter(old.get()))
        return failed();
    Bytes bytes = toStored(fileType.get(), memoryType, count, data);
    if (!bytes)
        return failed();
    if (extendible(old.get())) {
        const long long n = elementCount(old.get());
        StoredSlices slices;
        if (n < 0 || !loadSlices(old.get(), static_cast<hsize_t>(n), slices) ||
            extend(old.get(), fileType.get(), static_cast<hsize_t>(n), slices, bytes.get(), count,
                   nullptr) < 0 ||
            old.close() < 0)
            return failed();
        return 0;
    }
    // Once: the item moves to an extendible layout under its name.
    hsize_t stored = 0;
    StoredSlices slices;
    Hid fresh = moveToExtendible(loc, old.get(), fileType.get(), count, stored, slices);
    if (!fresh)
        return failed();
    const std::string fullPath = objectPath(old.get());
    if (extend(fresh.get(), fileType.get(), stored, slices, bytes.get(), count,
               fullPath.c_str()) < 0)
        return failed();
    old.close();
    if (replaceItem(loc, path, fresh) < 0)
        return failed();
    return 0;
}

herr_t truncateItem(hid_t loc, const Path& path, hsize_t count) {
    ErrorKeeper keeper;
    auto failed = [&] {
        keeper.capture();
        return -1;
    };
    if (!checkPath(loc, path))
        return failed();
    Hid dataset(H5Dopen2(loc, path.text().c_str(), H5P_DEFAULT));
    Hid fileType(dataset ? H5Dget_type(dataset.get()) : H5I_INVALID_HID);
    const long long n = dataset ? elementCount(dataset.get()) : -1;
    if (!fileType || n < 0)
        return failed();
    const auto total = static_cast<hsize_t>(n);
    if (count > total) {
        pushSliceReason(__func__, __LINE__, "the item is shorter than that");
        return failed();
    }
    if (count == total)
        return 0;
    const size_t fileSize = H5Tget_size(fileType.get());
    if (!extendible(dataset.get())) {
        // Rewritten from its verified first elements.
        Bytes bytes = allocate(static_cast<size_t>(total) * fileSize);
        if (readChecked(dataset.get(), fileType.get(), total, bytes.get()) < 0)
            return failed();
        dataset.close();
        if (updateItem(loc, path, fileType.get(), count, bytes.get()) < 0)
            return failed();
        return 0;
    }
    StoredSlices slices;
    if (!loadSlices(dataset.get(), total, slices))
        return failed();
    const hsize_t per = slices.perSlice;
    slices.crcs.resize(static_cast<size_t>((count + per - 1) / per));
    if (count % per != 0) {
        // The slice the new end falls in: checked as it is, then summed up to the new end.
        const hsize_t k = count / per, from = k * per, to = std::min(total, from + per);
        Bytes bytes = allocate(static_cast<size_t>(to - from) * fileSize);
        Hid fileSpace(H5Dget_space(dataset.get()));
        const hsize_t length = to - from;
        Hid memorySpace(H5Screate_simple(1, &length, nullptr));
        if (!fileSpace || !memorySpace ||
            H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, &from, nullptr, &length,
                                nullptr) < 0 ||
            H5Dread(dataset.get(), fileType.get(), memorySpace.get(), fileSpace.get(), H5P_DEFAULT,
                    bytes.get()) < 0)
            return failed();
        if (crc32c::Value(bytes.get(), static_cast<size_t>(length) * fileSize) !=
            slices.crcs.back()) {
            H5Eclear2(H5E_DEFAULT);
            pushSliceReason(__func__, __LINE__, "checksum mismatch: the stored data is damaged");
            return failed();
        }
        slices.crcs.back() =
            crc32c::Value(bytes.get(), static_cast<size_t>(count - from) * fileSize);
    }
    if (H5Dset_extent(dataset.get(), &count) < 0 ||
        writeSlices(dataset.get(), slices, count, false) < 0 || dataset.close() < 0)
        return failed();
    return 0;
}

}  // namespace Quellmar::qmxfile
