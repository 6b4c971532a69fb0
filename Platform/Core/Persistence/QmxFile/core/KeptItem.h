#ifndef QUELLMAR_QMXFILE_KEPTITEM_H
#define QUELLMAR_QMXFILE_KEPTITEM_H

#include "HandleTable.h"
#include "TypeCodes.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace Quellmar::qmxfile {

struct SealedSlices;  // RangeRead.h

// The dataset an entry point keeps open for the next one (see keepItem in ItemAccess.h).
// Under the library lock. A plain identifier, not a Hid: nothing may close it after HDF5
// has shut down at exit.
struct KeptItem {
    const Entry* loc = nullptr;  // only compared: no call in between could have freed it
    std::string path;
    ItemKind kind = ItemKind::Other;
    // What the keeping call found out, when it did: the element count (checked against the
    // stored bytes) and the code of the stored type.
    long long count = -1;
    std::optional<int> code;
    // Its attributes matched their checksum while this identifier was open, and the slice
    // checksums a range read found sealed.
    bool attributesVerified = false;
    std::shared_ptr<const SealedSlices> sealedSlices;
    // Integer attributes read while it stayed kept, by name: an array's row reads ask for its
    // shape every time. Any call that could write drops the kept item, and these with it.
    // Shared with the file's memory of the item (keepIntAttribute): replaced, never changed.
    std::shared_ptr<const std::map<std::string, int>> intAttributes;
    hid_t id = H5I_INVALID_HID;
};
KeptItem& kept();

// Closes the kept dataset, if any. Every call frame that does not take it does this first.
void releaseKeptItem();

// The group the last item creation put its item in, kept open for the next creation, which
// usually goes to the same group: that one then neither looks the group up again nor makes
// HDF5 walk the path to it. Released like the kept item by every call frame that does not
// take it, so nothing stays open across any other call.
struct KeptGroup {
    const Entry* loc = nullptr;  // only compared, as KeptItem::loc
    std::string path;            // the group's path below loc, as Path::text spells it
    std::string name;            // its absolute path as HDF5 reports it ("/" for the root)
    hid_t id = H5I_INVALID_HID;
    bool owned = false;  // false when id is loc's own identifier
    std::uint64_t address = 0;  // its header address once a call looked it up, else 0
    // The group of the last item read without opening its group: a read opens and keeps the
    // group for the second item in a row there. The location's file handle tells a location
    // from a later one at the same address (handles are never reused).
    const Entry* seenLoc = nullptr;
    int seenFile = 0;
    std::string seenPath;
};

KeptGroup& keptGroup();
void releaseKeptGroup();

}  // namespace Quellmar::qmxfile

#endif
