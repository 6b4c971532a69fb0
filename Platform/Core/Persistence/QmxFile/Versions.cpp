#include "AttributeIO.h"
#include "Call.h"
#include "Format.h"
#include "QMXL.h"

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
        if (it->predicate(fileName.c_str())) return it->version;
    return kFormatVersion;
}

herr_t writeMarker(hid_t file, int version) {
    if (setStringAttribute(file, kMarkerAttribute, kMarkerText) < 0) return -1;
    return setScalarAttribute(file, kVersionAttribute, H5T_STD_I32LE, H5T_NATIVE_INT, &version);
}

herr_t writeChecksumsMarker(hid_t file) {
    const signed char value = kNamedChecksumsMarker;
    return setScalarAttribute(file, kChecksumsMarkerAttribute, H5T_STD_I8LE, H5T_NATIVE_SCHAR, &value);
}

namespace {

Checksums readChecksumsMarker(hid_t file) {
    // Opened straight away; only a failure asks whether it is there at all.
    Hid attribute(H5Aopen(file, kChecksumsMarkerAttribute, H5P_DEFAULT));
    if (!attribute) return H5Aexists(file, kChecksumsMarkerAttribute) == 0 ? Checksums::Optional : Checksums::Named;
    // One value, read in the type it is written in (no conversion path to set up); a damaged
    // extent must not make HDF5 write past it.
    Hid space(H5Aget_space(attribute.get()));
    signed char value = 0;
    if (!space || H5Sget_simple_extent_npoints(space.get()) != 1 ||
        H5Aread(attribute.get(), H5T_NATIVE_SCHAR, &value) < 0)
        return Checksums::Named;
    return value == 1 ? Checksums::Plain : Checksums::Named;
}

}  // namespace

Checksums checksumsOf(hid_t object) {
    // HDF5 never hands out a file identifier twice while it stays open, so the last one asked
    // about names the same open file for as long as it is open. A missing marker is not
    // remembered: a new file gets its marker after its first attributes.
    thread_local hid_t lastFile = H5I_INVALID_HID;
    thread_local Checksums lastAnswer = Checksums::Named;
    const hid_t file = H5Iget_file_id(object);
    if (file < 0) return Checksums::Named;
    Checksums answer = lastAnswer;
    if (file != lastFile) {
        // Looking leaves HDF5's error stack as the caller had it.
        ErrorKeeper keeper;
        keeper.capture();
        answer = readChecksumsMarker(file);
        if (answer != Checksums::Optional) {
            lastFile = file;
            lastAnswer = answer;
        }
    }
    // The reference H5Iget_file_id added; H5Fclose would cost several times as much, and
    // this runs on every read and write of an item.
    H5Idec_ref(file);
    return answer;
}

int hasMarker(hid_t file) {
    const htri_t exists = attributeExists(file, kMarkerAttribute);
    if (exists <= 0) return exists < 0 ? -1 : 0;
    const auto text = readStringAttribute(file, kMarkerAttribute);
    return text && *text == kMarkerText ? 1 : 0;
}

}  // namespace Quellmar::qmxfile

using namespace Quellmar::qmxfile;

namespace {

Entry* fileEntry(Call& call, int file) {
    Entry* e = call.entry(file);
    if (e && e->kind != Kind::File) {
        call.fail("handle " + std::to_string(file) + " is not a file");
        return nullptr;
    }
    return e;
}

}  // namespace

extern "C" int QMXLgetQMVersionOfFile(int file, int* version) {
    Call call("QMXLgetQMVersionOfFile");
    Entry* e = fileEntry(call, file);
    if (!e || !call.out(version, "version")) return -1;
    const htri_t exists = attributeExists(e->id.get(), kVersionAttribute);
    if (exists < 0) return call.failHdf5("cannot look for the format version of " + quoted(e->info->name));
    if (exists == 0) return call.fail("file " + quoted(e->info->name) + " carries no format version");
    int value = 0;
    if (readScalarAttribute(e->id.get(), kVersionAttribute, H5T_NATIVE_INT, &value) < 0)
        return call.failHdf5("cannot read the format version of " + quoted(e->info->name));
    *version = value;
    return 1;
}

extern "C" int QMXLgetQMVersionOfLibraryByFileHandle(int file, int* version) {
    Call call("QMXLgetQMVersionOfLibraryByFileHandle");
    Entry* e = fileEntry(call, file);
    if (!e || !call.out(version, "version")) return -1;
    *version = formatVersionFor(e->info->name);
    return 1;
}

extern "C" int QMXLupdateQMVersionOfFile(int file, int version) {
    Call call("QMXLupdateQMVersionOfFile");
    Entry* e = fileEntry(call, file);
    if (!e) return -1;
    if (version < 1) return call.fail("refusing the invalid format version " + std::to_string(version));
    if (e->info->native) return call.fail("native HDF5 file " + quoted(e->info->name) + " carries no format version");
    if (e->info->readOnly) return call.fail("file " + quoted(e->info->name) + " is open read-only");
    if (setScalarAttribute(e->id.get(), kVersionAttribute, H5T_STD_I32LE, H5T_NATIVE_INT, &version) < 0)
        return call.failHdf5("cannot write the format version of " + quoted(e->info->name));
    return 1;
}

extern "C" int QMXLassignCurrentQMFileVersionForExtensions(int version, int (*predicate)(const char* name)) {
    Call call("QMXLassignCurrentQMFileVersionForExtensions");
    if (version < 1) return call.fail("refusing the invalid format version " + std::to_string(version));
    if (!predicate) return call.fail("no predicate given (null pointer)");
    assignments().push_back({version, predicate});
    return 1;
}
