// Walks a container through the file library and reads every data item and attribute, the way
// a host would. Used by the fuzz target and by the tests of damaged files.
#ifndef QUELLMAR_FUZZ_CONTAINERWALK_H
#define QUELLMAR_FUZZ_CONTAINERWALK_H

#include <cstddef>
#include <string>
#include <vector>

namespace Quellmar::fuzz {

struct WalkResult {
    int groups = 0;
    int itemsRead = 0;    // data items read with a non-negative result
    int itemsFailed = 0;  // data items whose size query or read failed
    int attributesRead = 0;
    std::vector<std::string> failures;  // "path: message" for every failed item
};

struct WalkLimits {
    int maxDepth = 64;  // damaged links can form cycles
    int maxItems = 100000;
    long long maxItemBytes = 64LL << 20;  // sizes come from the damaged file; never trust them
};

// Walks the open file from "/". Never throws; everything it opens it closes.
WalkResult walkContainer(int file, const WalkLimits& limits = {});

}  // namespace Quellmar::fuzz

#endif
