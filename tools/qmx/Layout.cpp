#include "Layout.h"

#include "QMXL.h"

namespace Quellmar::qmx {
namespace {

const char* layoutName(int layout) {
    switch (layout) {
        case QMXL_LAYOUT_COMPACT:
            return "compact";
        case QMXL_LAYOUT_CONTIGUOUS:
            return "contiguous";
        case QMXL_LAYOUT_CHUNKED:
            return "chunked";
        case QMXL_LAYOUT_EXTENDIBLE:
            return "extendible";
        default:
            return "unknown";
    }
}

const char* compressorName(int compressor) {
    switch (compressor) {
        case QMXL_COMPRESSOR_FOLLOW:
            return "none";  // the file library's answer for data stored uncompressed
        case QMXL_DEFLATE:
            return "deflate";
        case QMXL_BLOSC_LZ4:
            return "blosc-lz4";
        case QMXL_BLOSC_ZSTD:
            return "blosc-zstd";
        case QMXL_LZ4:
            return "lz4";
        default:
            return "unknown";
    }
}

}  // namespace

std::string StorageLayout::text() const {
    std::string out = layout;
    if (chunk > 0)
        out += ", " + std::to_string(chunk) + (chunk == 1 ? " element" : " elements") + " a chunk";
    if (compressor == "none")
        return out + ", uncompressed";
    return out + ", " + compressor + " level " + std::to_string(level);
}

std::optional<StorageLayout> storageLayout(int file, const Node& node) {
    if (node.isGroup())
        return std::nullopt;
    int layout = -1;
    long long chunk = 0;
    int compressor = QMXL_COMPRESSOR_FOLLOW;
    int level = 0;
    if (QMXLgetDatasetLayout(file, node.parent.c_str(), node.name.c_str(), &layout, &chunk) < 0 ||
        QMXLgetDatasetCompression(file, node.parent.c_str(), node.name.c_str(), &compressor,
                                  &level) < 0)
        return std::nullopt;
    StorageLayout s;
    s.layout = layoutName(layout);
    s.chunk = chunk;
    s.compressor = compressorName(compressor);
    s.level = compressor == QMXL_COMPRESSOR_FOLLOW ? 0 : level;
    return s;
}

}  // namespace Quellmar::qmx
