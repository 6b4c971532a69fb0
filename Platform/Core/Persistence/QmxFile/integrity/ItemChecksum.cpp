#include "ItemChecksum.h"

#include "AttributeChecksum.h"
#include "ChecksumPath.h"
#include "ConcurrentCrc.h"
#include "RecordCopy.h"
#include "Crc32c.h"
#include "Format.h"
#include "TypeCodes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
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

// Items at least this large are checksummed on a second thread while HDF5 moves their bytes.
constexpr size_t kConcurrentBytes = size_t{2} << 20;

// Reads that checksum behind the read go in slices of this size: the worker then finds each
// slice still in the shared cache. Larger slices made it read them from memory again, which
// on a machine bound by memory bandwidth costs as much as the read itself. Conversions go
// through a scratch buffer of the same size, which stays in the cache.
constexpr size_t kSliceBytes = size_t{1} << 20;

bool isContiguous(hid_t dataset) {
    Hid dcpl(H5Dget_create_plist(dataset));
    return dcpl && H5Pget_layout(dcpl.get()) == H5D_CONTIGUOUS;
}

// Types whose values live outside the element (variable-length data, references) cannot be
// converted apart from the file; they take HDF5's own conversion during the read or write.
bool selfContained(hid_t type) {
    return H5Tdetect_class(type, H5T_VLEN) == 0 && H5Tis_variable_str(type) == 0 &&
           H5Tdetect_class(type, H5T_REFERENCE) == 0;
}

