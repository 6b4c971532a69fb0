#include "Paths.h"

namespace Quellmar::qmxfile {

namespace {

void split(const std::string& text, std::vector<std::string>& parts) {
    std::string::size_type start = 0;
    while (start <= text.size()) {
        std::string::size_type end = text.find('/', start);
        if (end == std::string::npos)
            end = text.size();
        std::string part = text.substr(start, end - start);
        if (!part.empty() && part != ".")
            parts.push_back(std::move(part));
        start = end + 1;
    }
}

std::string join(bool absolute, const std::vector<std::string>& parts, std::size_t count) {
    if (count == 0)
        return absolute ? "/" : ".";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0 || absolute)
            text += '/';
        text += parts[i];
    }
    return text;
}

}  // namespace

std::string Path::text() const {
    return join(absolute, parts, parts.size());
}

std::string Path::parentText() const {
    return join(absolute, parts, parts.empty() ? 0 : parts.size() - 1);
}

Path parsePath(const std::string& path) {
    Path p;
    p.absolute = !path.empty() && path.front() == '/';
    split(path, p.parts);
    return p;
}

Path joinPath(const std::string& group, const std::string& name) {
    // An empty group means the location itself, not the root.
    return parsePath(group.empty() ? name : group + "/" + name);
}

}  // namespace Quellmar::qmxfile
