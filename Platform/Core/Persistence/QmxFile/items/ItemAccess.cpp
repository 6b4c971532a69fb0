#include "ItemAccess.h"

#include "HeaderCheck.h"
#include "ChecksumPath.h"
#include "ItemChecksum.h"
#include "QMXL.h"
#include "TypeCodes.h"

#include <utility>

namespace Quellmar::qmxfile {

std::optional<ItemRef> itemRef(Call& call, int file, const char* group, const char* name) {
    Entry* loc = call.location(file);
    if (!loc || !call.text(group, "group path", true) || !call.text(name, "dataset name"))
        return std::nullopt;
    ItemRef item{loc, joinPath(group, name)};
    if (item.path.isSelf()) {
        call.fail("dataset name " + quoted(name) + " in group " + quoted(group) +
                  " names no dataset");
        return std::nullopt;
    }
    return item;
}

std::optional<ItemRef> itemRef(Call& call, int locHandle, const char* path) {
    Entry* loc = call.location(locHandle);
    if (!loc || !call.text(path, "dataset path"))
        return std::nullopt;
    ItemRef item{loc, parsePath(path)};
    if (item.path.isSelf()) {
        call.fail("path " + quoted(path) + " names no dataset");
        return std::nullopt;
    }
    return item;
}

namespace {

KeptGroup* keptParent(const ItemRef& item, bool make);

// Why a dataset did not open, as the error of call.
Hid diagnoseOpen(Call& call, const ItemRef& item) {
    // The open's own reason, taken off the stack before the look below clears it: when that
    // look finds nothing wrong (a read of the file failed once), it is the only reason there is.
    struct Kept {
        hid_t stack = H5Eget_current_stack();
        ~Kept() {
            if (stack >= 0)
                H5Eclose_stack(stack);
        }
    } first;
    const Found found = findObject(item.loc->id.get(), item.path);
    if (found == Found::Missing) {
        call.failMissing("dataset " + item.where() + " does not exist");
        return Hid();
    }
    if (found == Found::Error) {
        call.failHdf5("cannot look up " + item.where());
        return Hid();
    }
    if (found != Found::Dataset) {
        call.failOtherKind(item.where() + " is not a dataset");
        return Hid();
    }
    // A dataset that would not open (damaged, say): opened once more so that HDF5's own
    // reason is on its error stack for the message.
    Hid again(H5Dopen2(item.loc->id.get(), item.path.text().c_str(), H5P_DEFAULT));
    if (again && first.stack >= 0) {
        again.close();
        H5Eset_current_stack(std::exchange(first.stack, H5I_INVALID_HID));  // closes it
    }
    call.failHdf5("cannot open dataset " + item.where());
    return Hid();
}

}  // namespace

Hid openItem(Call& call, const ItemRef& item, std::optional<ItemKind> kind) {
    const std::shared_ptr<void> none;
    const std::shared_ptr<void>& checks = item.loc->info ? item.loc->info->headerChecks : none;
    // Items of one group are mostly read one after the other: the group, checked and opened
    // once (from the second of them on), serves them all. When it will not open, the walk from
    // the location says why.
    Hid dataset;
    if (KeptGroup* group = keptParent(item, false)) {
        Path leaf;
        leaf.parts.push_back(item.path.leaf());
        if (!checkPathBelow(group->id, group->address, leaf, checks)) {
            call.failHdf5("cannot open dataset " + item.where());
            return Hid();
        }
        dataset = Hid(H5Dopen2(group->id, leaf.parts.back().c_str(), H5P_DEFAULT));
    } else {
        // The common case first: one lookup. Only a failure pays for the walk that says why.
        if (!checkPath(item.loc->id.get(), item.path, checks)) {
            call.failHdf5("cannot open dataset " + item.where());
            return Hid();
        }
        dataset = Hid(H5Dopen2(item.loc->id.get(), item.path.text().c_str(), H5P_DEFAULT));
    }
    if (!dataset)
        return diagnoseOpen(call, item);
    if (kind) {
        Hid type(H5Dget_type(dataset.get()));
        const ItemKind stored = type ? kindOfType(type.get()) : ItemKind::Other;
        if (stored != *kind) {
            call.failOtherKind(item.where() + " is " + nameOfKind(stored) + ", not " +
                               nameOfKind(*kind));
            return Hid();
        }
    }
    return dataset;
}

int failCreation(Call& call, const ItemRef& item, const std::string& what) {
    Found found;
    {
        ErrorKeeper keeper;  // the creation's own error stack, for failHdf5 below
        keeper.capture();
        found = findObject(item.loc->id.get(), item.path);
    }
    if (found != Found::Missing && found != Found::Error)
        return call.fail(item.where() + " exists already");
    return call.failHdf5(what);
}

bool checkCount(Call& call, long long count, const void* data) {
    if (count < 0) {
        call.fail("negative size " + std::to_string(count));
        return false;
    }
    if (count > 0 && !data) {
        call.fail("no data given (null pointer) for " + std::to_string(count) + " elements");
        return false;
    }
    return true;
}

bool checkStoredSize(Call& call, const ItemRef& item, hid_t dataset, long long count,
                     size_t elementSize) {
    const Coverage coverage = count >= 0 ? storedCoverage(dataset, static_cast<hsize_t>(count),
                                                          elementSize)
                                         : Coverage::Short;
    if (coverage == Coverage::Covered)
        return true;
    if (coverage == Coverage::Unknown) {
        call.failHdf5("cannot read the stored size of " + item.where());
        return false;
    }
    call.fail(item.where() + " claims " + std::to_string(count) + " elements of " +
              std::to_string(elementSize) + " bytes, more than is stored (the item is damaged)");
    return false;
}

namespace {

// The kept group that holds the item, opened and kept when another one is kept. `make`: missing
// groups on the way are made (creation); otherwise null when the group cannot be opened, with
// HDF5's reason on its error stack. Null too for an item straight below the location when
// opening: loc itself serves it.
KeptGroup* keptParent(const ItemRef& item, bool make) {
    const bool self = item.path.parts.size() == 1 && !item.path.absolute;
    if (self && !make)
        return nullptr;
    std::string key = item.path.parentText();
    KeptGroup& k = keptGroup();
    if (k.id >= 0 && k.loc == item.loc && k.path == key)
        return &k;
    // A unit of work that reads one item of a group would pay for opening and closing the
    // group: HDF5 walks the path itself then, and the second item read there opens it.
    if (!make && (k.seenLoc != item.loc || k.seenFile != item.loc->file || k.seenPath != key)) {
        k.seenLoc = item.loc;
        k.seenFile = item.loc->file;
        k.seenPath = std::move(key);
        return nullptr;
    }
    releaseKeptGroup();
    Path parent = item.path;
    parent.parts.pop_back();
    const hid_t loc = item.loc->id.get();
    Hid group;
    std::string name;
    if (self) {
        // The item goes straight below the handle: nothing to open.
        name = item.loc->kind == Kind::File ? std::string("/") : objectPath(loc);
    } else {
        if (!checkPath(loc, parent, item.loc->info ? item.loc->info->headerChecks : nullptr))
            return nullptr;
        // Usually the group is there: opened straight away. Only a creation that finds it
        // missing (or something else in its place) makes it, or says why it cannot.
        // (HDF5 prints no errors under a call frame.)
        if (make) {
            group = Hid(H5Gopen2(loc, key.c_str(), H5P_DEFAULT));
            if (!group && makeGroups(loc, parent) < 0)
                return nullptr;
        }
        if (!group)
            group = Hid(H5Gopen2(loc, key.c_str(), H5P_DEFAULT));
        if (!group)
            return nullptr;
        name = objectPath(group.get());
    }
    if (name.empty()) {
        // HDF5 names every object reached by a path; without a name no checksum can cover it.
        H5Epush2(H5E_DEFAULT, __FILE__, __func__, __LINE__, H5E_ERR_CLS, H5E_SYM, H5E_NOTFOUND,
                 "%s", "the group's path is unknown");
        return nullptr;
    }
    k.loc = item.loc;
    k.path = std::move(key);
    k.name = std::move(name);
    k.owned = static_cast<bool>(group);
    k.address = 0;
    k.id = group ? group.release() : loc;
    return &k;
}

}  // namespace

std::string keptPathOf(const ItemRef& item) {
    const KeptGroup& k = keptGroup();
    if (k.id < 0 || k.loc != item.loc || k.name.empty() || k.path != item.path.parentText())
        return {};
    const std::string& leaf = item.path.leaf();
    return k.name == "/" ? "/" + leaf : k.name + "/" + leaf;
}

herr_t createInGroup(const ItemRef& item, hid_t fileType, hid_t memoryType, const void* data,
                     const LayoutRequest& request) {
    const KeptGroup* k = keptParent(item, true);
    if (!k)
        return -1;
    return createItem(k->id, item.path.leaf(), keptPathOf(item), fileType, memoryType, data,
                      request);
}

namespace {

// The memory of the item's file that keeps what read-only sessions verified (HeaderCheck.h):
// for items named from the file's root, whose path alone says which item they are, in a file
// open read-only. Null otherwise, so writers pay nothing for it.
const std::shared_ptr<void>* itemMemory(const Entry& loc) {
    const FileInfo* info = loc.info.get();
    return loc.kind == Kind::File && info && info->readOnly ? &info->headerChecks : nullptr;
}
const std::shared_ptr<void>* itemMemory(const ItemRef& item) {
    return itemMemory(*item.loc);
}

}  // namespace

void keepItem(const ItemRef& item, Hid dataset, std::optional<ItemKind> kind,
              const KnownOfItem& known) {
    releaseKeptItem();
    ItemKind stored;
    if (kind) {
        stored = *kind;
    } else {
        Hid type(H5Dget_type(dataset.get()));
        if (!type)
            return;
        stored = kindOfType(type.get());
    }
    KeptItem& k = kept();
    k.loc = item.loc;
    k.path = item.path.text();
    k.kind = stored;
    k.count = known.count;
    k.code = known.code;
    k.attributesVerified = known.attributesVerified;
    k.sealedSlices = known.slices;
    k.intAttributes = known.intAttributes;
    k.id = dataset.release();
    // Verifications worth keeping beyond this session, with the attribute values read: the
    // memory serves only sessions of the unchanged file.
    const std::shared_ptr<void>* memory = itemMemory(item);
    if (memory && (known.attributesVerified || known.slices)) {
        KnownOfItem what = known;
        what.kind = stored;
        rememberItem(*memory, k.path, std::make_shared<const KnownOfItem>(std::move(what)));
    }
}

const int* keptIntAttribute(hid_t dataset, const std::string& name) {
    const KeptItem& k = kept();
    if (k.id < 0 || dataset != k.id || !k.intAttributes)
        return nullptr;
    const auto found = k.intAttributes->find(name);
    return found == k.intAttributes->end() ? nullptr : &found->second;
}

void keepIntAttribute(hid_t dataset, const std::string& name, int value) {
    KeptItem& k = kept();
    if (k.id < 0 || dataset != k.id)
        return;
    // The values may be shared with the file's memory: changed on a copy.
    auto values = k.intAttributes ? std::make_shared<std::map<std::string, int>>(*k.intAttributes)
                                  : std::make_shared<std::map<std::string, int>>();
    (*values)[name] = value;
    k.intAttributes = values;
    // While kept, nothing can have closed the location: no call in between released the item.
    const std::shared_ptr<void>* memory = k.loc ? itemMemory(*k.loc) : nullptr;
    const std::shared_ptr<const void> recalled = memory ? recalledItem(*memory, k.path) : nullptr;
    if (!recalled)
        return;
    KnownOfItem what = *static_cast<const KnownOfItem*>(recalled.get());
    what.intAttributes = std::move(values);
    rememberItem(*memory, k.path, std::make_shared<const KnownOfItem>(std::move(what)));
}

Hid takeKeptItem(const ItemRef& item, std::optional<ItemKind> kind, KnownOfItem* known) {
    if (known)
        *known = KnownOfItem{};
    KeptItem& k = kept();
    if (k.id < 0)
        return Hid();
    if (k.loc != item.loc || (kind && k.kind != *kind) || k.path != item.path.text()) {
        releaseKeptItem();
        return Hid();
    }
    if (known)
        *known = KnownOfItem{k.count, k.code, k.kind, k.attributesVerified,
                             std::move(k.sealedSlices), std::move(k.intAttributes)};
    k.sealedSlices.reset();
    k.intAttributes.reset();
    return Hid(std::exchange(k.id, H5I_INVALID_HID));
}

Hid shareKeptItem(const ItemRef& item) {
    const KeptItem& k = kept();
    if (k.id < 0 || k.loc != item.loc || k.path != item.path.text() || H5Iinc_ref(k.id) < 0)
        return Hid();
    return Hid(k.id);
}

Hid reopenItem(Call& call, const ItemRef& item, std::optional<ItemKind> kind, KnownOfItem* known) {
    Hid dataset = takeKeptItem(item, kind, known);
    if (dataset)
        return dataset;
    dataset = openItem(call, item, kind);
    const std::shared_ptr<void>* memory = itemMemory(item);
    if (dataset && known && memory)
        if (auto recalled = recalledItem(*memory, item.path.text()))
            *known = *static_cast<const KnownOfItem*>(recalled.get());
    return dataset;
}

// The memory type a typed update or read works in: the code's own, or for "as stored" the
// native form of the stored type, owned by `asStored`. Negative after reporting the failure.
Entry* datatypeEntry(Call& call, int datatype) {
    Entry* e = call.entry(datatype);
    if (e && e->kind != Kind::Datatype) {
        call.fail("handle " + std::to_string(datatype) + " is not a datatype");
        return nullptr;
    }
    if (e && H5Tget_nmembers(e->id.get()) <= 0) {
        call.fail("compound datatype " + std::to_string(datatype) + " has no members");
        return nullptr;
    }
    return e;
}

hid_t typedMemoryType(Call& call, const ItemRef& item, int type, Hid& asStored) {
    if (type != QMXL_AS_STORED) {
        const hid_t memoryType = memoryTypeOf(type);
        if (memoryType < 0)
            call.fail("unknown element type code " + std::to_string(type));
        return memoryType;
    }
    Hid dataset = reopenItem(call, item, ItemKind::Typed);
    if (!dataset)
        return -1;
    Hid stored(H5Dget_type(dataset.get()));
    asStored = Hid(stored ? H5Tget_native_type(stored.get(), H5T_DIR_ASCEND) : H5I_INVALID_HID);
    if (!asStored) {
        call.failHdf5("cannot read the type of " + item.where());
        return -1;
    }
    // Callers size their buffers by the stored elements (QMXLgetSizeOfDataset); a native type of
    // another size (a 3-byte integer, a damaged type) would move more bytes than they hold.
    if (H5Tget_size(asStored.get()) != H5Tget_size(stored.get())) {
        call.fail("the stored element type of " + item.where() + " (" +
                  std::to_string(H5Tget_size(stored.get())) +
                  " bytes) has no native type of its size");
        return -1;
    }
    keepItem(item, std::move(dataset));  // for the read or update that follows in this call
    return asStored.get();
}

}  // namespace Quellmar::qmxfile
