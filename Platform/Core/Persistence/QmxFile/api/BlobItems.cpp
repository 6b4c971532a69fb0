// Opaque data items (blobs) and string datasets: one byte per element, sized in bytes.
#include "ItemAccess.h"
#include "QMXL.h"

using namespace Quellmar::qmxfile;

namespace {

// The element type of blobs or strings, made once: every call of these entry points needs
// one, and HDF5 copies a type into whatever it makes from it.
hid_t typeOf(ItemKind kind) {
    static hid_t s_opaque = H5I_INVALID_HID, s_string = H5I_INVALID_HID;
    hid_t& id = kind == ItemKind::Opaque ? s_opaque : s_string;
    // Under the library lock. HDF5 may have been shut down and set up again since.
    if (id >= 0 && H5Iis_valid(id) > 0)
        return id;
    Hid made = kind == ItemKind::Opaque ? makeOpaqueType() : makeStringType();
    // Locked: a constant type, which HDF5 neither lets anyone change or close nor counts
    // among the open objects of files.
    if (!made || H5Tlock(made.get()) < 0)
        return H5I_INVALID_HID;
    id = made.release();
    return id;
}

int create(const char* function, ItemKind kind, int file, const char* group, const char* name,
           int compression, int chunk, long long size, const char* data) {
    Call call(function, false, true);
    auto item = itemRef(call, file, group, name);
    if (!item || !checkCount(call, size, data) || !writable(call, *item->loc, item->path.text()))
        return -1;
    if (compression < 0 || compression > 9)
        return call.fail("compression level " + std::to_string(compression) + " is not in 0..9");
    const hid_t type = typeOf(kind);
    if (type < 0)
        return call.failHdf5("cannot make the item type");
    LayoutRequest request;
    request.count = static_cast<hsize_t>(size);
    request.compression = compression;
    request.chunk = chunk;
    if (createInGroup(*item, type, type, data, request) < 0)
        return failCreation(call, *item,
                            "cannot create " + std::string(nameOfKind(kind)) + " " + item->where() +
                                " of " + std::to_string(size) + " bytes");
    return 1;
}

int update(const char* function, ItemKind kind, int file, const char* group, const char* name,
           long long size, const char* data) {
    Call call(function);
    auto item = itemRef(call, file, group, name);
    if (!item || !checkCount(call, size, data) || !writable(call, *item->loc, item->path.text()))
        return -1;
    {
        Hid dataset = openItem(call, *item, kind);
        if (!dataset)
            return -1;
    }
    const hid_t type = typeOf(kind);
    if (type < 0)
        return call.failHdf5("cannot make the item type");
    if (updateItem(item->loc->id.get(), item->path, type, static_cast<hsize_t>(size), data) < 0)
        return call.failHdf5("cannot update " + item->where() + " to " + std::to_string(size) +
                             " bytes");
    return 1;
}

int read(const char* function, ItemKind kind, int file, const char* group, const char* name,
         char* buffer) {
    Call call(function, true, true);
    auto item = itemRef(call, file, group, name);
    if (!item)
        return -1;
    KnownOfItem known;
    Hid dataset = reopenItem(call, *item, kind, &known);
    if (!dataset)
        return -1;
    const long long size = known.count >= 0 ? known.count : elementCount(dataset.get());
    if (size < 0)
        return call.failHdf5("cannot read the size of " + item->where());
    if (size > 0 && !buffer)
        return call.fail("no buffer given (null pointer) for " + item->where());
    const hid_t type = typeOf(kind);
    if (type < 0)
        return call.failHdf5("cannot make the item type");
    const std::string path = keptPathOf(*item);
    if (readItem(dataset.get(), type, buffer, size, path.empty() ? nullptr : path.c_str()) < 0)
        return call.failHdf5("cannot read " + item->where());
    return 1;
}

int size(const char* function, ItemKind kind, int file, const char* group, const char* name,
         long long* bytes) {
    Call call(function, true, true);
    auto item = itemRef(call, file, group, name);
    if (!item || !call.out(bytes, "size"))
        return -1;
    Hid dataset = reopenItem(call, *item, kind);
    if (!dataset)
        return -1;
    const long long count = elementCount(dataset.get());
    if (count < 0)
        return call.failHdf5("cannot read the size of " + item->where());
    if (!checkStoredSize(call, *item, dataset.get(), count, 1))
        return -1;
    *bytes = count;
    keepItem(*item, std::move(dataset), kind,
             KnownOfItem{count, -1, kind, false, nullptr, nullptr});
    return 1;
}

}  // namespace

extern "C" int QMXLcreateCompressedOpaqueData(int file, const char* group, const char* name,
                                              int compression, int chunk, long long size,
                                              const char* data) {
    return create("QMXLcreateCompressedOpaqueData", ItemKind::Opaque, file, group, name,
                  compression, chunk, size, data);
}

extern "C" int QMXLupdateOpaqueData(int file, const char* group, const char* name, long long size,
                                    const char* data) {
    return update("QMXLupdateOpaqueData", ItemKind::Opaque, file, group, name, size, data);
}

extern "C" int QMXLreadOpaqueData(int file, const char* group, const char* name, char* buffer) {
    return read("QMXLreadOpaqueData", ItemKind::Opaque, file, group, name, buffer);
}

extern "C" int QMXLgetSizeOfOpaqueData(int file, const char* group, const char* name,
                                       long long* bytes) {
    return size("QMXLgetSizeOfOpaqueData", ItemKind::Opaque, file, group, name, bytes);
}

extern "C" int QMXLcreateCompressedStringDataset(int file, const char* group, const char* name,
                                                 int compression, int chunk, long long size,
                                                 const char* data) {
    return create("QMXLcreateCompressedStringDataset", ItemKind::String, file, group, name,
                  compression, chunk, size, data);
}

extern "C" int QMXLupdateStringDataset(int file, const char* group, const char* name,
                                       long long size, const char* data) {
    return update("QMXLupdateStringDataset", ItemKind::String, file, group, name, size, data);
}

extern "C" int QMXLreadStringDataset(int file, const char* group, const char* name, char* buffer) {
    return read("QMXLreadStringDataset", ItemKind::String, file, group, name, buffer);
}

extern "C" int QMXLgetSizeOfStringDataset(int file, const char* group, const char* name,
                                          long long* bytes) {
    return size("QMXLgetSizeOfStringDataset", ItemKind::String, file, group, name, bytes);
}
