// What a host stored in a container, one entry a line, so that a reader can ask for exactly
// that and compare what comes back. The format is plain text:
//
//   group    opaque|string GROUP              an object group and its bookkeeping attributes
//   blob     opaque|string GROUP NAME BYTES   a serialized object
//   design   NAME BYTES                       the design object (and the attributes of /Design)
//   vector   GROUP NAME TYPE COUNT            a typed vector
//   cvector  GROUP NAME COUNT MEMBER...       a compound vector; MEMBER is name:type or
//   name:type[n] array    GROUP NAME TYPE ROWS COLS        a typed two-dimensional array carray
//   GROUP NAME ROWS COLS MEMBER...   a compound array
//
// TYPE is int8 uint8 int16 uint16 int32 uint32 int64 uint64 float32 float64. A size of 0 means
// the host does not know it and relies on the library's shape query alone. '#' starts a comment.
#ifndef QMX_HOSTREAD_MANIFEST_H
#define QMX_HOSTREAD_MANIFEST_H

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace Quellmar::hostread {

enum class EntryKind { Group, Blob, Design, Vector, CompoundVector, Array, CompoundArray };

struct ElementType {
    const char* name;
    int vectorType;  // tagVectorDataTypes
    int memberType;  // ClassMemberTypes::tag
    std::size_t size;
};

// nullptr for an unknown name or code.
const ElementType* elementTypeByName(const std::string& name);
const ElementType* elementTypeByVectorType(int vectorType);
const ElementType* elementTypeByMemberType(int memberType);

struct Member {
    std::string name;
    const ElementType* type = nullptr;
    unsigned long long count = 1;  // elements of an array member
};

struct Entry {
    EntryKind kind = EntryKind::Blob;
    bool stringData = false;  // blobs and groups: kept as string datasets
    std::string group;        // as the host names it to the DAO
    std::string name;
    const ElementType* type = nullptr;  // typed vectors and arrays
    long long rows = 0;                 // element count of a vector, bytes of a blob
    long long cols = 1;
    std::vector<Member> members;  // compound entries

    // "vector results/pressures": names the entry in the reader's output.
    std::string key() const;
};

struct ParseError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Throws ParseError naming the line.
std::vector<Entry> parseManifest(const std::string& text);
std::vector<Entry> readManifest(const std::string& path);
std::string formatManifest(const std::vector<Entry>& entries);

// Bytes of one record of the members packed one after another.
std::size_t packedRecordSize(const std::vector<Member>& members);

}  // namespace Quellmar::hostread

#endif
