#include "Format.h"

#include "Hid.h"

#include <optional>
#include <vector>

namespace Quellmar::qmxfile {

namespace {

struct Assignment {
    int version;
    int (*predicate)(const char*);
};

std::vector<Assignment>& assignments() {
    static auto* list = new std::vector<Assignment>;
    return *list;
}

}  // namespace

int formatVersionFor(const std::string& fileName) {
    // The latest assignment wins, so a host can override an earlier one.
    const auto& list = assignments();
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if (it->predicate(fileName.c_str()))
            return it->version;
    return kFormatVersion;
}

void assignFormatVersion(int version, int (*predicate)(const char*)) {
    assignments().push_back({version, predicate});
}

namespace {

// What the marker says; nothing when it cannot be read (taken as Typed: damage must not turn
// checking off or weaken it, but a failed read is not an answer to keep).
std::optional<Checksums> readChecksumsMarker(hid_t file) {
    // Opened straight away; only a failure asks whether it is there at all.
    Hid attribute(H5Aopen(file, kChecksumsMarkerAttribute, H5P_DEFAULT));
    if (!attribute) {
        if (H5Aexists(file, kChecksumsMarkerAttribute) == 0)
            return Checksums::Optional;
        return std::nullopt;
    }
    // One value, read in the type it is written in (no conversion path to set up); a damaged
    // extent must not make HDF5 write past it.
    Hid space(H5Aget_space(attribute.get()));
    signed char value = 0;
    if (!space || H5Sget_simple_extent_npoints(space.get()) != 1 ||
        H5Aread(attribute.get(), H5T_NATIVE_SCHAR, &value) < 0)
        return std::nullopt;
    return value == 1                       ? Checksums::Plain
           : value == kNamedChecksumsMarker ? Checksums::Named
                                            : Checksums::Typed;
}

// HDF5 never hands out a file identifier twice while it stays open, so the last one asked
// about names the same open file for as long as it is open. A missing marker is not
// remembered (a new file gets its marker after its first attributes), nor one that could not
// be read.
thread_local hid_t t_lastFile = H5I_INVALID_HID;
thread_local Checksums t_lastAnswer = Checksums::Typed;

}  // namespace

Checksums checksumsOf(hid_t object) {
    const hid_t file = H5Iget_file_id(object);
    if (file < 0)
        return Checksums::Typed;
    const Checksums answer =
        file == t_lastFile ? t_lastAnswer : readChecksums(file).value_or(Checksums::Typed);
    // The reference H5Iget_file_id added; H5Fclose would cost several times as much, and
    // this runs on every read and write of an item.
    H5Idec_ref(file);
    return answer;
}

std::optional<Checksums> readChecksums(hid_t file) {
    ErrorKeeper keeper;
    keeper.capture();
    const std::optional<Checksums> found = readChecksumsMarker(file);
    if (found)
        primeChecksums(file, *found);
    return found;
}

void primeChecksums(hid_t file, Checksums answer) {
    if (answer == Checksums::Optional)
        return;
    t_lastFile = file;
    t_lastAnswer = answer;
}

void forgetChecksums() {
    t_lastFile = H5I_INVALID_HID;
}

}  // namespace Quellmar::qmxfile
