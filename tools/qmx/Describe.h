// What ls shows of one entry of the tree: its kind as the library sees it, size or shape,
// members of a compound type, the version of an object group.
#ifndef QMX_TOOL_DESCRIBE_H
#define QMX_TOOL_DESCRIBE_H

#include "Compound.h"
#include "Container.h"
#include "QMXArrayDAO.h"
#include "Tree.h"

#include <optional>
#include <string>
#include <vector>

namespace Quellmar::qmx {

struct Description {
    std::string label;           // "object group", "opaque", "array", "compound vector", ...
    bool design = false;         // the design root "/Design"
    std::optional<int> version;  // "Version" of an object group
    long long bytes = -1;        // size of a blob
    int rows = -1;               // element count of a vector, rows of an array
    int cols = -1;               // columns of an array
    int elementType = -1;        // tagVectorDataTypes of a typed vector
    bool isArray = false;
    std::vector<CompoundMember> members;
    std::string problem;  // why the entry could not be described, empty when fine

    std::string summary() const;  // "array, 3 x 4 int32"
};

constexpr int kNoEntry = -1;

// The vector DAO addresses a group by its path without the leading separator.
std::string daoGroup(const std::string& groupPath);

class Inspector {
public:
    explicit Inspector(const Container& container);
    Description describe(const Node& node);
    // Kind of the entry at path ("/" included): kNoEntry when nothing of that name is listed,
    // QMXL_KIND_UNKNOWN when it is listed but cannot be told (damaged, or foreign).
    int kindOf(const std::string& path);

private:
    const Container& m_container;
    QMXArrayDAO m_arrays;
};

}  // namespace Quellmar::qmx

#endif
