// Attributes on files (their root group), groups and datasets.
#include "AttributeChecksum.h"
#include "AttributeIO.h"
#include "Call.h"
#include "Format.h"
#include "HeaderCheck.h"
#include "ItemAccess.h"
#include "KeptItem.h"
#include "QMXL.h"

#include <cstdlib>
#include <cstring>
#include <string>

using namespace Quellmar::qmxfile;

namespace {

// The object's path in its file, for messages. Keeps HDF5's error stack, which every API call
// clears.
std::string pathOf(hid_t object) {
    ErrorKeeper keeper;
    keeper.capture();
    const ssize_t size = H5Iget_name(object, nullptr, 0);
    if (size <= 0)
        return "?";
    std::string path(static_cast<size_t>(size) + 1, '\0');
    H5Iget_name(object, path.data(), path.size());
    path.resize(static_cast<size_t>(size));
    return path;
}

// The object handle and attribute name, checked, on an object whose attributes are intact:
// damage to one attribute must neither read as another value nor be sealed by a write.
Entry* owner(Call& call, int object, const char* name) {
    Entry* e = call.attributeOwner(object);
    if (!e || !call.text(name, "attribute name"))
        return nullptr;
    if (e->attributesVerified)
        return e;
    // The root's header was read by the file's open; every other handle's object was checked
    // when it was opened.
    if (!checkOpenObject(e->id.get()) || verifyAttributes(e->id.get()) < 0) {
        std::string what = "the attributes of " + quoted(pathOf(e->id.get()));
        if (e->info)
            what += " in file " + quoted(e->info->name);
        call.failHdf5("cannot use " + what);
        return nullptr;
    }
    e->attributesVerified = true;
    if (e->id.get() == kept().id)  // a handle sharing the kept item's identifier
        kept().attributesVerified = true;
    return e;
}

std::string on(const Entry& e, const char* name) {
    std::string text = "attribute " + quoted(name);
    if (e.info)
        text += " in file " + quoted(e.info->name);
    return text;
}

bool canWrite(Call& call, const Entry& e, const char* name) {
    if (!e.info || !e.info->readOnly) {
        // What the file's memory says of the container marker holds until the marker is written.
        if (e.info && std::strcmp(name, kMarkerAttribute) == 0)
            forgetMarker(e.info->headerChecks);
        if (std::strcmp(name, kChecksumsMarkerAttribute) == 0)
            forgetChecksums(e.info ? e.info->headerChecks : nullptr);
        return true;
    }
    call.fail("cannot write " + on(e, name) + ": the file is open read-only");
    return false;
}

// 1 present, 0 missing (message recorded), negative on failure.
int present(Call& call, const Entry& e, const char* name) {
    const htri_t exists = attributeExists(e.id.get(), name);
    if (exists < 0)
        return call.failHdf5("cannot look for " + on(e, name));
    if (exists == 0)
        call.fail(on(e, name) + " does not exist");
    return exists > 0 ? 1 : 0;
}

int create(const char* function, int object, const char* name, hid_t fileType, hid_t memoryType,
           const void* value) {
    Call call(function);
    Entry* e = owner(call, object, name);
    if (!e || !call.out(value, "value") || !canWrite(call, *e, name))
        return -1;
    const htri_t exists = attributeExists(e->id.get(), name);
    if (exists < 0)
        return call.failHdf5("cannot look for " + on(*e, name));
    if (exists > 0)
        return call.fail(on(*e, name) + " exists already");
    if (createScalarAttribute(e->id.get(), name, fileType, memoryType, value) < 0)
        return call.failHdf5("cannot create " + on(*e, name));
    return 1;
}

int update(const char* function, int object, const char* name, hid_t memoryType,
           const void* value) {
    Call call(function);
    Entry* e = owner(call, object, name);
    if (!e || !call.out(value, "value") || !canWrite(call, *e, name))
        return -1;
    const int exists = present(call, *e, name);
    if (exists <= 0)
        return -1;
    if (writeScalarAttribute(e->id.get(), name, memoryType, value) < 0)
        return call.failHdf5("cannot update " + on(*e, name) + " (is it a single number?)");
    return 1;
}

// Integer attributes of the kept item, for a handle on it (see keptIntAttribute).
const int* keptInt(const Entry& e, const char* name, hid_t memoryType) {
    return memoryType == H5T_NATIVE_INT ? keptIntAttribute(e.id.get(), name) : nullptr;
}

void keepInt(const Entry& e, const char* name, hid_t memoryType, int value) {
    if (memoryType == H5T_NATIVE_INT)
        keepIntAttribute(e.id.get(), name, value);
}

// Reads change nothing: the kept item stays kept.
int read(const char* function, int object, const char* name, hid_t memoryType, void* value) {
    Call call(function, true);
    Entry* e = owner(call, object, name);
    if (!e || !call.out(value, "value"))
        return -1;
    const int* known = keptInt(*e, name, memoryType);
    if (known) {
        *static_cast<int*>(value) = *known;
        return 1;
    }
    const int exists = present(call, *e, name);
    if (exists <= 0)
        return -1;
    const herr_t status = readScalarAttribute(e->id.get(), name, memoryType, value);
    if (status == -2)
        return call.fail(on(*e, name) + " is not a single number");
    if (status < 0)
        return call.failHdf5("cannot read " + on(*e, name));
    keepInt(*e, name, memoryType, *static_cast<const int*>(value));
    return 1;
}

}  // namespace

