// Large datasets: how an item is laid out, reads of element ranges, appends and truncation.
#include "ItemAccess.h"
#include "RangeRead.h"
#include "SliceChecksums.h"
#include "Appends.h"
#include "Filters.h"

#include <cstring>
#include "QMXL.h"

using namespace Quellmar::qmxfile;

extern "C" int QMXLgetDatasetLayout(int file, const char* group, const char* name, int* layout,
                                    long long* chunk) {
    Call call("QMXLgetDatasetLayout", true, true);
    auto item = itemRef(call, file, group, name);
    if (!item || !call.out(layout, "layout") || !call.out(chunk, "chunk size"))
        return -1;
    Hid dataset = reopenItem(call, *item, std::nullopt);
    if (!dataset)
        return -1;
    Hid dcpl(H5Dget_create_plist(dataset.get()));
    const H5D_layout_t stored = dcpl ? H5Pget_layout(dcpl.get()) : H5D_LAYOUT_ERROR;
    if (stored == H5D_LAYOUT_ERROR)
        return call.failHdf5("cannot read the layout of " + item->where());
    *chunk = 0;
    switch (stored) {
        case H5D_COMPACT:
            *layout = QMXL_LAYOUT_COMPACT;
            break;
        case H5D_CHUNKED: {
            hsize_t elements = 0;
            if (H5Pget_chunk(dcpl.get(), 1, &elements) != 1)
                return call.failHdf5("cannot read the chunk size of " + item->where());
            *layout = extendible(dataset.get()) ? QMXL_LAYOUT_EXTENDIBLE : QMXL_LAYOUT_CHUNKED;
            *chunk = static_cast<long long>(elements);
            break;
        }
        default:
            *layout = QMXL_LAYOUT_CONTIGUOUS;
            break;
    }
    keepItem(*item, std::move(dataset));
    return 1;
}

namespace {

std::string rangeText(long long first, long long count) {
    return "elements [" + std::to_string(first) + ", " + std::to_string(first + count) + ")";
}

int readRange(Call& call, const ItemRef& item, ItemKind kind, hid_t memoryType, long long first,
              long long count, void* data) {
    const size_t memorySize = H5Tget_size(memoryType);
    auto zeroed = [&](int result) {
        if (data && count > 0 && memorySize > 0)
            std::memset(data, 0, static_cast<size_t>(count) * memorySize);
        return result;
    };
    if (count > 0 && !data)
        return call.fail("no buffer given (null pointer) for " + item.where());
    KnownOfItem known;  // kept again with the item, for the next call
    Hid dataset = reopenItem(call, item, kind, &known);
    if (!dataset)
        return zeroed(-1);
    const long long total = elementCount(dataset.get());
    if (total < 0)
        return zeroed(call.failHdf5("cannot read the size of " + item.where()));
    if (first < 0 || count < 0 || first > total || count > total - first)
        return zeroed(call.fail(rangeText(first, count) + " of " + item.where() +
                                " are not within its " + std::to_string(total) + " elements"));
    if (readRangeChecked(dataset.get(), memoryType, static_cast<hsize_t>(total),
                         static_cast<hsize_t>(first), static_cast<hsize_t>(count), data,
                         &known.attributesVerified, &known.slices) < 0) {
        // HDF5 says only that a filter failed; the reader needs to know which plugin to install.
        explainMissingFilter(dataset.get());
        return call.failHdf5("cannot read " + rangeText(first, count) + " of " + item.where());
    }
    keepItem(item, std::move(dataset), kind, known);
    return 1;
}

int append(Call& call, const ItemRef& item, ItemKind kind, hid_t memoryType, long long count,
           const void* data) {
    if (!checkCount(call, count, data) || !writable(call, *item.loc, item.path.text()))
        return -1;
    // Taken from the size query before it when that kept it: the append owns it from here on,
    // so nothing kept refers to the item while it changes.
    Hid dataset = reopenItem(call, item, kind);
    if (!dataset)
        return -1;
    if (kind == ItemKind::Compound) {
        // New records with a member the caller's type lacks would store undefined values.
        Hid stored(H5Dget_type(dataset.get()));
        const int members = stored ? H5Tget_nmembers(stored.get()) : -1;
        if (members < 0)
            return call.failHdf5("cannot read the record type of " + item.where());
        for (int i = 0; i < members; ++i) {
            char* name = H5Tget_member_name(stored.get(), static_cast<unsigned>(i));
            const std::string member = name ? name : "";
            H5free_memory(name);
            if (H5Tget_member_index(memoryType, member.c_str()) < 0) {
                H5Eclear2(H5E_DEFAULT);
                return call.fail("the records given lack the member " + quoted(member) +
                                 " that " + item.where() + " stores");
            }
        }
    }
    if (count == 0)
        return 1;
    if (appendItem(item.loc->id.get(), item.path, std::move(dataset), memoryType,
                   static_cast<hsize_t>(count), data) < 0)
        return call.failHdf5("cannot append " + std::to_string(count) + " elements to " +
                             item.where());
    return 1;
}

}  // namespace

