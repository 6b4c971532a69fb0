#include "SlicedIo.h"

#include "ConcurrentCrc.h"
#include "Crc32c.h"
#include "Hid.h"
#include "NumberCopy.h"
#include "RecordCopy.h"
#include "Scratch.h"
#include "StoredElements.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

namespace Quellmar::qmxfile {

namespace {

// Calls io(memorySpace, fileSpace, first element, element count) for consecutive slices.
template <class Io>
bool forEachSlice(hid_t dataset, size_t sliceBytes, size_t elementSize, hsize_t count, Io io) {
    const hsize_t perSlice = std::max<hsize_t>(1, sliceBytes / elementSize);
    ErrorKeeper keeper;  // the failure's reason outlives closing the spaces
    Hid fileSpace(H5Dget_space(dataset));
    if (!fileSpace)
        return false;
    for (hsize_t start = 0; start < count; start += perSlice) {
        const hsize_t n = std::min(perSlice, count - start);
        Hid memorySpace(H5Screate_simple(1, &n, nullptr));
        if (!memorySpace ||
            H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, &start, nullptr, &n, nullptr) <
                0 ||
            !io(memorySpace.get(), fileSpace.get(), start, n)) {
            keeper.capture();
            return false;
        }
    }
    return true;
}

// Selects elements [first, first + count) in the item and in a memory space of their own for
// `io(memorySpace, fileSpace)`.
template <typename Io>
bool withRange(hid_t dataset, hsize_t first, hsize_t count, Io io) {
    ErrorKeeper keeper;  // the failure's reason outlives closing the spaces
    Hid fileSpace(H5Dget_space(dataset));
    Hid memorySpace(H5Screate_simple(1, &count, nullptr));
    if (fileSpace && memorySpace &&
        H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, &first, nullptr, &count, nullptr) >=
            0 &&
        io(memorySpace.get(), fileSpace.get()))
        return true;
    keeper.capture();
    return false;
}

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
        : fileSize(H5Tget_size(fileType)),
          memorySize(H5Tget_size(memoryType)),
          records(H5Tget_class(fileType) == H5T_COMPOUND ||
                  H5Tget_class(memoryType) == H5T_COMPOUND),
          perSlice(std::min<hsize_t>(
              count, std::max<size_t>(
                         1, kSliceBytes / std::max<size_t>(1, std::max(fileSize, memorySize))))),
          bytes(static_cast<size_t>(perSlice) * std::max(fileSize, memorySize)),
          scratch(scratchSpace().get(bytes)),
          background(nullptr) {}
    ~Conversion() {
        scratchSpace().release();
        backgroundSpace().release();
        secondSliceSpace().release();
    }
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;
    bool valid() const { return fileSize > 0 && memorySize > 0; }
    // Only HDF5's record conversion uses it; moved records do not.
    void* backgroundFor() {
        if (records && !background)
            background = backgroundSpace().get(bytes);
        return background;
    }
    // Slice k's buffer when slices alternate between two.
    unsigned char* buffer(size_t k) {
        if (!second)
            second = secondSliceSpace().get(bytes);
        return k % 2 ? second : scratch;
    }
    unsigned char* second = nullptr;
};

// Small items are not worth a hand-off to the checksum thread, nor the look at the load.
ConcurrentCrc::Mode handOff(hsize_t bytes) {
    return bytes >= kConcurrentBytes ? ConcurrentCrc::Mode::Auto : ConcurrentCrc::Mode::Inline;
}

// A conversion that needs no HDF5 (moved records, a number loop) into `to` from `from`, n elements.
using Move = std::function<void(const unsigned char* from, unsigned char* to, size_t n)>;

Move plainMove(const std::optional<RecordCopy>& moves, NumberLoop numbers) {
    if (moves)
        return
            [&moves](const unsigned char* f, unsigned char* t, size_t n) { moves->run(f, t, n); };
    if (numbers)
        return [numbers](const unsigned char* f, unsigned char* t, size_t n) { numbers(f, t, n); };
    return nullptr;
}

