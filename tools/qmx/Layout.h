// How ls -l shows an item's storage: its layout (contiguous, chunked, extendible...) and the
// compressor of its data, as the file library reports them.
#ifndef QMX_TOOL_LAYOUT_H
#define QMX_TOOL_LAYOUT_H

#include "Tree.h"

#include <optional>
#include <string>

namespace Quellmar::qmx {

struct StorageLayout {
    std::string layout;      // "compact", "contiguous", "chunked", "extendible"
    long long chunk = 0;     // elements a chunk; 0 when not chunked
    std::string compressor;  // "none", "deflate", "blosc-lz4", "blosc-zstd", "lz4"
    int level = 0;           // the compressor's level; 0 when none

    // "extendible, 131072 elements a chunk, deflate level 6"
    std::string text() const;
};

// The storage of a dataset (a vector, array or object); nothing for groups and for items the
// file library cannot describe (the listing reports those elsewhere).
std::optional<StorageLayout> storageLayout(int file, const Node& node);

}  // namespace Quellmar::qmx

#endif