// Calls io(memorySpace, fileSpace, first element, element count) for consecutive slices.
template <class Io>
bool forEachSlice(hid_t dataset, size_t sliceBytes, size_t elementSize, hsize_t count, Io io) {
    const hsize_t perSlice = std::max<hsize_t>(1, sliceBytes / elementSize);
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

// Scratch space kept by each thread between calls. Fresh pages cost a page fault each; for a
// buffer of a MiB that took longer than the conversion through it. Unusually large requests
// (single elements beyond a slice) get a buffer of their own.
class ScratchSpace {
public:
    unsigned char* get(size_t bytes) {
        if (bytes <= m_size) return m_kept.get();
        if (bytes > 2 * kSliceBytes) {
            m_once = std::make_unique_for_overwrite<unsigned char[]>(bytes);
            return m_once.get();
        }
        m_kept = std::make_unique_for_overwrite<unsigned char[]>(bytes);
        m_size = bytes;
        return m_kept.get();
    }
    void release() { m_once.reset(); }

private:
    std::unique_ptr<unsigned char[]> m_kept, m_once;
    size_t m_size = 0;
};
thread_local ScratchSpace t_scratch, t_background;

// One slice's worth of scratch space for converting between the stored and the caller's type.
// Conversion happens in place, so the buffer holds the larger of both; records that need
// HDF5's conversion also need a background buffer in the destination type. Not zeroed: every
// byte is written before it is used.
struct Conversion {
    size_t fileSize, memorySize;
    bool records;
    hsize_t perSlice;
    size_t bytes;
    unsigned char* scratch;
    unsigned char* background;

    Conversion(hid_t fileType, hid_t memoryType, hsize_t count)
        : fileSize(H5Tget_size(fileType)), memorySize(H5Tget_size(memoryType)),
          records(H5Tget_class(fileType) == H5T_COMPOUND || H5Tget_class(memoryType) == H5T_COMPOUND),
          perSlice(std::min<hsize_t>(count, std::max<size_t>(1, kSliceBytes / std::max<size_t>(1, std::max(fileSize, memorySize))))),
          bytes(static_cast<size_t>(perSlice) * std::max(fileSize, memorySize)),
          scratch(t_scratch.get(bytes)), background(nullptr) {}
    ~Conversion() {
        t_scratch.release();
        t_background.release();
    }
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;
    bool valid() const { return fileSize > 0 && memorySize > 0; }
    // Only HDF5's record conversion uses it; moved records do not.
    void* backgroundFor() {
        if (records && !background) background = t_background.get(bytes);
        return background;
    }
};

// Reads the stored elements slice by slice into scratch space, checksums them there and, when
// `out` is given, converts them into it. One pass instead of a checking read and a converting
// read of the whole item.
bool readConverted(hid_t dataset, hid_t fileType, hid_t memoryType, hsize_t count, unsigned char* out,
                   std::uint32_t& crc) {
    Conversion c(fileType, memoryType, count);
    if (!c.valid()) return false;
    const std::optional<RecordCopy> moves = out ? RecordCopy::plan(fileType, memoryType) : std::nullopt;
    return forEachSlice(dataset, c.perSlice * c.fileSize, c.fileSize, count,
                        [&](hid_t memorySpace, hid_t fileSpace, hsize_t start, hsize_t n) {
        if (H5Dread(dataset, fileType, memorySpace, fileSpace, H5P_DEFAULT, c.scratch) < 0) return false;
        crc = crc32c::Extend(crc, c.scratch, static_cast<size_t>(n) * c.fileSize);
        if (!out) return true;
        unsigned char* target = out + static_cast<size_t>(start) * c.memorySize;
        if (moves) {
            moves->run(c.scratch, target, static_cast<size_t>(n));
            return true;
        }
        const size_t targetBytes = static_cast<size_t>(n) * c.memorySize;
        // Members the stored records lack keep what the caller's buffer holds, as with H5Dread.
        void* background = c.backgroundFor();
        if (background) std::memcpy(background, target, targetBytes);
        if (H5Tconvert(fileType, memoryType, n, c.scratch, background, H5P_DEFAULT) < 0)
            return false;
        std::memcpy(target, c.scratch, targetBytes);
        return true;
    });
}

// Converts the caller's elements slice by slice into the stored type, checksums and writes them
// from scratch space: HDF5 would convert during the write and the checksum would need the
// stored bytes read back.
bool writeConverted(hid_t dataset, hid_t fileType, hid_t memoryType, hsize_t count, const unsigned char* in,
                    std::uint32_t& crc) {
    Conversion c(fileType, memoryType, count);
    if (!c.valid()) return false;
    const std::optional<RecordCopy> moves = RecordCopy::plan(memoryType, fileType);
    return forEachSlice(dataset, c.perSlice * c.memorySize, c.memorySize, count,
                        [&](hid_t memorySpace, hid_t fileSpace, hsize_t start, hsize_t n) {
        const unsigned char* source = in + static_cast<size_t>(start) * c.memorySize;
        if (moves) {
            // Stored members the caller's records lack are written as zeros, never as old scratch.
            if (!moves->coversDestination()) std::memset(c.scratch, 0, static_cast<size_t>(n) * c.fileSize);
            moves->run(source, c.scratch, static_cast<size_t>(n));
        } else {
            std::memcpy(c.scratch, source, static_cast<size_t>(n) * c.memorySize);
            void* background = c.backgroundFor();
            if (background) std::memset(background, 0, c.bytes);
            if (H5Tconvert(memoryType, fileType, n, c.scratch, background, H5P_DEFAULT) < 0)
                return false;
        }
        crc = crc32c::Extend(crc, c.scratch, static_cast<size_t>(n) * c.fileSize);
        return H5Dwrite(dataset, fileType, memorySpace, fileSpace, H5P_DEFAULT, c.scratch) >= 0;
    });
}

// Reads a large contiguous item in slices straight into the caller's buffer; a second thread
// checksums each slice while the next one is read.
bool readConcurrently(hid_t dataset, hid_t memoryType, size_t elementSize, hsize_t count, unsigned char* out,
                      std::uint32_t& crc) {
    ConcurrentCrc sum(crc);
    const bool read = forEachSlice(dataset, kSliceBytes, elementSize, count,
                                   [&](hid_t memorySpace, hid_t fileSpace, hsize_t start, hsize_t n) {
        unsigned char* slice = out + static_cast<size_t>(start) * elementSize;
        if (H5Dread(dataset, memoryType, memorySpace, fileSpace, H5P_DEFAULT, slice) < 0) return false;
        sum.add(slice, static_cast<size_t>(n) * elementSize);
        return true;
    });
    // Also on failure the worker is done with the buffer before the caller clears it.
    crc = sum.value();
    return read;
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

}  // namespace

bool storageCovers(hid_t dataset, hsize_t count, size_t elementSize) {
    if (elementSize == 0 || count > std::numeric_limits<hsize_t>::max() / elementSize) return false;
    const hsize_t needed = count * elementSize;
    if (needed > static_cast<hsize_t>(std::numeric_limits<long long>::max())) return false;
    const hsize_t stored = H5Dget_storage_size(dataset);
    if (stored >= needed) return true;
    Hid dcpl(H5Dget_create_plist(dataset));
    const H5D_layout_t layout = dcpl ? H5Pget_layout(dcpl.get()) : H5D_LAYOUT_ERROR;
    if (layout == H5D_CONTIGUOUS) return stored == 0;
    if (layout != H5D_CHUNKED) return false;
    // Compressed chunks hold fewer bytes than they stand for, but this library writes every
    // element, so in its files every chunk the size asks for is there; a damaged dataspace
    // claiming more elements asks for chunks that are not. Other programs may leave chunks
    // unwritten (they read as fill values).
    if (!checksumsRequired(dataset)) return true;
    hsize_t chunk = 0;
    if (H5Pget_chunk(dcpl.get(), 1, &chunk) != 1 || chunk == 0) return false;
    hsize_t chunks = 0;
    Hid space(H5Dget_space(dataset));  // HDF5 1.10 takes no H5S_ALL here
    if (!space || H5Dget_num_chunks(dataset, space.get(), &chunks) < 0) return false;
    return chunks >= count / chunk + (count % chunk != 0 ? 1 : 0);
}

namespace {

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
    const htri_t same = H5Tequal(fileType.get(), memoryType);
    if (same < 0) return -1;
    const auto* in = static_cast<const unsigned char*>(data);
    std::uint32_t crc = 0;
    if (same > 0 && bytes >= kConcurrentBytes) {
        ConcurrentCrc sum(crc);
        sum.add(in, bytes);
        const herr_t written = H5Dwrite(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data);
        crc = sum.value();
        if (written < 0) return -1;
    } else if (same > 0) {
        if (H5Dwrite(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) < 0) return -1;
        crc = crc32c::Extend(crc, in, bytes);
    } else if (selfContained(fileType.get()) && selfContained(memoryType)) {
        if (!writeConverted(dataset, fileType.get(), memoryType, count, in, crc)) return -1;
    } else {
        if (H5Dwrite(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) < 0) return -1;
        return storeChecksum(dataset, memoryType, count, data, fresh, path);
    }
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
        } else if (same < 0 || !readConverted(dataset, fileType.get(), fileType.get(), count, nullptr, crc)) {
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
    if (stored == Stored::Present) return 0;
    if (stored == Stored::Unreadable) return refuse("the checksum attribute is unreadable: the item is damaged");
    Hid fileType(H5Dget_type(dataset));
    const long long count = elementCount(dataset);
    if (!fileType || count < 0) {
        keeper.capture();
        return -1;
    }
    if (!selfContained(fileType.get()))
        return refuse("its values live outside its elements (variable-length data or references), "
                      "which no checksum of this library covers");
    if (!storageCovers(dataset, static_cast<hsize_t>(count), H5Tget_size(fileType.get())))
        return refuse("the stored data is shorter than the item's size: the item is damaged");
    std::uint32_t crc = 0;
    if (count > 0 && !readConverted(dataset, fileType.get(), fileType.get(), static_cast<hsize_t>(count), nullptr, crc)) {
        keeper.capture();
        return -1;
    }
    if (writeChecksum(dataset, crc, true, nullptr) < 0) {
        keeper.capture();
        return -1;
    }
    return 1;
}

herr_t readChecked(hid_t dataset, hid_t memoryType, hsize_t count, void* data) {
    ErrorKeeper keeper;
    const size_t memorySize = H5Tget_size(memoryType);
    size_t bytes = 0;
    // Zeroed only once the count is known to be covered by what is stored: a damaged
    // dataspace claims more elements than the caller's buffer (sized by the size queries,
    // which check the same) holds, and nothing has reached the buffer before that.
    auto failed = [&] {
        if (data && bytes > 0) std::memset(data, 0, bytes);
        keeper.capture();
        return -1;
    };
    if (memorySize == 0) return failed();
    Hid fileType(H5Dget_type(dataset));
    if (!fileType) return failed();
    if (count > 0 && !storageCovers(dataset, count, H5Tget_size(fileType.get()))) {
        H5Eclear2(H5E_DEFAULT);
        pushReason(__func__, __LINE__, "the stored data is shorter than the item's size: the item is damaged");
        return failed();
    }
    if (count > std::numeric_limits<size_t>::max() / memorySize) return failed();
    bytes = static_cast<size_t>(count) * memorySize;

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
    // Records are matched by member name: a damaged record type reads other bytes as good.
    // The type is covered by the attribute checksum.
    if (H5Tget_class(fileType.get()) == H5T_COMPOUND && verifyAttributes(dataset) < 0) return failed();
    if (stored == Stored::Absent) {
        // Written before items carried checksums, or by another program: read as it is.
        return H5Dread(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) < 0 ? failed() : 0;
    }

    const htri_t same = H5Tequal(fileType.get(), memoryType);
    if (same < 0) return failed();
    auto* out = static_cast<unsigned char*>(data);
    std::uint32_t actual = 0;
    if (same > 0) {
        // The common case needs no second buffer: check in place, zero on mismatch.
        if (bytes >= kConcurrentBytes && isContiguous(dataset)) {
            if (!readConcurrently(dataset, memoryType, memorySize, count, out, actual)) return failed();
        } else {
            if (H5Dread(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) < 0) return failed();
            actual = crc32c::Extend(actual, out, bytes);
        }
    } else {
        if (!writtenType(fileType.get()) && checksumsRequired(dataset)) {
            H5Eclear2(H5E_DEFAULT);
            pushReason(__func__, __LINE__, "the stored type is not one this library writes: the item is damaged");
            return failed();
        }
        if (selfContained(fileType.get()) && selfContained(memoryType)) {
            if (!readConverted(dataset, fileType.get(), memoryType, count, out, actual)) return failed();
        } else {
            // Verify the stored bytes first, then let HDF5 convert what lives outside the elements.
            if (!readConverted(dataset, fileType.get(), fileType.get(), count, nullptr, actual)) return failed();
            if (checksumMatches(dataset, actual, expected) &&
                H5Dread(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) < 0)
                return failed();
        }
    }
    const bool good = checksumMatches(dataset, actual, expected);
    if (!good) {
        pushReason(__func__, __LINE__, "checksum mismatch: the stored data is damaged");
        return failed();
    }
    return 0;
}

}  // namespace Quellmar::qmxfile