// Reads slices in turn into two buffers; the checksum thread sums each one while the next is
// read, and the moves into `out` (when given) are shared between both threads. With no core
// free the caller does all of it in turn.
bool readInTurn(hid_t dataset, hid_t fileType, Conversion& c, hsize_t count, unsigned char* out,
                const Move& move, std::uint32_t& crc, SliceCrcs* slices) {
    const StoredElements stored(dataset, c.fileSize, count);
    ConcurrentCrc sum(crc, handOff(count * c.fileSize));
    sum.sumSlicesInto(slices);
    size_t k = 0;
    const bool read = forEachSlice(
        dataset, c.perSlice * c.fileSize, c.fileSize, count,
        [&](hid_t memorySpace, hid_t fileSpace, hsize_t start, hsize_t n) {
            const bool odd = k % 2 == 1;
            unsigned char* slice = c.buffer(k++);
            sum.waitUntilPending(1);  // the slice read into this buffer before is done with it
            if (!stored.read(memorySpace, fileSpace, start, n, fileType, slice))
                return false;
            unsigned char* target = out ? out + static_cast<size_t>(start) * c.memorySize : nullptr;
            const size_t bytes = static_cast<size_t>(n) * c.fileSize;
            // Moving costs more than summing: the thread moves every other slice beside summing
            // all, the caller the others beside reading, so that neither waits long for the
            // other. The last one the caller sums and moves itself, beside the thread's last.
            const bool last = start + n == count;
            const bool callerMoves = target && (odd || last || !sum.concurrent());
            if (last)
                sum.addLast(slice, bytes);
            else if (callerMoves || !target)
                sum.add(slice, bytes);
            else
                sum.add(slice, bytes, {}, [&move, slice, target, n] {
                    move(slice, target, static_cast<size_t>(n));
                });
            if (callerMoves)
                move(slice, target, static_cast<size_t>(n));
            return true;
        });
    // Also on failure the thread is done with the buffers before anyone reuses them.
    crc = sum.value();
    return read;
}

// The checksum thread moves slice k+1 into one buffer and sums it while slice k is written from
// the other. With no core free the caller does all three in turn.
bool writeInTurn(hid_t dataset, hid_t fileType, Conversion& c, hsize_t count,
                 const unsigned char* in, const Move& move, bool zeroFirst, std::uint32_t& crc,
                 SliceCrcs* sliceCrcs) {
    Hid fileSpace(H5Dget_space(dataset));
    if (!fileSpace)
        return false;
    const hsize_t perSlice = c.perSlice;
    const hsize_t slices = (count + perSlice - 1) / perSlice;
    ConcurrentCrc sum(crc, handOff(count * c.fileSize));
    sum.sumSlicesInto(sliceCrcs);
    auto prepare = [&](hsize_t k) {
        const hsize_t start = k * perSlice, n = std::min(perSlice, count - start);
        unsigned char* slice = c.buffer(static_cast<size_t>(k));
        const unsigned char* source = in + static_cast<size_t>(start) * c.memorySize;
        const size_t bytes = static_cast<size_t>(n) * c.fileSize;
        sum.add(slice, bytes,
                [&move, zeroFirst, source, slice, n, bytes] {
                    // Stored members the caller's records lack are written as zeros, never as old
                    // scratch.
                    if (zeroFirst)
                        std::memset(slice, 0, bytes);
                    move(source, slice, static_cast<size_t>(n));
                },
                {});
    };
    prepare(0);
    bool written = true;
    for (hsize_t k = 0; k < slices && written; ++k) {
        if (k + 1 < slices)
            prepare(k + 1);  // its buffer held slice k-1, already written
        sum.waitUntilPending(k + 1 < slices ? 1 : 0);
        const hsize_t start = k * perSlice, n = std::min(perSlice, count - start);
        Hid memorySpace(H5Screate_simple(1, &n, nullptr));
        written = memorySpace &&
                  H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, &start, nullptr, &n,
                                      nullptr) >= 0 &&
                  H5Dwrite(dataset, fileType, memorySpace.get(), fileSpace.get(), H5P_DEFAULT,
                           c.buffer(static_cast<size_t>(k))) >= 0;
    }
    crc = sum.value();
    return written;
}

}  // namespace

void sumInto(std::uint32_t& crc, SliceCrcs* slices, const void* bytes, size_t size) {
    if (slices)
        slices->add(bytes, size);
    else
        crc = crc32c::Extend(crc, bytes, size);
}

