#ifndef QUELLMAR_QMXFILE_PATHS_H
#define QUELLMAR_QMXFILE_PATHS_H

#include <string>
#include <vector>

namespace Quellmar::qmxfile {

// A path as the callers build it, reduced to its components: doubled and trailing
// separators and "." components are dropped ("//a/b/." is "/a/b"); dots inside names stay
// ("abc." is a name).
struct Path {
    bool absolute = false;
    std::vector<std::string> parts;

    bool isSelf() const { return parts.empty(); }  // "/" or "." : the location itself
    std::string text() const;                      // for HDF5: "/a/b", "a/b", "/" or "."
    std::string parentText() const;
    const std::string& leaf() const { return parts.back(); }
};

Path parsePath(const std::string& path);
// group + "/" + name, as one path: the name may itself hold separators.
Path joinPath(const std::string& group, const std::string& name);

}  // namespace Quellmar::qmxfile

#endif
