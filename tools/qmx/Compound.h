// Compound element types as stored: their members, and a record layout the tool reads into.
#ifndef QMX_TOOL_COMPOUND_H
#define QMX_TOOL_COMPOUND_H

#include <cstddef>
#include <string>
#include <vector>

namespace Quellmar {
class QMXClassComposer;
}

namespace Quellmar::qmx {

struct CompoundMember {
    std::string name;
    int type = -1;                 // member type code (ClassMemberTypes numbers), -1 unknown
    unsigned long long count = 1;  // elements of an array member, 1 for a scalar
};

// The members of the compound dataset group/name (group a group path), in stored order.
bool compoundMembers(int file, const std::string& group, const std::string& name,
                     std::vector<CompoundMember>& members);

// "{id: int32, position: float64[3]}"
std::string describeMembers(const std::vector<CompoundMember>& members);

// The members packed one after another; the file library converts from the stored layout.
struct RecordLayout {
    std::vector<std::size_t> offsets;
    std::size_t size = 0;
};
// Fails (returns false) when a member has a type the tool cannot read.
bool packedLayout(const std::vector<CompoundMember>& members, RecordLayout& layout);
void registerMembers(QMXClassComposer& composer, const std::vector<CompoundMember>& members,
                     const RecordLayout& layout);
// One record's members as text fields; an array member becomes "a b c".
std::vector<std::string> formatRecord(const std::vector<CompoundMember>& members,
                                      const RecordLayout& layout, const unsigned char* record);

}  // namespace Quellmar::qmx

#endif