bool isContiguous(hid_t dataset) {
    Hid dcpl(H5Dget_create_plist(dataset));
    return dcpl && H5Pget_layout(dcpl.get()) == H5D_CONTIGUOUS;
}

hsize_t readSliceElements(hid_t dataset, size_t elementSize) {
    Hid space(H5Dget_space(dataset));
    Hid dcpl(H5Dget_create_plist(dataset));
    if (!space || !dcpl || elementSize == 0 || H5Sget_simple_extent_ndims(space.get()) != 1)
        return 0;
    const hsize_t perSlice = std::max<hsize_t>(1, kSliceBytes / elementSize);
    switch (H5Pget_layout(dcpl.get())) {
        case H5D_CONTIGUOUS:
            return perSlice;
        case H5D_CHUNKED: {
            // Whole chunks: a chunk split between two slices would be read, and decompressed,
            // twice.
            hsize_t chunk = 0;
            if (H5Pget_chunk(dcpl.get(), 1, &chunk) != 1 || chunk == 0)
                return 0;
            return std::max<hsize_t>(1, perSlice / chunk) * chunk;
        }
        default:
            return 0;
    }
}

bool readStoredRange(hid_t dataset, hid_t fileType, hsize_t first, hsize_t count, void* out) {
    return withRange(dataset, first, count, [&](hid_t memorySpace, hid_t fileSpace) {
        return H5Dread(dataset, fileType, memorySpace, fileSpace, H5P_DEFAULT, out) >= 0;
    });
}

bool writeStoredRange(hid_t dataset, hid_t fileType, hsize_t first, hsize_t count,
                      const void* in) {
    return withRange(dataset, first, count, [&](hid_t memorySpace, hid_t fileSpace) {
        return H5Dwrite(dataset, fileType, memorySpace, fileSpace, H5P_DEFAULT, in) >= 0;
    });
}

bool selfContained(hid_t type) {
    return H5Tdetect_class(type, H5T_VLEN) == 0 && H5Tis_variable_str(type) == 0 &&
           H5Tdetect_class(type, H5T_REFERENCE) == 0;
}

// Reads the stored elements slice by slice into scratch space, checksums them there and, when
// `out` is given, converts them into it. One pass instead of a checking read and a converting
// read of the whole item.
bool readConverted(hid_t dataset, hid_t fileType, hid_t memoryType, hsize_t count,
                   unsigned char* out, std::uint32_t& crc, SliceCrcs* slices) {
    Conversion c(fileType, memoryType, count);
    if (!c.valid())
        return false;
    const std::optional<RecordCopy> moves =
        out ? RecordCopy::plan(fileType, memoryType) : std::nullopt;
    const NumberLoop numbers = out && !moves ? numberLoop(fileType, memoryType) : nullptr;
    // Only HDF5's own conversion must stay on this thread.
    if (!out || moves || numbers)
        return readInTurn(dataset, fileType, c, count, out, plainMove(moves, numbers), crc,
                          slices);
    return forEachSlice(
        dataset, c.perSlice * c.fileSize, c.fileSize, count,
        [&](hid_t memorySpace, hid_t fileSpace, hsize_t start, hsize_t n) {
            if (H5Dread(dataset, fileType, memorySpace, fileSpace, H5P_DEFAULT, c.scratch) < 0)
                return false;
            sumInto(crc, slices, c.scratch, static_cast<size_t>(n) * c.fileSize);
            unsigned char* target = out + static_cast<size_t>(start) * c.memorySize;
            const size_t targetBytes = static_cast<size_t>(n) * c.memorySize;
            // Members the stored records lack keep what the caller's buffer holds, as with H5Dread.
            void* background = c.backgroundFor();
            if (background)
                std::memcpy(background, target, targetBytes);
            if (H5Tconvert(fileType, memoryType, n, c.scratch, background, H5P_DEFAULT) < 0)
                return false;
            std::memcpy(target, c.scratch, targetBytes);
            return true;
        });
}

