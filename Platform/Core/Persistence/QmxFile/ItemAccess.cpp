#include "ItemAccess.h"

namespace Quellmar::qmxfile {

std::optional<ItemRef> itemRef(Call& call, int file, const char* group, const char* name) {
    Entry* loc = call.location(file);
    if (!loc || !call.text(group, "group path", true) || !call.text(name, "dataset name")) return std::nullopt;
    ItemRef item{loc, joinPath(group, name)};
    if (item.path.isSelf()) {
        call.fail("dataset name " + quoted(name) + " in group " + quoted(group) + " names no dataset");
        return std::nullopt;
    }
    return item;
}

std::optional<ItemRef> itemRef(Call& call, int locHandle, const char* path) {
    Entry* loc = call.location(locHandle);
    if (!loc || !call.text(path, "dataset path")) return std::nullopt;
    ItemRef item{loc, parsePath(path)};
    if (item.path.isSelf()) {
        call.fail("path " + quoted(path) + " names no dataset");
        return std::nullopt;
    }
    return item;
}

Hid openItem(Call& call, const ItemRef& item, std::optional<ItemKind> kind) {
    const Found found = findObject(item.loc->id.get(), item.path);
    if (found == Found::Missing) {
        call.fail("dataset " + item.where() + " does not exist");
        return Hid();
    }
    if (found == Found::Error) {
        call.failHdf5("cannot look up " + item.where());
        return Hid();
    }
    if (found != Found::Dataset) {
        call.fail(item.where() + " is not a dataset");
        return Hid();
    }
    Hid dataset(H5Dopen2(item.loc->id.get(), item.path.text().c_str(), H5P_DEFAULT));
    if (!dataset) {
        call.failHdf5("cannot open dataset " + item.where());
        return Hid();
    }
    if (kind) {
        Hid type(H5Dget_type(dataset.get()));
        const ItemKind stored = type ? kindOfType(type.get()) : ItemKind::Other;
        if (stored != *kind) {
            call.fail(item.where() + " is " + nameOfKind(stored) + ", not " + nameOfKind(*kind));
            return Hid();
        }
    }
    return dataset;
}

bool checkAbsent(Call& call, const ItemRef& item) {
    const Found found = findObject(item.loc->id.get(), item.path);
    if (found == Found::Missing) return true;
    if (found == Found::Error)
        call.failHdf5("cannot look up " + item.where());
    else
        call.fail(item.where() + " exists already");
    return false;
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

}  // namespace Quellmar::qmxfile
