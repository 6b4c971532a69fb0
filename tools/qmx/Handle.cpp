#include "Handle.h"

#include "QMXLLists.h"

namespace Quellmar::qmx {

bool listGroup(int file, const std::string& path, std::vector<GroupMember>& members) {
    members.clear();
    QMXLGroupListing list;
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
    QMXLNameList list;
    if (QMXLlistAttributes(file, path.c_str(), &list.count, &list.names) < 0)
        return false;
    if (list.count < 0 || (list.count > 0 && !list.names))
        return false;
    for (int i = 0; i < list.count; ++i)
        names.push_back(list.names[i] ? list.names[i] : "");
    return true;
}

}  // namespace Quellmar::qmx
