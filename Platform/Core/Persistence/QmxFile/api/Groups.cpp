#include "AttributeChecksum.h"
#include "Format.h"
#include "HeaderCheck.h"
#include "Objects.h"
#include "QMXL.h"

using namespace Quellmar::qmxfile;

namespace {

// Opens the group at path, recording why when it cannot.
Hid openGroupAt(Call& call, const Entry& loc, const Path& path) {
    const Found found = findObject(loc.id.get(), path);
    if (found == Found::Missing) {
        call.failMissing("group " + where(loc, path) + " does not exist");
        return Hid();
    }
    if (found == Found::Error) {
        call.failHdf5("cannot look up " + where(loc, path));
        return Hid();
    }
    if (found != Found::Group) {
        call.failOtherKind(where(loc, path) + " is not a group");
        return Hid();
    }
    Hid group(H5Gopen2(loc.id.get(), path.text().c_str(), H5P_DEFAULT));
    if (!group)
        call.failHdf5("cannot open group " + where(loc, path));
    return group;
}

}  // namespace

extern "C" int QMXLopenGroup(int loc, const char* path) {
    Call call("QMXLopenGroup");
    Entry* e = call.location(loc);
    if (!e || !call.text(path, "group path"))
        return -1;
    Hid group = openGroupAt(call, *e, parsePath(path));
    return group ? addObject(call, *e, std::move(group), Kind::Group) : -1;
}

extern "C" int QMXLcloseGroup(int group) {
    Call call("QMXLcloseGroup");
    if (call.exiting())
        return 1;
    Entry* e = call.entry(group);
    if (!e)
        return -1;
    if (e->kind != Kind::Group)
        return call.fail("handle " + std::to_string(group) + " is not a group");
    if (HandleTable::instance().drop(group) < 0)
        return call.failHdf5("closing the group failed");
    return 1;
}

extern "C" int QMXLcreatePathToGroup(int file, const char* path) {
    Call call("QMXLcreatePathToGroup");
    Entry* e = call.location(file);
    if (!e || !call.text(path, "group path") || !writable(call, *e, path))
        return -1;
    const Path p = parsePath(path);
    if (makeGroups(e->id.get(), p) < 0)
        return call.failHdf5("cannot create the groups of " + where(*e, p) +
                             " (is something other than a group in the way?)");
    return 1;
}

extern "C" int QMXLremoveGroup(int file, const char* path) {
    Call call("QMXLremoveGroup");
    Entry* e = call.location(file);
    if (!e || !call.text(path, "group path") || !writable(call, *e, path))
        return -1;
    const Path p = parsePath(path);
    if (p.isSelf())
        return call.fail("refusing to remove the group a path starts from (" + quoted(path) + ")");
    const Found found = findObject(e->id.get(), p);
    if (found == Found::Missing)
        return call.fail("group " + where(*e, p) + " does not exist");
    if (found != Found::Group)
        return call.fail(where(*e, p) + " is not a group");
    {
        // Removing the last link to a group visits every object below it.
        Hid group(H5Gopen2(e->id.get(), p.text().c_str(), H5P_DEFAULT));
        if (!group)
            return call.failHdf5("cannot open group " + where(*e, p));
        if (!checkTree(group.get()))
            return call.failHdf5("cannot remove group " + where(*e, p));
    }
    if (H5Ldelete(e->id.get(), p.text().c_str(), H5P_DEFAULT) < 0)
        return call.failHdf5("cannot remove group " + where(*e, p));
    return 1;
}

extern "C" int QMXLopenOpaqueDataGroup(int file, const char* path) {
    Call call("QMXLopenOpaqueDataGroup");
    Entry* e = call.location(file);
    if (!e || !call.text(path, "group path"))
        return -1;
    const Path p = parsePath(path);
    Hid group = openGroupAt(call, *e, p);
    if (!group)
        return -1;
    const int marked = isObjectGroup(group.get());
    if (marked < 0)
        return call.failHdf5("cannot read the attributes of " + where(*e, p));
    if (marked == 0) {
        // A mark lost to damage is not "another kind of group": the attributes say which.
        if (verifyAttributes(group.get()) < 0)
            return call.failHdf5("cannot read the attributes of " + where(*e, p));
        return call.failOtherKind("group " + where(*e, p) + " is not an object group");
    }
    return addObject(call, *e, std::move(group), Kind::Group);
}

extern "C" int QMXLcreateOpaqueDataGroup(int file, const char* path) {
    Call call("QMXLcreateOpaqueDataGroup");
    Entry* e = call.location(file);
    if (!e || !call.text(path, "group path") || !writable(call, *e, path))
        return -1;
    const Path p = parsePath(path);
    // An existing plain group (the root, or one made for vectors) becomes an object group.
    if (makeGroups(e->id.get(), p) < 0)
        return call.failHdf5("cannot create the groups of " + where(*e, p) +
                             " (is something other than a group in the way?)");
    Hid group = openGroupAt(call, *e, p);
    if (!group)
        return -1;
    if (markObjectGroup(group.get()) < 0)
        return call.failHdf5("cannot mark " + where(*e, p) + " as an object group");
    return addObject(call, *e, std::move(group), Kind::Group);
}

extern "C" int QMXLexistsOpaqueDataGroup(int file, const char* path) {
    Call call("QMXLexistsOpaqueDataGroup");
    Entry* e = call.location(file);
    if (!e || !call.text(path, "group path"))
        return -1;
    const Path p = parsePath(path);
    const Found found = findObject(e->id.get(), p);
    if (found == Found::Error)
        return call.failHdf5("cannot look up " + where(*e, p));
    if (found != Found::Group)
        return 0;
    Hid group(H5Gopen2(e->id.get(), p.text().c_str(), H5P_DEFAULT));
    if (!group)
        return call.failHdf5("cannot open group " + where(*e, p));
    const int marked = isObjectGroup(group.get());
    if (marked == 0 && verifyAttributes(group.get()) < 0)
        return call.failHdf5("cannot read the attributes of " + where(*e, p));
    return marked < 0 ? call.failHdf5("cannot read the attributes of " + where(*e, p)) : marked;
}
