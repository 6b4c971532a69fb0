#include "KeptItem.h"

#include "Library.h"

#include <utility>

namespace Quellmar::qmxfile {

KeptItem& kept() {
    static auto* item = new KeptItem;
    return *item;
}

void releaseKeptItem() {
    KeptItem& k = kept();
    k.sealedSlices.reset();
    k.intAttributes.reset();
    if (k.id < 0)
        return;
    const hid_t id = std::exchange(k.id, H5I_INVALID_HID);
    if (!isExiting())
        closeId(id);  // at exit HDF5 closes what is left itself
}

namespace {

void releaseBoth() {
    releaseKeptItem();
    releaseKeptGroup();
}

[[maybe_unused]] const bool s_releasedAtExit = (releaseAtExit(&releaseBoth), true);

}  // namespace

KeptGroup& keptGroup() {
    static auto* group = new KeptGroup;
    return *group;
}

void releaseKeptGroup() {
    KeptGroup& k = keptGroup();
    if (k.id < 0)
        return;
    const hid_t id = std::exchange(k.id, H5I_INVALID_HID);
    const bool owned = std::exchange(k.owned, false);
    k.loc = nullptr;
    k.address = 0;
    if (owned && !isExiting())
        closeId(id);
}

}  // namespace Quellmar::qmxfile
