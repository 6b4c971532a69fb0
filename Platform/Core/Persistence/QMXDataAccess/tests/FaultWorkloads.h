// Units of work that the fault tests (power loss, I/O errors) run through the factory and the
// DAOs, with the content each leaves, and a reader that says what a file holds now.
#ifndef QUELLMAR_TESTS_FAULTWORKLOADS_H
#define QUELLMAR_TESTS_FAULTWORKLOADS_H

#include "SessionFixture.h"
#include "UserContext.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Quellmar::testing {

// A vector or array as stored: element type code, shape and bytes.
struct Series {
    int type = 0;
    int rows = 0;
    int cols = 1;
    std::vector<unsigned char> bytes;
    bool operator==(const Series&) const = default;
};

// What a container holds, as far as the workloads touch it.
struct Content {
    bool exists = false;
    std::map<std::string, std::string> blobs;  // "group/name" -> bytes
    std::map<std::string, Series> series;      // "path/name"
    bool operator==(const Content&) const = default;
};
std::string describe(const Content& content);

struct Step {
    std::string label;
    std::function<void(HostUnit&)> work;
    std::function<void(Content&)> effect;  // what a committed step leaves; none for a revert
    bool revert = false;
};

struct Workload {
    std::string name;
    std::vector<Step> steps;
    // content[i] is the file after the first i steps ended.
    std::vector<Content> contents() const;
};

// Blobs: a new file with two objects; one updated and one added; one removed; a reverted unit.
Workload blobWorkload();
// Vectors and arrays: creation, update, removal, and a reverted unit that created both.
Workload seriesWorkload();
// Many small units on one file, each creating, updating or removing one blob or series, some
// reverted: many commits, each a few pages.
Workload manyUnitsWorkload();
// Appends to a vector and rows to an array: the first moves the vector to chunks, one is
// reverted, the last appends to the chunked vector.
Workload appendWorkload();
// A unit that overwrites more than the journaled file holds back, so its journal spills.
Workload spillWorkload();

struct Observation {
    bool ok = false;    // the file could be opened and read, or is absent
    std::string error;  // when !ok
    Content content;
};
// Opens the file in a unit of its own (ReadOnly or ReadWrite) and reads every blob and series
// that any content of the workload names.
Observation observe(const std::string& path, const Workload& workload,
                    UserContext::AccessIntent intent = UserContext::ReadOnly);

}  // namespace Quellmar::testing

#endif
