#include "Describe.h"

#include "Attributes.h"
#include "Diagnostics.h"
#include "ElementTypes.h"
#include "Handle.h"

namespace Quellmar::qmx {
namespace {

bool hasAttribute(int file, const std::string& path, const char* name) {
    std::vector<std::string> names;
    if (!listAttributes(file, path, names))
        return false;
    for (const std::string& n : names)
        if (n == name)
            return true;
    return false;
}

}  // namespace

std::string daoGroup(const std::string& groupPath) {
    return groupPath.empty() || groupPath == "/" ? std::string() : groupPath.substr(1);
}

Inspector::Inspector(const Container& container) : m_container(container) {
    container.bind(m_arrays);
}

int Inspector::kindOf(const std::string& path) {
    const int file = m_container.file();
    if (path == "/")
        return QMXLexistsOpaqueDataGroup(file, "/") == 1 ? QMXL_KIND_OBJECT_GROUP : QMXL_KIND_GROUP;
    const auto slash = path.rfind('/');
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    std::vector<GroupMember> members;
    if (!listGroup(file, parent, members))
        return kNoEntry;
    for (const GroupMember& m : members)
        if (m.name == path.substr(slash + 1))
            return m.kind;
    return kNoEntry;
}

Description Inspector::describe(const Node& node) {
    Description d;
    d.label = kindName(node.kind);
    const int file = m_container.file();
    switch (node.kind) {
        case QMXL_KIND_OBJECT_GROUP: {
            d.design = node.path == "/Design";
            ObjectHandle group(QMXLopenGroup(file, node.path.c_str()));
            int version = 0;
            if (group.valid() && QMXLhasAttribute(group.get(), "Version") == 1 &&
                QMXLreadAttribute(group.get(), "Version", &version) >= 0)
                d.version = version;
            break;
        }
        case QMXL_KIND_OPAQUE:
        case QMXL_KIND_STRING: {
            long long size = -1;
            const int rc =
                node.kind == QMXL_KIND_OPAQUE
                    ? QMXLgetSizeOfOpaqueData(file, node.parent.c_str(), node.name.c_str(), &size)
                    : QMXLgetSizeOfStringDataset(file, node.parent.c_str(), node.name.c_str(),
                                                 &size);
            if (rc < 0)
                d.problem = "size unknown: " + fileLibraryError();
            else
                d.bytes = size;
            break;
        }
        case QMXL_KIND_TYPED:
        case QMXL_KIND_COMPOUND: {
            VectorInfo info;
            try {
                info = m_arrays.getInfo(daoGroup(node.parent), node.name);
            } catch (const std::exception& e) {
                d.problem = e.what();
            }
            d.isArray = hasAttribute(file, node.path, "Rows");
            d.rows = info.rows;
            d.cols = info.cols;
            d.elementType = info.type;
            if (node.kind == QMXL_KIND_COMPOUND) {
                d.label = d.isArray ? "compound array" : "compound vector";
                if (!compoundMembers(file, node.parent, node.name, d.members))
                    d.problem = "member list unreadable: " + fileLibraryError();
            } else {
                d.label = d.isArray ? "array" : "vector";
            }
            break;
        }
        default:
            break;
    }
    return d;
}

std::string Description::summary() const {
    std::string s = label;
    if (design)
        s = "object group (design)";
    if (version)
        s += ", version " + std::to_string(*version);
    if (bytes >= 0)
        s += ", " + std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    if (rows >= 0) {
        const std::string type =
            members.empty() ? std::string(elementTypeName(elementType)) : describeMembers(members);
        if (isArray)
            s += ", " + std::to_string(rows) + " x " + std::to_string(cols) + " " + type;
        else
            s += ", " + std::to_string(rows) + " x " + type;
    }
    if (!problem.empty())
        s += " (" + problem + ")";
    return s;
}

}  // namespace Quellmar::qmx
