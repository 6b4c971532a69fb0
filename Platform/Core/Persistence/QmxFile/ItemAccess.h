#ifndef QUELLMAR_QMXFILE_ITEMACCESS_H
#define QUELLMAR_QMXFILE_ITEMACCESS_H

#include "DataItems.h"
#include "Objects.h"

#include <optional>

namespace Quellmar::qmxfile {

// A data item addressed as (location, group, name), checked for the entry points.
struct ItemRef {
    Entry* loc = nullptr;
    Path path;
    std::string where() const { return qmxfile::where(*loc, path); }
};

std::optional<ItemRef> itemRef(Call& call, int file, const char* group, const char* name);
std::optional<ItemRef> itemRef(Call& call, int loc, const char* path);
// Opens an existing dataset, of the given kind when one is given.
Hid openItem(Call& call, const ItemRef& item, std::optional<ItemKind> kind);
// Refuses to create over an existing object.
bool checkAbsent(Call& call, const ItemRef& item);
bool checkCount(Call& call, long long count, const void* data);

// A reader asks for an item's size and then reads it: two calls that would each look the
// item up. The first keeps its open dataset here; the next call takes it when it is the read
// of the same item (same handle, path and kind), and every other call closes it first.
void keepItem(int file, const Path& path, ItemKind kind, Hid dataset);
Hid takeKeptItem(int file, const Path& path, ItemKind kind);
void releaseKeptItem();

}  // namespace Quellmar::qmxfile

#endif
