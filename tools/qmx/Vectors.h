// Reading a whole vector or array through the array DAO, typed or compound.
#ifndef QMX_TOOL_VECTORS_H
#define QMX_TOOL_VECTORS_H

#include "Compound.h"
#include "QMXArrayDAO.h"
#include "QMXVectorDAO.h"

#include <optional>
#include <string>
#include <vector>

namespace Quellmar::qmx {

struct VectorData {
    VectorInfo info;                      // rows and cols as stored ({count, 1} for a vector)
    int readType = -1;                    // the element type read (typed vectors)
    std::vector<CompoundMember> members;  // compound vectors
    RecordLayout layout;                  // compound vectors
    std::vector<unsigned char> bytes;
    long long firstRow = 0;               // the stored row (element) info.rows starts at

    std::size_t elementCount() const;
    std::size_t elementBytes() const;  // bytes of one element or record
};

// Largest vector the tool reads in one piece.
constexpr unsigned long long kMaxReadBytes = 8ull << 30;

// The most a vector in the file at path can plausibly hold: a damaged count must not make the
// tool allocate gigabytes for a small file. Compression can shrink data a thousandfold, so the
// bound is generous.
unsigned long long plausibleReadLimit(const std::string& path);

// The DAOs a vector is read with: the array DAO reports the stored shape, the vector DAO the
// number of stored elements, which is what a read writes.
struct VectorReaders {
    QMXVectorDAO vectors;
    QMXArrayDAO arrays;
};

// Rows [first, first + count) of an array, elements of a vector.
struct RowRange {
    long long first = 0;
    int count = 0;
};

// Parses "FIRST:COUNT" (two numbers of 0 or more); throws UsageError naming `option`.
RowRange parseRowRange(const std::string& option, const std::string& text);

// Reads group/name (group a group path), or only the rows of `range` when given; compound
// tells which kind it is. Throws Failure (a shape that does not match the stored elements,
// and a range past the end, included) or the DAO's exceptions.
VectorData readVector(VectorReaders& readers, int file, const std::string& group,
                      const std::string& name, bool compound, unsigned long long limit,
                      const std::optional<RowRange>& range = std::nullopt);

}  // namespace Quellmar::qmx

#endif