extern "C" int QMXLreadTypedDatasetRange(int file, const char* group, const char* name, int type,
                                         long long first, long long count, void* data) {
    Call call("QMXLreadTypedDatasetRange", true, true);
    auto item = itemRef(call, file, group, name);
    if (!item)
        return -1;
    Hid asStored;
    const hid_t memoryType = typedMemoryType(call, *item, type, asStored);
    if (memoryType < 0)
        return -1;
    return readRange(call, *item, ItemKind::Typed, memoryType, first, count, data);
}

extern "C" int QMXLreadObjectDatasetRange(int file, const char* group, const char* name,
                                          int datatype, long long first, long long count,
                                          void* data) {
    Call call("QMXLreadObjectDatasetRange", true, true);
    auto item = itemRef(call, file, group, name);
    if (!item)
        return -1;
    Entry* type = datatypeEntry(call, datatype);
    if (!type)
        return -1;
    return readRange(call, *item, ItemKind::Compound, type->id.get(), first, count, data);
}

extern "C" int QMXLappendTypedDataset(int file, const char* group, const char* name, int type,
                                      long long count, const void* data) {
    Call call("QMXLappendTypedDataset", true);  // the item a size query kept serves (append)
    auto item = itemRef(call, file, group, name);
    if (!item)
        return -1;
    Hid asStored;
    const hid_t memoryType = typedMemoryType(call, *item, type, asStored);
    if (memoryType < 0)
        return -1;
    return append(call, *item, ItemKind::Typed, memoryType, count, data);
}

extern "C" int QMXLappendObjectDataset(int file, const char* group, const char* name,
                                       int datatype, long long count, const void* data) {
    Call call("QMXLappendObjectDataset", true);
    auto item = itemRef(call, file, group, name);
    if (!item)
        return -1;
    Entry* type = datatypeEntry(call, datatype);
    if (!type)
        return -1;
    return append(call, *item, ItemKind::Compound, type->id.get(), count, data);
}

extern "C" int QMXLtruncateDataset(int file, const char* group, const char* name,
                                   long long count) {
    Call call("QMXLtruncateDataset");
    auto item = itemRef(call, file, group, name);
    if (!item || !writable(call, *item->loc, item->path.text()))
        return -1;
    long long total = -1;
    {
        Hid dataset = reopenItem(call, *item, std::nullopt);
        if (!dataset)
            return -1;
        total = elementCount(dataset.get());
        if (total < 0)
            return call.failHdf5("cannot read the size of " + item->where());
    }
    if (count < 0 || count > total)
        return call.fail("cannot shorten " + item->where() + " of " + std::to_string(total) +
                         " elements to " + std::to_string(count));
    if (truncateItem(item->loc->id.get(), item->path, static_cast<hsize_t>(count)) < 0)
        return call.failHdf5("cannot shorten " + item->where() + " to " + std::to_string(count) +
                             " elements");
    return 1;
}
