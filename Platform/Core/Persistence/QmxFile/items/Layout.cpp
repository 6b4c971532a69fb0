#include "Layout.h"

#include "AttributeIO.h"

#include <algorithm>
#include <mutex>

namespace Quellmar::qmxfile {

namespace {

Hid unfilledList() {
    Hid dcpl(H5Pcreate(H5P_DATASET_CREATE));
    if (!dcpl)
        return dcpl;
    // Data are always written right after creation: filling first would write them twice.
    if (H5Pset_fill_time(dcpl.get(), H5D_FILL_TIME_NEVER) < 0)
        return Hid();
    return dcpl;
}

hid_t sharedList(H5D_layout_t layout) {
    static std::mutex s_lock;
    static hid_t s_compact = H5I_INVALID_HID, s_contiguous = H5I_INVALID_HID;
    std::lock_guard<std::mutex> guard(s_lock);
    hid_t& id = layout == H5D_COMPACT ? s_compact : s_contiguous;
    if (id >= 0 && H5Iis_valid(id) > 0)
        return id;
    Hid dcpl = unfilledList();
    if (!dcpl || H5Pset_layout(dcpl.get(), layout) < 0)
        return H5I_INVALID_HID;
    id = dcpl.release();
    return id;
}

}  // namespace

hid_t creationProperties(const LayoutRequest& r, Hid& made) {
    const hsize_t bytes = r.count * r.elementSize;
    if (r.compression > 0 && bytes > kCompressLimit) {
        Hid dcpl = unfilledList();
        if (!dcpl)
            return H5I_INVALID_HID;
        // A chunk never exceeds the data, so a large chunk value cannot allocate space the
        // data do not fill.
        hsize_t chunk =
            r.chunk > 0 ? std::min<hsize_t>(static_cast<hsize_t>(r.chunk), r.count) : r.count;
        chunk = std::min<hsize_t>(
            chunk, std::max<hsize_t>(1, kMaxChunkBytes / std::max<size_t>(1, r.elementSize)));
        if (H5Pset_chunk(dcpl.get(), 1, &chunk) < 0)
            return H5I_INVALID_HID;
        const Compressor compressor = r.compressor == kFollowChoice
                                          ? chosenCompressor()
                                          : static_cast<Compressor>(r.compressor);
        if (addCompressor(dcpl.get(), compressor, std::min(r.compression, 9), r.elementSize) < 0) {
            made = std::move(dcpl);  // closed by the caller, after it kept the reason
            return H5I_INVALID_HID;
        }
        made = std::move(dcpl);
        return made.get();
    }
    return sharedList(bytes <= kCompactLimit ? H5D_COMPACT : H5D_CONTIGUOUS);
}

Hid extendibleProperties(const LayoutRequest& r, hsize_t chunk) {
    Hid dcpl = unfilledList();
    if (!dcpl || H5Pset_chunk(dcpl.get(), 1, &chunk) < 0)
        return Hid();
    if (r.compression > 0) {
        const Compressor compressor = r.compressor == kFollowChoice
                                          ? chosenCompressor()
                                          : static_cast<Compressor>(r.compressor);
        if (addCompressor(dcpl.get(), compressor, std::min(r.compression, 9), r.elementSize) < 0)
            return Hid();
    }
    return dcpl;
}

herr_t rememberCompression(hid_t dataset, const LayoutRequest& r) {
    if (r.compression <= 0 || r.count * r.elementSize > kCompressLimit)
        return 0;
    return setScalarAttribute(dataset, kDeflateAttribute, H5T_STD_I8LE, H5T_NATIVE_INT,
                              &r.compression);
}

LayoutRequest requestOf(hid_t dataset, hsize_t count) {
    LayoutRequest r;
    r.count = count;
    Hid type(H5Dget_type(dataset));
    r.elementSize = type ? H5Tget_size(type.get()) : 1;
    Hid dcpl(H5Dget_create_plist(dataset));
    if (!dcpl || H5Pget_layout(dcpl.get()) != H5D_CHUNKED) {
        int level = 0;
        if (attributeExists(dataset, kDeflateAttribute) > 0 &&
            readScalarAttribute(dataset, kDeflateAttribute, H5T_NATIVE_INT, &level) >= 0)
            r.compression = std::clamp(level, 0, 9);
        return r;
    }
    hsize_t chunk = 0;
    if (H5Pget_chunk(dcpl.get(), 1, &chunk) == 1)
        r.chunk = static_cast<long long>(chunk);
    Compressor compressor = Compressor::Deflate;
    int level = 0;
    if (pipelineCompressor(dcpl.get(), compressor, level)) {
        r.compressor = static_cast<int>(compressor);
        r.compression = level;
    }
    return r;
}

}  // namespace Quellmar::qmxfile
