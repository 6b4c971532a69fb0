// A manifest made from what a file lists, for files whose host is unknown (the fuzz target):
// every object group, blob, design object, vector and array found by walking the groups, with
// sizes left to the library's shape queries.
#ifndef QMX_HOSTREAD_DISCOVER_H
#define QMX_HOSTREAD_DISCOVER_H

#include "Manifest.h"

#include <vector>

namespace Quellmar::hostread {

struct DiscoverLimits {
    int maxDepth = 16;  // damaged links can form cycles
    int maxEntries = 4096;
};

// file: a file-library handle of the open container. Never throws for what the file holds;
// what cannot be listed or described is left out.
std::vector<Entry> discoverEntries(int file, const DiscoverLimits& limits = {});

}  // namespace Quellmar::hostread

#endif
