#include "DataItems.h"

#include "AttributeChecksum.h"
#include "AttributeIO.h"
#include "ChecksumPath.h"
#include "Filters.h"
#include "HeaderCheck.h"
#include "ItemChecksum.h"
#include "Objects.h"

#include <vector>

namespace Quellmar::qmxfile {

namespace {

Hid makeSpace(hsize_t count) {
    return Hid(H5Screate_simple(1, &count, nullptr));
}

}  // namespace

herr_t createItem(hid_t group, const std::string& name, const std::string& path, hid_t fileType,
                  hid_t memoryType, const void* data, const LayoutRequest& request) {
    ErrorKeeper keeper;
    Hid madeDcpl;
    const hid_t dcpl = creationProperties(request, madeDcpl);
    if (dcpl < 0) {
        keeper.capture();
        return -1;
    }
    Hid space = makeSpace(request.count);
    if (!space) {
        keeper.capture();
        return -1;
    }
    Hid dataset(
        H5Dcreate2(group, name.c_str(), fileType, space.get(), H5P_DEFAULT, dcpl, H5P_DEFAULT));
    if (!dataset) {
        keeper.capture();
        return -1;
    }
    trustNewObject(dataset.get());
    if (writeFresh(dataset.get(), fileType, memoryType, request.count, data, path) < 0 ||
        rememberCompression(dataset.get(), request) < 0 ||
        (H5Tget_class(fileType) == H5T_COMPOUND && refreshAttributesChecksum(dataset.get()) < 0)) {
        keeper.capture();
        // No half-written item stays behind.
        dataset.close();
        H5Ldelete(group, name.c_str(), H5P_DEFAULT);
        return -1;
    }
    if (dataset.close() < 0) {
        keeper.capture();
        return -1;
    }
    return 0;
}

herr_t updateItem(hid_t loc, const Path& path, hid_t memoryType, hsize_t count, const void* data) {
    ErrorKeeper keeper;
    if (!checkPath(loc, path)) {
        keeper.capture();
        return -1;
    }
    Hid old(H5Dopen2(loc, path.text().c_str(), H5P_DEFAULT));
    if (!old) {
        keeper.capture();
        return -1;
    }
    const long long stored = elementCount(old.get());
    if (stored < 0) {
        keeper.capture();
        return -1;
    }
    if (static_cast<hsize_t>(stored) == count) {
        if (writeChecked(old.get(), memoryType, count, data, false) < 0 || old.close() < 0) {
            keeper.capture();
            return -1;
        }
        return 0;
    }
    // Another size: lay the item out anew (a small item may become large and the other way
    // round), keep its type, compression and attributes, and swap the links at the end so
    // that a failure leaves the old item in place.
    Hid type(H5Dget_type(old.get()));
    Hid madeDcpl;
    const hid_t dcpl = creationProperties(requestOf(old.get(), count), madeDcpl);
    if (dcpl < 0) {
        keeper.capture();
        return -1;
    }
    Hid space = makeSpace(count);
    if (!type || !space) {
        keeper.capture();
        return -1;
    }
    Hid fresh(H5Dcreate_anon(loc, type.get(), space.get(), dcpl, H5P_DEFAULT));
    if (fresh)
        trustNewObject(fresh.get());
    if (!fresh || copyAttributes(old.get(), fresh.get()) < 0) {
        keeper.capture();
        return -1;
    }
    // After the attributes: the copied checksum belongs to the old contents. The new item has
    // no name until it is linked, and its checksum covers the one it takes over.
    const std::string fullPath = objectPath(old.get());
    if (writeChecked(fresh.get(), memoryType, count, data, false, fullPath.c_str()) < 0) {
        keeper.capture();
        return -1;
    }
    old.close();
    if (replaceItem(loc, path, fresh) < 0) {
        keeper.capture();
        return -1;
    }
    return 0;
}

herr_t replaceItem(hid_t loc, const Path& path, Hid& fresh) {
    ErrorKeeper keeper;
    const std::string name = path.text();
    const std::string spare = name + ".~replaced";
    if (H5Lmove(loc, name.c_str(), loc, spare.c_str(), H5P_DEFAULT, H5P_DEFAULT) < 0) {
        keeper.capture();
        return -1;
    }
    if (H5Olink(fresh.get(), loc, name.c_str(), H5P_DEFAULT, H5P_DEFAULT) < 0) {
        keeper.capture();
        H5Lmove(loc, spare.c_str(), loc, name.c_str(), H5P_DEFAULT, H5P_DEFAULT);
        return -1;
    }
    if (H5Ldelete(loc, spare.c_str(), H5P_DEFAULT) < 0 || fresh.close() < 0) {
        keeper.capture();
        return -1;
    }
    return 0;
}

herr_t readItem(hid_t dataset, hid_t memoryType, void* data, long long count, const char* path) {
    if (count < 0)
        count = elementCount(dataset);
    if (count < 0)
        return -1;
    if (readChecked(dataset, memoryType, static_cast<hsize_t>(count), data, path) < 0) {
        // HDF5 says only that a filter failed; the reader needs to know which plugin to install.
        explainMissingFilter(dataset);
        return -1;
    }
    return 0;
}

}  // namespace Quellmar::qmxfile