// Converts the caller's elements slice by slice into the stored type, checksums and writes them
// from scratch space: HDF5 would convert during the write and the checksum would need the
// stored bytes read back.
bool writeConverted(hid_t dataset, hid_t fileType, hid_t memoryType, hsize_t count,
                    const unsigned char* in, std::uint32_t& crc, SliceCrcs* slices) {
    Conversion c(fileType, memoryType, count);
    if (!c.valid())
        return false;
    const std::optional<RecordCopy> moves = RecordCopy::plan(memoryType, fileType);
    const NumberLoop numbers = moves ? nullptr : numberLoop(memoryType, fileType);
    if (moves || numbers)
        return writeInTurn(dataset, fileType, c, count, in, plainMove(moves, numbers),
                           moves && !moves->coversDestination(), crc, slices);
    return forEachSlice(
        dataset, c.perSlice * c.memorySize, c.memorySize, count,
        [&](hid_t memorySpace, hid_t fileSpace, hsize_t start, hsize_t n) {
            const unsigned char* source = in + static_cast<size_t>(start) * c.memorySize;
            std::memcpy(c.scratch, source, static_cast<size_t>(n) * c.memorySize);
            void* background = c.backgroundFor();
            if (background)
                std::memset(background, 0, c.bytes);
            if (H5Tconvert(memoryType, fileType, n, c.scratch, background, H5P_DEFAULT) < 0)
                return false;
            sumInto(crc, slices, c.scratch, static_cast<size_t>(n) * c.fileSize);
            return H5Dwrite(dataset, fileType, memorySpace, fileSpace, H5P_DEFAULT, c.scratch) >= 0;
        });
}

bool writeChecksummed(hid_t dataset, hid_t memoryType, size_t elementSize, hsize_t count,
                      const unsigned char* in, std::uint32_t& crc, SliceCrcs* slices) {
    ConcurrentCrc sum(crc);
    sum.sumSlicesInto(slices);
    // Chunked items are written whole: slices across chunk bounds would rewrite chunks.
    if (!isContiguous(dataset)) {
        sum.add(in, static_cast<size_t>(count) * elementSize);
        const bool written = H5Dwrite(dataset, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, in) >= 0;
        crc = sum.value();
        return written;
    }
    // Slice by slice, the checksum thread reads each slice as it is written, so memory is read
    // once for both; with no core free the caller sums each slice just before writing it.
    const bool written = forEachSlice(
        dataset, kSliceBytes, elementSize, count,
        [&](hid_t memorySpace, hid_t fileSpace, hsize_t start, hsize_t n) {
            const unsigned char* slice = in + static_cast<size_t>(start) * elementSize;
            sum.add(slice, static_cast<size_t>(n) * elementSize);
            const bool ok =
                H5Dwrite(dataset, memoryType, memorySpace, fileSpace, H5P_DEFAULT, slice) >= 0;
            sum.waitUntilPending(1);  // keeps the checksum thread within a slice of the write
            return ok;
        });
    crc = sum.value();
    return written;
}

// Reads a large item in slices straight into the caller's buffer; a second thread
// checksums each slice while the next one is read (or the caller right after it, when no core
// is free). The caller sums the last slice itself instead of waiting for the thread to reach it.
bool readConcurrently(hid_t dataset, hid_t memoryType, size_t elementSize, hsize_t count,
                      hsize_t perSlice, unsigned char* out, std::uint32_t& crc,
                      SliceCrcs* slices) {
    const StoredElements stored(dataset, elementSize, count);
    ConcurrentCrc sum(crc);
    sum.sumSlicesInto(slices);
    const bool read = forEachSlice(
        dataset, static_cast<size_t>(perSlice) * elementSize, elementSize, count,
        [&](hid_t memorySpace, hid_t fileSpace, hsize_t start, hsize_t n) {
            unsigned char* slice = out + static_cast<size_t>(start) * elementSize;
            if (!stored.read(memorySpace, fileSpace, start, n, memoryType, slice))
                return false;
            const size_t bytes = static_cast<size_t>(n) * elementSize;
            if (start + n == count)
                sum.addLast(slice, bytes);
            else
                sum.add(slice, bytes);
            return true;
        });
    // Also on failure the worker is done with the buffer before the caller clears it.
    crc = sum.value();
    return read;
}

}  // namespace Quellmar::qmxfile
