// Walking a container: the members of a group with their kinds, the names of attributes.
#include "AttributeChecksum.h"
#include "DataItems.h"
#include "GroupIndex.h"
#include "HeaderCheck.h"
#include "ItemChecksum.h"
#include "ItemDamage.h"
#include "Memory.h"
#include "Objects.h"
#include "QMXL.h"

#include <algorithm>

using namespace Quellmar::qmxfile;

namespace {

struct Member {
    std::string name;
    int kind;
};

int kindOf(hid_t group, const char* name) {
    H5O_info_t info;
    if (H5Oget_info_by_name2(group, name, &info, H5O_INFO_BASIC, H5P_DEFAULT) < 0)
        return QMXL_KIND_UNKNOWN;
    if (info.type == H5O_TYPE_GROUP) {
        Hid member(H5Gopen2(group, name, H5P_DEFAULT));
        return member && isObjectGroup(member.get()) > 0 ? QMXL_KIND_OBJECT_GROUP : QMXL_KIND_GROUP;
    }
    if (info.type != H5O_TYPE_DATASET)
        return QMXL_KIND_UNKNOWN;
    Hid dataset(H5Dopen2(group, name, H5P_DEFAULT));
    Hid type(dataset ? H5Dget_type(dataset.get()) : H5I_INVALID_HID);
    if (!type)
        return QMXL_KIND_UNKNOWN;
    switch (kindOfType(type.get())) {
        case ItemKind::Opaque:
            return QMXL_KIND_OPAQUE;
        case ItemKind::String:
            return QMXL_KIND_STRING;
        case ItemKind::Typed:
            return QMXL_KIND_TYPED;
        case ItemKind::Compound:
            return QMXL_KIND_COMPOUND;
        default:
            return QMXL_KIND_UNKNOWN;
    }
}

herr_t collectLink(hid_t, const char* name, const H5L_info_t*, void* data) {
    static_cast<std::vector<Member>*>(data)->push_back({name, QMXL_KIND_UNKNOWN});
    return 0;
}

herr_t collectAttribute(hid_t, const char* name, const H5A_info_t*, void* data) {
    static_cast<std::vector<std::string>*>(data)->push_back(name);
    return 0;
}

// Opens the object at path below loc ("." or "/" for loc itself / the root).
Hid openObject(Call& call, const Entry& loc, const Path& path) {
    const Found found = findObject(loc.id.get(), path);
    if (found == Found::Missing) {
        call.failMissing(where(loc, path) + " does not exist");
        return Hid();
    }
    if (found == Found::Error) {
        call.failHdf5("cannot look up " + where(loc, path));
        return Hid();
    }
    Hid object(H5Oopen(loc.id.get(), path.text().c_str(), H5P_DEFAULT));
    if (!object)
        call.failHdf5("cannot open " + where(loc, path));
    return object;
}

}  // namespace

extern "C" int QMXLlistGroup(int loc, const char* path, int* count, char*** names, int** kinds) {
    Call call("QMXLlistGroup");
    if (!call.out(count, "count") || !call.out(names, "names") || !call.out(kinds, "kinds"))
        return -1;
    *count = 0;
    *names = nullptr;
    *kinds = nullptr;
    Entry* e = call.location(loc);
    if (!e || !call.text(path, "group path"))
        return -1;
    const Path p = parsePath(path);
    if (findObject(e->id.get(), p) != Found::Group)
        return call.fail(where(*e, p) + " is not an existing group");
    Hid group(H5Gopen2(e->id.get(), p.text().c_str(), H5P_DEFAULT));
    if (!group)
        return call.failHdf5("cannot open group " + where(*e, p));
    std::vector<Member> members;
    if (H5Literate(group.get(), H5_INDEX_NAME, H5_ITER_INC, nullptr, collectLink, &members) < 0)
        return call.failHdf5("cannot list group " + where(*e, p));
    std::vector<std::string> texts;
    for (Member& m : members) {
        // A member whose stored header is damaged is listed, of unknown kind, without HDF5
        // reading it; reading or verifying it reports the damage.
        Path member;
        member.parts.push_back(m.name);
        m.kind = checkPath(group.get(), member, e->info ? e->info->headerChecks : nullptr)
                     ? kindOf(group.get(), m.name.c_str())
                     : QMXL_KIND_UNKNOWN;
        texts.push_back(m.name);
    }
    char** list = allocateStrings(texts);
    int* codes = static_cast<int*>(allocateArray(members.size() * sizeof(int)));
    if (!list || !codes) {
        if (list)
            QMXLreleaseStrings(static_cast<int>(texts.size()), list);
        releaseTracked(list);
        releaseTracked(codes);
        return call.fail("out of memory");
    }
    for (size_t i = 0; i < members.size(); ++i)
        codes[i] = members[i].kind;
    *count = static_cast<int>(members.size());
    *names = list;
    *kinds = codes;
    return 1;
}

