// The container's tree as the file library lists it: every group and dataset with its path.
#ifndef QMX_TOOL_TREE_H
#define QMX_TOOL_TREE_H

#include <functional>
#include <string>
#include <vector>

namespace Quellmar::qmx {

struct Node {
    std::string path;    // "/" for the root, "/models/gearbox" below it
    std::string parent;  // path of the group holding it ("/" for top-level members)
    std::string name;    // last component ("/" for the root)
    int kind = 0;        // QMXLObjectKind
    int depth = 0;       // 0 for the root

    bool isGroup() const;
};

const char* kindName(int kind);
// The kind with its article, for messages: "an object group", "a vector".
std::string kindPhrase(int kind);

std::string joinPath(const std::string& group, const std::string& name);

// Lists the tree below start (a group path) depth-first in name order, start included.
// Groups that cannot be listed are reported and skipped. A foreign file can link a group
// into itself, so the walk stops at kMaxDepth levels and kMaxNodes entries.
struct TreeLimits {
    static constexpr int kMaxDepth = 64;
    static constexpr std::size_t kMaxNodes = 1000000;
};
std::vector<Node> listTree(
    int file, const std::string& start, int startKind,
    const std::function<void(const std::string& path, const std::string& problem)>& onProblem);

// Normalises a user's group argument: "models", "/models/", "//models" -> "/models".
std::string groupPath(const std::string& argument);

}  // namespace Quellmar::qmx

#endif
