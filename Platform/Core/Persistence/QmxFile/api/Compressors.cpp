// The host's choice of compressor: per process, and per thread for the DAOs that carry one.
#include "Call.h"
#include "Filters.h"
#include "ItemAccess.h"
#include "Layout.h"
#include "QMXL.h"

using namespace Quellmar::qmxfile;

static_assert(QMXL_DEFLATE == static_cast<int>(Compressor::Deflate) &&
              QMXL_BLOSC_LZ4 == static_cast<int>(Compressor::BloscLz4) &&
              QMXL_BLOSC_ZSTD == static_cast<int>(Compressor::BloscZstd) &&
              QMXL_LZ4 == static_cast<int>(Compressor::Lz4) &&
              QMXL_COMPRESSOR_FOLLOW == kFollowChoice);

namespace {

bool checkCompressor(Call& call, int compressor) {
    if (knownCompressor(compressor))
        return true;
    call.fail("compressor " + std::to_string(compressor) + " is unknown (QMXLCompressor has 0.." +
              std::to_string(QMXL_LZ4) + ")");
    return false;
}

}  // namespace

extern "C" int QMXLsetCompressor(int compressor) {
    Call call("QMXLsetCompressor");
    if (!checkCompressor(call, compressor))
        return -1;
    setProcessCompressor(static_cast<Compressor>(compressor));
    return 1;
}

extern "C" int QMXLgetCompressor(void) {
    return static_cast<int>(processCompressor());
}

extern "C" int QMXLsetThreadCompressor(int compressor, int* previous) {
    Call call("QMXLsetThreadCompressor");
    if (compressor != QMXL_COMPRESSOR_FOLLOW && !checkCompressor(call, compressor))
        return -1;
    if (previous)
        *previous = threadCompressor();
    setThreadCompressor(compressor);
    return 1;
}

extern "C" int QMXLcompressorAvailable(int compressor) {
    Call call("QMXLcompressorAvailable");
    if (!checkCompressor(call, compressor))
        return -1;
    if (compressorUsable(static_cast<Compressor>(compressor)))
        return 1;
    call.failHdf5("cannot compress");
    return 0;
}

extern "C" int QMXLgetDatasetCompression(int file, const char* group, const char* name,
                                         int* compressor, int* level) {
    Call call("QMXLgetDatasetCompression");
    auto item = itemRef(call, file, group, name);
    if (!item || !call.out(compressor, "compressor") || !call.out(level, "level"))
        return -1;
    Hid dataset = reopenItem(call, *item, std::nullopt);
    if (!dataset)
        return -1;
    const long long count = elementCount(dataset.get());
    if (count < 0)
        return call.failHdf5("cannot describe " + item->where());
    const LayoutRequest stored = requestOf(dataset.get(), static_cast<hsize_t>(count));
    *compressor = stored.compressor;
    *level = stored.compression;
    return 1;
}
