#include "Tree.h"

#include "CrashGuard.h"
#include "Diagnostics.h"
#include "Handle.h"

namespace Quellmar::qmx {
namespace {

struct Walker {
    int file;
    const std::function<void(const std::string&, const std::string&)>& onProblem;
    std::vector<Node>& out;
    bool truncated = false;

    void walk(const Node& group) {
        crashGuardAt(group.path);
        std::vector<GroupMember> members;
        if (!listGroup(file, group.path, members)) {
            const std::string why = fileLibraryError();
            onProblem(group.path, "cannot list group" + (why.empty() ? "" : ": " + why));
            return;
        }
        for (const GroupMember& m : members) {
            if (out.size() >= TreeLimits::kMaxNodes) {
                if (!truncated)
                    onProblem(group.path, "too many objects; listing stopped");
                truncated = true;
                return;
            }
            Node node{joinPath(group.path, m.name), group.path, m.name, m.kind, group.depth + 1};
            out.push_back(node);
            if (!node.isGroup())
                continue;
            if (node.depth >= TreeLimits::kMaxDepth) {
                onProblem(node.path, "groups nested too deeply (a link cycle?); not descended");
                continue;
            }
            walk(node);
        }
    }
};

}  // namespace

bool Node::isGroup() const {
    return kind == QMXL_KIND_GROUP || kind == QMXL_KIND_OBJECT_GROUP;
}

const char* kindName(int kind) {
    switch (kind) {
        case QMXL_KIND_GROUP:
            return "group";
        case QMXL_KIND_OBJECT_GROUP:
            return "object group";
        case QMXL_KIND_OPAQUE:
            return "opaque";
        case QMXL_KIND_STRING:
            return "string";
        case QMXL_KIND_TYPED:
            return "vector";
        case QMXL_KIND_COMPOUND:
            return "compound vector";
        default:
            return "unknown";
    }
}

std::string kindPhrase(int kind) {
    switch (kind) {
        case QMXL_KIND_OBJECT_GROUP:
            return "an object group";
        case QMXL_KIND_OPAQUE:
            return "an opaque object";
        case QMXL_KIND_STRING:
            return "a string object";
        case QMXL_KIND_UNKNOWN:
            return "an entry of unknown kind";
        default:
            return std::string("a ") + kindName(kind);
    }
}

std::string joinPath(const std::string& group, const std::string& name) {
    return group == "/" ? "/" + name : group + "/" + name;
}

std::string groupPath(const std::string& argument) {
    std::string path;
    std::size_t i = 0;
    while (i < argument.size()) {
        while (i < argument.size() && argument[i] == '/')
            ++i;
        const std::size_t end = argument.find('/', i);
        const std::string part = argument.substr(i, end == std::string::npos ? end : end - i);
        if (!part.empty() && part != ".")
            path += "/" + part;
        if (end == std::string::npos)
            break;
        i = end;
    }
    return path.empty() ? "/" : path;
}

std::vector<Node> listTree(
    int file, const std::string& start, int startKind,
    const std::function<void(const std::string&, const std::string&)>& onProblem) {
    std::vector<Node> out;
    const auto slash = start.rfind('/');
    Node root{start, start == "/" ? "" : (slash == 0 ? "/" : start.substr(0, slash)),
              start == "/" ? "/" : start.substr(slash + 1), startKind, 0};
    out.push_back(root);
    if (root.isGroup()) {
        Walker walker{file, onProblem, out};
        walker.walk(root);
    }
    return out;
}

}  // namespace Quellmar::qmx
