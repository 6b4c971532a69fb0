#ifndef QUELLMAR_VECTORTYPES_H
#define QUELLMAR_VECTORTYPES_H

namespace Quellmar {

/// Element types of typed vectors. The numbers are the file library's element type codes,
/// except VT_INT8, which the file library stores as code 20.
enum tagVectorDataTypes {
    VT_AS_STORED = -1,
    VT_INT32 = 0,
    VT_UINT32 = 1,
    VT_FLOAT = 2,
    VT_DOUBLE = 3,
    VT_INT16 = 5,
    VT_INT64 = 7,
    VT_UINT64 = 8,
    VT_UINT16 = 15,
    VT_UINT8 = 16,  ///< one byte wide
    VT_INT8 = 19
};

/// Shape and element type of a stored vector or array.
struct VectorInfo {
    int rows = 0;   ///< element count of a vector, row count of an array
    int cols = 1;   ///< 1 for a vector
    int type = -1;  ///< a tagVectorDataTypes value, -1 when the stored type has none
};

/// Member types of compound records; the numbers are the file library's member type codes.
struct ClassMemberTypes {
    /// The member type codes.
    enum tag {
        MT_INT32 = 0,
        MT_UINT32 = 1,
        MT_FLOAT = 2,
        MT_DOUBLE = 3,
        MT_INT16 = 5,
        MT_INT64 = 7,
        MT_UINT64 = 8,
        MT_UINT16 = 15,
        MT_UINT8 = 16,
        MT_INT8 = 20
    };
};

/// A single member of a compound record: name, byte offset in the record, type.
struct triad {
    /// Member name as stored.
    const char* name;
    /// Byte offset of the member in the record.
    unsigned long long offset;
    /// Type of the member.
    ClassMemberTypes::tag type;
};

/// An array member of a compound record: name, byte offset, element type, element count.
struct quartet {
    /// Member name as stored.
    const char* name;
    /// Byte offset of the member in the record.
    unsigned long long offset;
    /// Element type of the member.
    ClassMemberTypes::tag type;
    /// Number of elements.
    unsigned long long count;
};

}  // namespace Quellmar

#endif
