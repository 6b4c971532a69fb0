#include "Objects.h"

#include "AttributeIO.h"
#include "Format.h"
#include "HeaderCheck.h"

namespace Quellmar::qmxfile {

Found findObject(hid_t loc, const Path& path) {
    if (!checkPath(loc, path))
        return Found::Error;
    // H5Lexists fails rather than answers for a missing intermediate group: walk prefixes.
    Path prefix;
    prefix.absolute = path.absolute;
    for (const std::string& part : path.parts) {
        prefix.parts.push_back(part);
        const htri_t exists = H5Lexists(loc, prefix.text().c_str(), H5P_DEFAULT);
        if (exists < 0)
            return Found::Error;
        if (exists == 0)
            return Found::Missing;
    }
    H5O_info_t info;
    if (H5Oget_info_by_name2(loc, path.text().c_str(), &info, H5O_INFO_BASIC, H5P_DEFAULT) < 0) {
        // A soft link to nothing names nothing; an object behind a hard link whose header
        // does not decode is damaged, not absent. HDF5's reason is kept for the caller.
        ErrorKeeper keeper;
        keeper.capture();
        H5L_info_t link;
        const bool soft = H5Lget_info(loc, path.text().c_str(), &link, H5P_DEFAULT) >= 0 &&
                          link.type != H5L_TYPE_HARD;
        return soft ? Found::Missing : Found::Error;
    }
    switch (info.type) {
        case H5O_TYPE_GROUP:
            return Found::Group;
        case H5O_TYPE_DATASET:
            return Found::Dataset;
        default:
            return Found::Other;
    }
}

herr_t makeGroups(hid_t loc, const Path& path) {
    // Usually the group is there already: one lookup instead of a walk.
    if (path.parts.empty())
        return 0;
    if (!checkPath(loc, path))
        return -1;
    H5O_info_t info;
    if (H5Oget_info_by_name2(loc, path.text().c_str(), &info, H5O_INFO_BASIC, H5P_DEFAULT) >= 0 &&
        info.type == H5O_TYPE_GROUP)
        return 0;
    Path prefix;
    prefix.absolute = path.absolute;
    for (const std::string& part : path.parts) {
        prefix.parts.push_back(part);
        const Found found = findObject(loc, prefix);
        if (found == Found::Group)
            continue;
        if (found != Found::Missing)
            return -1;
        Hid group(H5Gcreate2(loc, prefix.text().c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
        if (!group)
            return -1;
        trustNewObject(group.get());
    }
    return 0;
}

int isObjectGroup(hid_t group) {
    const htri_t exists = attributeExists(group, kObjectGroupAttribute);
    return exists < 0 ? -1 : exists > 0 ? 1 : 0;
}

herr_t markObjectGroup(hid_t group) {
    const int marked = isObjectGroup(group);
    if (marked != 0)
        return marked > 0 ? 0 : -1;
    const int one = 1;
    return createScalarAttribute(group, kObjectGroupAttribute, H5T_STD_I8LE, H5T_NATIVE_INT, &one);
}

int addObject(Call& call, const Entry& location, Hid id, Kind kind) {
    const int handle =
        HandleTable::instance().add(std::move(id), kind, location.file, location.info);
    return handle > 0 ? handle : call.fail("no handle values left in this process");
}

bool writable(Call& call, const Entry& location, const std::string& path) {
    if (!location.info || !location.info->readOnly)
        return true;
    call.fail("cannot change " + quoted(path) + ": file " + quoted(location.info->name) +
              " is open read-only");
    return false;
}

std::string where(const Entry& location, const Path& path) {
    return describe(location, path.text());
}

}  // namespace Quellmar::qmxfile