extern "C" int QMXLlistAttributes(int loc, const char* path, int* count, char*** names) {
    Call call("QMXLlistAttributes");
    if (!call.out(count, "count") || !call.out(names, "names"))
        return -1;
    *count = 0;
    *names = nullptr;
    Entry* e = call.attributeOwner(loc);
    if (!e || !call.text(path, "object path"))
        return -1;
    const Path p = parsePath(path);
    Hid object = openObject(call, *e, p);
    if (!object)
        return -1;
    std::vector<std::string> attributes;
    hsize_t index = 0;
    if (H5Aiterate2(object.get(), H5_INDEX_NAME, H5_ITER_INC, &index, collectAttribute,
                    &attributes) < 0)
        return call.failHdf5("cannot list the attributes of " + where(*e, p));
    char** list = allocateStrings(attributes);
    if (!list)
        return call.fail("out of memory");
    *count = static_cast<int>(attributes.size());
    *names = list;
    return 1;
}

extern "C" int QMXLverifyObject(int loc, const char* path) {
    Call call("QMXLverifyObject");
    Entry* e = call.location(loc);
    if (!e || !call.text(path, "object path"))
        return -1;
    const Path p = parsePath(path);
    Hid object = openObject(call, *e, p);
    if (!object)
        return -1;
    // All fields: the header's messages, times, attribute count and a group's storage (its
    // name index and heap), where damage shows that a name lookup alone never touches.
    // A read of the file that failed says nothing about the bytes: not called damage.
    H5O_info_t info;
    if (H5Oget_info2(object.get(), &info, H5O_INFO_ALL) < 0)
        return call.failHdf5("the header of " + where(*e, p) +
                             (failedReading() ? " could not be read" : " is damaged"));
    if (verifyAttributes(object.get()) < 0)
        return call.failHdf5("the attributes of " + where(*e, p) +
                             (failedReading() ? " could not be read" : " are damaged"));
    if (H5Iget_type(object.get()) == H5I_GROUP) {
        const Damage problem = groupIndexProblem(object.get());
        if (problem.unreadable)
            return call.fail("the member index of " + where(*e, p) + " could not be read: " +
                             problem.what);
        if (!problem.what.empty())
            return call.fail("the member index of " + where(*e, p) + " is damaged: " +
                             problem.what);
    }
    return 1;
}

extern "C" int QMXLsealObject(int loc, const char* path) {
    Call call("QMXLsealObject");
    Entry* e = call.location(loc);
    if (!e || !call.text(path, "object path") || !writable(call, *e, path))
        return -1;
    const Path p = parsePath(path);
    Hid object = openObject(call, *e, p);
    if (!object)
        return -1;
    int added = 0;
    if (H5Iget_type(object.get()) == H5I_DATASET) {
        const int item = sealItem(object.get());
        if (item < 0)
            return call.failHdf5(where(*e, p) + " cannot be given a checksum");
        added += item;
    }
    const int attributes = sealAttributes(object.get());
    if (attributes < 0)
        return call.failHdf5("the attributes of " + where(*e, p) + " cannot be given a checksum");
    return added + attributes;
}
