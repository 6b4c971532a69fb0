#include "Compound.h"

#include "ElementTypes.h"
#include "QMXClassComposer.h"
#include "QMXLLists.h"

namespace Quellmar::qmx {

bool compoundMembers(int file, const std::string& group, const std::string& name,
                     std::vector<CompoundMember>& members) {
    members.clear();
    QMXLCompoundMembers b;
    if (QMXLgetCompoundMembers(file, group.c_str(), name.c_str(), &b.count, &b.names, &b.types,
                               &b.counts) < 0)
        return false;
    if (b.count < 0 || (b.count > 0 && (!b.names || !b.types || !b.counts)))
        return false;
    for (int i = 0; i < b.count; ++i) {
        CompoundMember m;
        m.name = b.names[i] ? b.names[i] : "";
        m.type = b.types[i];
        m.count = b.counts[i] > 0 ? static_cast<unsigned long long>(b.counts[i]) : 1;
        members.push_back(m);
    }
    return true;
}

std::string describeMembers(const std::vector<CompoundMember>& members) {
    std::string out = "{";
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i)
            out += ", ";
        out += members[i].name + ": " + elementTypeName(members[i].type);
        if (members[i].count != 1)
            out += "[" + std::to_string(members[i].count) + "]";
    }
    return out + "}";
}

bool packedLayout(const std::vector<CompoundMember>& members, RecordLayout& layout) {
    layout = {};
    for (const CompoundMember& m : members) {
        const std::size_t size = elementSize(m.type);
        // A foreign type or an absurd array count cannot be read into a record of ours.
        if (size == 0 || m.count == 0 || m.count > (1u << 20))
            return false;
        layout.offsets.push_back(layout.size);
        layout.size += size * static_cast<std::size_t>(m.count);
    }
    return !members.empty();
}

void registerMembers(QMXClassComposer& composer, const std::vector<CompoundMember>& members,
                     const RecordLayout& layout) {
    for (std::size_t i = 0; i < members.size(); ++i) {
        const auto type = static_cast<ClassMemberTypes::tag>(members[i].type);
        if (members[i].count == 1)
            composer.registerMember(members[i].name.c_str(), layout.offsets[i], type);
        else
            composer.registerMember(members[i].name.c_str(), layout.offsets[i], type,
                                    members[i].count);
    }
}

std::vector<std::string> formatRecord(const std::vector<CompoundMember>& members,
                                      const RecordLayout& layout, const unsigned char* record) {
    std::vector<std::string> fields;
    for (std::size_t i = 0; i < members.size(); ++i) {
        const std::size_t size = elementSize(members[i].type);
        std::string field;
        for (unsigned long long k = 0; k < members[i].count; ++k) {
            if (k)
                field += ' ';
            field += formatElement(members[i].type, record + layout.offsets[i] + k * size);
        }
        fields.push_back(field);
    }
    return fields;
}

}  // namespace Quellmar::qmx