extern "C" int QMXLhasAttribute(int object, const char* name) {
    Call call("QMXLhasAttribute", true);
    Entry* e = owner(call, object, name);
    if (!e)
        return -1;
    if (keptInt(*e, name, H5T_NATIVE_INT))
        return 1;
    const htri_t exists = attributeExists(e->id.get(), name);
    return exists < 0 ? call.failHdf5("cannot look for " + on(*e, name)) : exists > 0 ? 1 : 0;
}

extern "C" int QMXLcreateAttribute(int object, const char* name, const int* value) {
    return create("QMXLcreateAttribute", object, name, H5T_STD_I32LE, H5T_NATIVE_INT, value);
}

extern "C" int QMXLupdateAttribute(int object, const char* name, const int* value) {
    return update("QMXLupdateAttribute", object, name, H5T_NATIVE_INT, value);
}

extern "C" int QMXLsetAttribute(int object, const char* name, const int* value) {
    Call call("QMXLsetAttribute");
    Entry* e = owner(call, object, name);
    if (!e || !call.out(value, "value") || !canWrite(call, *e, name))
        return -1;
    if (setScalarAttribute(e->id.get(), name, H5T_STD_I32LE, H5T_NATIVE_INT, value) < 0)
        return call.failHdf5("cannot set " + on(*e, name));
    return 1;
}

extern "C" int QMXLreadAttribute(int object, const char* name, int* value) {
    return read("QMXLreadAttribute", object, name, H5T_NATIVE_INT, value);
}

extern "C" int QMXLcreateUInt64Attribute(int object, const char* name,
                                         const unsigned long long* value) {
    return create("QMXLcreateUInt64Attribute", object, name, H5T_STD_U64LE, H5T_NATIVE_ULLONG,
                  value);
}

extern "C" int QMXLupdateUInt64Attribute(int object, const char* name,
                                         const unsigned long long* value) {
    return update("QMXLupdateUInt64Attribute", object, name, H5T_NATIVE_ULLONG, value);
}

extern "C" int QMXLreadUInt64Attribute(int object, const char* name, unsigned long long* value) {
    return read("QMXLreadUInt64Attribute", object, name, H5T_NATIVE_ULLONG, value);
}

extern "C" int QMXLsetStringAttribute(int object, const char* name, const char* value) {
    Call call("QMXLsetStringAttribute");
    Entry* e = owner(call, object, name);
    if (!e || !call.text(value, "attribute text", true) || !canWrite(call, *e, name))
        return -1;
    if (setStringAttribute(e->id.get(), name, value) < 0)
        return call.failHdf5("cannot set " + on(*e, name));
    return 1;
}

extern "C" int QMXLgetStringAttribute(int object, const char* name, char** value) {
    Call call("QMXLgetStringAttribute", true);
    if (!call.out(value, "text"))
        return -1;
    *value = nullptr;
    Entry* e = owner(call, object, name);
    if (!e)
        return -1;
    const int exists = present(call, *e, name);
    if (exists <= 0)
        return -1;
    const auto text = readStringAttribute(e->id.get(), name);
    if (!text)
        return call.failHdf5("cannot read " + on(*e, name) + " as text");
    // Plain malloc: the caller frees it with free().
    char* copy = static_cast<char*>(std::malloc(text->size() + 1));
    if (!copy)
        return call.fail("out of memory");
    std::memcpy(copy, text->data(), text->size());
    copy[text->size()] = '\0';
    *value = copy;
    return 1;
}
