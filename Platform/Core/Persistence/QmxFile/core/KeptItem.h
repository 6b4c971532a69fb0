#ifndef QUELLMAR_QMXFILE_KEPTITEM_H
#define QUELLMAR_QMXFILE_KEPTITEM_H

#include "HandleTable.h"
#include "TypeCodes.h"

#include <string>

namespace Quellmar::qmxfile {

// The dataset an entry point keeps open for the next one (see keepItem in ItemAccess.h).
// Under the library lock. A plain identifier, not a Hid: nothing may close it after HDF5
// has shut down at exit.
struct KeptItem {
    const Entry* loc = nullptr;  // only compared: no call in between could have freed it
    std::string path;
    ItemKind kind = ItemKind::Other;
    hid_t id = H5I_INVALID_HID;
};
KeptItem& kept();

// Closes the kept dataset, if any. Every call frame that does not take it does this first.
void releaseKeptItem();

}  // namespace Quellmar::qmxfile

#endif
