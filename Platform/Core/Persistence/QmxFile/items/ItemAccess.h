#ifndef QUELLMAR_QMXFILE_ITEMACCESS_H
#define QUELLMAR_QMXFILE_ITEMACCESS_H

#include "DataItems.h"
#include "KeptItem.h"
#include "Objects.h"
#include "RangeRead.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

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
// The error of a creation that failed: "exists already" when something is stored under the
// item's name (HDF5 refuses to create over it, so no lookup is made before), else HDF5's.
int failCreation(Call& call, const ItemRef& item, const std::string& what);
bool checkCount(Call& call, long long count, const void* data);
// Creates the item (see createItem) in its group, which is opened, made if missing, and kept
// for the next creation (see KeptGroup); the call frame must keep groups. Negative with
// HDF5's error stack on failure.
herr_t createInGroup(const ItemRef& item, hid_t fileType, hid_t memoryType, const void* data,
                     const LayoutRequest& request);
// The memory type a typed update, append or read works in: the code's own, or for "as stored"
// (QMXL_AS_STORED) the native form of the stored type, owned by `asStored`. Negative after
// reporting the failure.
hid_t typedMemoryType(Call& call, const ItemRef& item, int type, Hid& asStored);
// The compound datatype made by QMXLcreateCompoundType behind a handle; null after reporting
// a handle of another kind or a type without members.
Entry* datatypeEntry(Call& call, int datatype);
// Every size handed out is one the stored bytes can hold (see storageCovers): a caller sizes
// its buffer by it. False, with the damage recorded, when they cannot.
bool checkStoredSize(Call& call, const ItemRef& item, hid_t dataset, long long count,
                     size_t elementSize);

// A reader asks for an item's size or shape and then reads it: calls that would each look the
// item up. Such a call keeps its open dataset here; the next call takes it when it asks for
// the same item (same location, path, and kind if it names one), and every other call closes
// it first, so nothing stays open across a change, a close or a second thread's work.
// A caller that knows the item's kind, element count (checked with checkStoredSize) and type
// code passes them, so the next call need not ask HDF5 again.
struct KnownOfItem {
    long long count = -1;  // -1: not known
    std::optional<int> code;
    std::optional<ItemKind> kind;  // filled in by takeKeptItem
    bool attributesVerified = false;
    std::shared_ptr<const SealedSlices> slices;
    std::shared_ptr<const std::map<std::string, int>> intAttributes;  // KeptItem::intAttributes
};
void keepItem(const ItemRef& item, Hid dataset, std::optional<ItemKind> kind = std::nullopt,
              const KnownOfItem& known = {});
Hid takeKeptItem(const ItemRef& item, std::optional<ItemKind> kind, KnownOfItem* known = nullptr);
// An integer attribute of the kept item read before, when `dataset` is the kept item's
// identifier; null otherwise.
const int* keptIntAttribute(hid_t dataset, const std::string& name);
// Keeps an integer attribute read from the file through `dataset` when it is the kept item's,
// for the calls that keep it (KeptItem::intAttributes) and, in a read-only file, for later
// sessions of the unchanged file.
void keepIntAttribute(hid_t dataset, const std::string& name, int value);
// Another reference to the kept dataset when it is the item's, which stays kept; else empty.
// Lets a handle opened on the item a size query just looked up skip the second lookup.
Hid shareKeptItem(const ItemRef& item);
// The item's path as HDF5 reports it, when the kept group is the item's group (its reported
// path is known); empty otherwise.
std::string keptPathOf(const ItemRef& item);
// The kept dataset when it fits, else openItem. `known`, when given, receives what the
// keeping call found (nothing for a dataset opened here).
Hid reopenItem(Call& call, const ItemRef& item, std::optional<ItemKind> kind,
               KnownOfItem* known = nullptr);

}  // namespace Quellmar::qmxfile

#endif
