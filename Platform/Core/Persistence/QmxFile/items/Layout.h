#ifndef QUELLMAR_QMXFILE_LAYOUT_H
#define QUELLMAR_QMXFILE_LAYOUT_H

#include "Filters.h"
#include "Hid.h"

namespace Quellmar::qmxfile {

// How a dataset is asked to be stored.
struct LayoutRequest {
    hsize_t count = 0;               // elements
    size_t elementSize = 1;          // bytes per element in the file
    int compression = 0;             // level 0..9: 0 uncompressed
    int compressor = kFollowChoice;  // a Compressor, or the one chosen for the calling thread
    long long chunk = 0;             // wanted elements per chunk, 0 or less: library's choice
};

// Data up to this size is kept in the dataset's object header (compact layout): one read
// brings header and data, and nothing is lost to allocation when files are reopened often.
inline constexpr hsize_t kCompactLimit = 16 * 1024;
// Up to this size compression cannot pay for itself: a chunked dataset costs about 2 KB
// more on disk than a compact one (measured: 2,571 against 467 bytes for 100 bytes).
inline constexpr hsize_t kCompressLimit = 4 * 1024;
// Chunks are never larger than HDF5's default chunk cache.
inline constexpr hsize_t kMaxChunkBytes = 1024 * 1024;

// The dataset creation properties of the layout policy (see FORMAT.md). The unfiltered
// layouts share one list each, never closed (HDF5 copies it into the dataset): making them
// anew was a noticeable part of creating a small item. A list made for this request only
// is kept in `made`. Negative on failure.
hid_t creationProperties(const LayoutRequest& request, Hid& made);
// The creation properties of an item moved to an extendible layout for appends: chunks of
// `chunk` elements, compressed as the request says (a level of 0: uncompressed chunks).
// Negative on failure (with the reason naming a missing plugin).
Hid extendibleProperties(const LayoutRequest& request, hsize_t chunk);
// An item stored small without the compression it asked for keeps the level in the
// attribute "QMZ_DEFLATE", so that it is compressed again once an update makes it large
// (with the compressor chosen for that update: a small item records none).
inline constexpr const char* kDeflateAttribute = "QMZ_DEFLATE";
herr_t rememberCompression(hid_t dataset, const LayoutRequest& request);
// The request that made an existing dataset, with a new element count.
LayoutRequest requestOf(hid_t dataset, hsize_t count);

}  // namespace Quellmar::qmxfile

#endif
