// Typed datasets (numbers of one VarDataType), compound datasets, and what applies to any
// dataset.
#include "HeaderCheck.h"
#include "KeptItem.h"
#include "ItemAccess.h"
#include "QMXL.h"
#include "TypeCodes.h"

using namespace Quellmar::qmxfile;

namespace {

bool checkCompression(Call& call, int compression) {
    if (compression >= 0 && compression <= 9)
        return true;
    call.fail("compression level " + std::to_string(compression) + " is not in 0..9");
    return false;
}

int createDataset(Call& call, const ItemRef& item, hid_t fileType, hid_t memoryType,
                  int compression, long long chunk, long long count, const void* data) {
    if (!checkCompression(call, compression) || !checkCount(call, count, data) ||
        !writable(call, *item.loc, item.path.text()))
        return -1;
    LayoutRequest request;
    request.count = static_cast<hsize_t>(count);
    request.elementSize = H5Tget_size(fileType);
    request.compression = compression;
    request.chunk = chunk;
    if (createInGroup(item, fileType, memoryType, data, request) < 0)
        return failCreation(
            call, item,
            "cannot create dataset " + item.where() + " of " + std::to_string(count) + " elements");
    return 1;
}

int updateDataset(Call& call, const ItemRef& item, ItemKind kind, hid_t memoryType, long long count,
                  const void* data) {
    if (!checkCount(call, count, data) || !writable(call, *item.loc, item.path.text()))
        return -1;
    {
        Hid dataset =
            reopenItem(call, item, kind);  // never leave a kept one open across the change
        if (!dataset)
            return -1;
    }
    if (updateItem(item.loc->id.get(), item.path, memoryType, static_cast<hsize_t>(count), data) <
        0)
        return call.failHdf5("cannot update " + item.where() + " to " + std::to_string(count) +
                             " elements");
    return 1;
}

int readDataset(Call& call, const ItemRef& item, ItemKind kind, hid_t memoryType, void* data) {
    KnownOfItem known;
    Hid dataset = reopenItem(call, item, kind, &known);
    if (!dataset)
        return -1;
    const long long count = known.count >= 0 ? known.count : elementCount(dataset.get());
    if (count < 0)
        return call.failHdf5("cannot read the size of " + item.where());
    if (count > 0 && !data)
        return call.fail("no buffer given (null pointer) for " + item.where());
    const std::string path = keptPathOf(item);
    if (readItem(dataset.get(), memoryType, data, count, path.empty() ? nullptr : path.c_str()) <
        0)
        return call.failHdf5("cannot read " + item.where());
    return 1;
}

}  // namespace

extern "C" int QMXLopenDataset(int file, const char* path) {
    // Opening a handle changes nothing: the item a size query kept stays kept, and serves.
    Call call("QMXLopenDataset", true);
    auto item = itemRef(call, file, path);
    if (!item)
        return -1;
    Hid dataset = shareKeptItem(*item);
    const bool verified = dataset && kept().attributesVerified;
    if (!dataset)
        dataset = openItem(call, *item, std::nullopt);
    const int handle = dataset ? addObject(call, *item->loc, std::move(dataset), Kind::Dataset) : -1;
    if (Entry* e = handle > 0 ? HandleTable::instance().find(handle) : nullptr)
        e->attributesVerified = verified;
    return handle;
}

extern "C" int QMXLexistsDataset(int file, const char* path) {
    Call call("QMXLexistsDataset");
    auto item = itemRef(call, file, path);
    if (!item)
        return -1;
    // A missing name in an existing group is one lookup without an error; anything else walks.
    if (!checkPath(item->loc->id.get(), item->path,
                   item->loc->info ? item->loc->info->headerChecks : nullptr))
        return call.failHdf5("cannot look up " + item->where());
    if (H5Lexists(item->loc->id.get(), item->path.text().c_str(), H5P_DEFAULT) == 0)
        return 0;
    const Found found = findObject(item->loc->id.get(), item->path);
    if (found == Found::Error)
        return call.failHdf5("cannot look up " + item->where());
    return found == Found::Dataset ? 1 : 0;
}

extern "C" int QMXLremoveDataset(int loc, const char* path) {
    Call call("QMXLremoveDataset");
    auto item = itemRef(call, loc, path);
    if (!item || !writable(call, *item->loc, item->path.text()))
        return -1;
    const Found found = findObject(item->loc->id.get(), item->path);
    if (found == Found::Missing)
        return call.failMissing("dataset " + item->where() + " does not exist");
    if (found == Found::Error)
        return call.failHdf5("cannot look up " + item->where());
    if (found != Found::Dataset)
        return call.failOtherKind(item->where() + " is not a dataset");
    if (H5Ldelete(item->loc->id.get(), item->path.text().c_str(), H5P_DEFAULT) < 0)
        return call.failHdf5("cannot remove dataset " + item->where());
    return 1;
}

