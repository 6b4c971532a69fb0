#include "Handle.h"

namespace Quellmar::qmx {
namespace {

// Gives a name list and a kind array back to the file library however the call ended.
struct ListBuffers {
    int count = 0;
    char** names = nullptr;
    int* kinds = nullptr;
    ~ListBuffers() {
        if (names) {
            QMXLreleaseStrings(count, names);
            QMXLreleaseArray(&names);
        }
        if (kinds)
            QMXLreleaseArray(&kinds);
    }
};

}  // namespace

bool listGroup(int file, const std::string& path, std::vector<GroupMember>& members) {
    members.clear();
    ListBuffers list;
    if (QMXLlistGroup(file, path.c_str(), &list.count, &list.names, &list.kinds) < 0)
        return false;
    if (list.count < 0 || (list.count > 0 && (!list.names || !list.kinds)))
        return false;
    members.reserve(static_cast<std::size_t>(list.count));
    for (int i = 0; i < list.count; ++i)
        members.push_back({list.names[i] ? list.names[i] : "", list.kinds[i]});
    return true;
}

bool listAttributes(int file, const std::string& path, std::vector<std::string>& names) {
    names.clear();
    ListBuffers list;
    if (QMXLlistAttributes(file, path.c_str(), &list.count, &list.names) < 0)
        return false;
    if (list.count < 0 || (list.count > 0 && !list.names))
        return false;
    for (int i = 0; i < list.count; ++i)
        names.push_back(list.names[i] ? list.names[i] : "");
    return true;
}

}  // namespace Quellmar::qmx