extern "C" int QMXLgetSizeOfDataset(int file, const char* group, const char* name,
                                    long long* bytes) {
    Call call("QMXLgetSizeOfDataset", true, true);
    auto item = itemRef(call, file, group, name);
    if (!item || !call.out(bytes, "size"))
        return -1;
    Hid dataset = reopenItem(call, *item, std::nullopt);
    if (!dataset)
        return -1;
    const long long count = elementCount(dataset.get());
    Hid type(H5Dget_type(dataset.get()));
    if (count < 0 || !type)
        return call.failHdf5("cannot read the size of " + item->where());
    const size_t elementSize = H5Tget_size(type.get());
    if (!checkStoredSize(call, *item, dataset.get(), count, elementSize))
        return -1;
    *bytes = count * static_cast<long long>(elementSize);
    keepItem(*item, std::move(dataset));
    return 1;
}

extern "C" int QMXLgetDatasetInfo(int file, const char* group, const char* name, long long* count,
                                  int* type) {
    Call call("QMXLgetDatasetInfo", true, true);
    auto item = itemRef(call, file, group, name);
    if (!item || !call.out(count, "element count") || !call.out(type, "type code"))
        return -1;
    KnownOfItem known;
    Hid dataset = reopenItem(call, *item, std::nullopt, &known);
    if (!dataset)
        return -1;
    // Asked twice in a row (shape, then the count to size a buffer by): the second time the
    // answer is the one kept with the item, which nothing can have changed in between.
    if (known.count < 0 || !known.code) {
        const long long n = elementCount(dataset.get());
        Hid stored(H5Dget_type(dataset.get()));
        if (n < 0 || !stored)
            return call.failHdf5("cannot describe " + item->where());
        if (!checkStoredSize(call, *item, dataset.get(), n, H5Tget_size(stored.get())))
            return -1;
        known.kind = kindOfType(stored.get());
        known.count = n;
        known.code = known.kind == ItemKind::Typed ? codeOfType(stored.get()) : -1;
    }
    *count = known.count;
    *type = *known.code;
    keepItem(*item, std::move(dataset), known.kind, known);
    return 1;
}

extern "C" int QMXLcreateTypedDataset(int file, const char* group, const char* name,
                                      int compression, long long chunk, int /*fixed*/, int type,
                                      long long count, const void* data) {
    Call call("QMXLcreateTypedDataset", false, true);
    auto item = itemRef(call, file, group, name);
    if (!item)
        return -1;
    if (type == QMXL_AS_STORED)
        return call.fail("a new dataset needs an element type, not -1 (as stored)");
    const hid_t fileType = fileTypeOf(type);
    if (fileType < 0)
        return call.fail("unknown element type code " + std::to_string(type));
    return createDataset(call, *item, fileType, memoryTypeOf(type), compression, chunk, count,
                         data);
}

extern "C" int QMXLupdateTypedDataset(int file, const char* group, const char* name, int type,
                                      long long count, const void* data) {
    Call call("QMXLupdateTypedDataset");
    auto item = itemRef(call, file, group, name);
    if (!item)
        return -1;
    Hid asStored;
    const hid_t memoryType = typedMemoryType(call, *item, type, asStored);
    if (memoryType < 0)
        return -1;
    return updateDataset(call, *item, ItemKind::Typed, memoryType, count, data);
}

extern "C" int QMXLreadTypedDataset(int file, const char* group, const char* name, int type,
                                    void* data) {
    Call call("QMXLreadTypedDataset", true, true);
    auto item = itemRef(call, file, group, name);
    if (!item)
        return -1;
    Hid asStored;
    const hid_t memoryType = typedMemoryType(call, *item, type, asStored);
    if (memoryType < 0)
        return -1;
    return readDataset(call, *item, ItemKind::Typed, memoryType, data);
}

extern "C" int QMXLcreateObjectDataset(int file, const char* group, const char* name,
                                       int compression, long long chunk, int /*fixed*/,
                                       int datatype, int flag, long long count, const void* data) {
    Call call("QMXLcreateObjectDataset", false, true);
    auto item = itemRef(call, file, group, name);
    if (!item)
        return -1;
    Entry* type = datatypeEntry(call, datatype);
    if (!type)
        return -1;
    // With the flag set the records are stored without the padding of their memory layout.
    Hid fileType(H5Tcopy(type->id.get()));
    if (!fileType || (flag && H5Tpack(fileType.get()) < 0))
        return call.failHdf5("cannot derive the stored type of datatype " +
                             std::to_string(datatype));
    return createDataset(call, *item, fileType.get(), type->id.get(), compression, chunk, count,
                         data);
}

extern "C" int QMXLupdateObjectDataset(int file, const char* group, const char* name, int datatype,
                                       long long count, const void* data) {
    Call call("QMXLupdateObjectDataset");
    auto item = itemRef(call, file, group, name);
    if (!item)
        return -1;
    Entry* type = datatypeEntry(call, datatype);
    if (!type)
        return -1;
    return updateDataset(call, *item, ItemKind::Compound, type->id.get(), count, data);
}

extern "C" int QMXLreadObjectDataset(int file, const char* group, const char* name, int datatype,
                                     void* data) {
    Call call("QMXLreadObjectDataset", true, true);
    auto item = itemRef(call, file, group, name);
    if (!item)
        return -1;
    Entry* type = datatypeEntry(call, datatype);
    if (!type)
        return -1;
    return readDataset(call, *item, ItemKind::Compound, type->id.get(), data);
}
