#include "AttributeIO.h"

#include "AttributeChecksum.h"

#include <cstdlib>
#include <vector>

namespace Quellmar::qmxfile {

htri_t attributeExists(hid_t object, const std::string& name) {
    return H5Aexists(object, name.c_str());
}

herr_t createScalarAttribute(hid_t object, const std::string& name, hid_t fileType,
                             hid_t memoryType, const void* value) {
    ErrorKeeper keeper;
    Hid space(H5Screate(H5S_SCALAR));
    if (!space)
        return -1;
    Hid attribute(
        H5Acreate2(object, name.c_str(), fileType, space.get(), H5P_DEFAULT, H5P_DEFAULT));
    if (!attribute || H5Awrite(attribute.get(), memoryType, value) < 0 || attribute.close() < 0 ||
        refreshAttributesChecksum(object) < 0) {
        keeper.capture();
        return -1;
    }
    return 0;
}

namespace {

// One element, whatever the stored shape claims: anything else is not ours to convert.
bool holdsOneElement(hid_t attribute) {
    Hid space(H5Aget_space(attribute));
    return space && H5Sget_simple_extent_npoints(space.get()) == 1;
}

}  // namespace

herr_t writeScalarAttribute(hid_t object, const std::string& name, hid_t memoryType,
                            const void* value) {
    ErrorKeeper keeper;
    Hid attribute(H5Aopen(object, name.c_str(), H5P_DEFAULT));
    if (!attribute || !holdsOneElement(attribute.get()) ||
        H5Awrite(attribute.get(), memoryType, value) < 0 || attribute.close() < 0 ||
        refreshAttributesChecksum(object) < 0) {
        keeper.capture();
        return -1;
    }
    return 0;
}

herr_t setScalarAttribute(hid_t object, const std::string& name, hid_t fileType, hid_t memoryType,
                          const void* value) {
    const htri_t exists = attributeExists(object, name);
    if (exists < 0)
        return -1;
    if (exists > 0) {
        bool same = false;
        {
            Hid attribute(H5Aopen(object, name.c_str(), H5P_DEFAULT));
            Hid type(attribute ? H5Aget_type(attribute.get()) : H5I_INVALID_HID);
            same = type && H5Tequal(type.get(), fileType) > 0 && holdsOneElement(attribute.get());
        }
        if (same)
            return writeScalarAttribute(object, name, memoryType, value);
        if (H5Adelete(object, name.c_str()) < 0)
            return -1;
    }
    return createScalarAttribute(object, name, fileType, memoryType, value);
}

herr_t readScalarAttribute(hid_t object, const std::string& name, hid_t memoryType, void* value) {
    ErrorKeeper keeper;
    Hid attribute(H5Aopen(object, name.c_str(), H5P_DEFAULT));
    if (!attribute) {
        keeper.capture();
        return -1;
    }
    Hid type(H5Aget_type(attribute.get()));
    const H5T_class_t cls = type ? H5Tget_class(type.get()) : H5T_NO_CLASS;
    if ((cls != H5T_INTEGER && cls != H5T_FLOAT) || !holdsOneElement(attribute.get()))
        return -2;
    if (H5Aread(attribute.get(), memoryType, value) < 0) {
        keeper.capture();
        return -1;
    }
    return 0;
}

namespace {

herr_t copyAttribute(hid_t from, const char* name, const H5A_info_t*, void* target) {
    Hid attribute(H5Aopen(from, name, H5P_DEFAULT));
    Hid type(attribute ? H5Aget_type(attribute.get()) : H5I_INVALID_HID);
    Hid space(attribute ? H5Aget_space(attribute.get()) : H5I_INVALID_HID);
    if (!type || !space)
        return -1;
    const hssize_t points = H5Sget_simple_extent_npoints(space.get());
    if (points < 0)
        return -1;
    std::vector<unsigned char> buffer(H5Tget_size(type.get()) * static_cast<size_t>(points) + 1);
    if (H5Aread(attribute.get(), type.get(), buffer.data()) < 0)
        return -1;
    const hid_t to = *static_cast<hid_t*>(target);
    Hid copy(H5Acreate2(to, name, type.get(), space.get(), H5P_DEFAULT, H5P_DEFAULT));
    herr_t status = copy ? H5Awrite(copy.get(), type.get(), buffer.data()) : -1;
    if (H5Tdetect_class(type.get(), H5T_VLEN) > 0 || H5Tis_variable_str(type.get()) > 0)
        H5Dvlen_reclaim(type.get(), space.get(), H5P_DEFAULT, buffer.data());
    return status;
}

}  // namespace

herr_t copyAttributes(hid_t from, hid_t to) {
    hid_t target = to;
    return H5Aiterate2(from, H5_INDEX_NAME, H5_ITER_NATIVE, nullptr, copyAttribute, &target);
}

herr_t setStringAttribute(hid_t object, const std::string& name, const std::string& value) {
    ErrorKeeper keeper;
    const htri_t exists = attributeExists(object, name);
    if (exists < 0)
        return -1;
    if (exists > 0 && H5Adelete(object, name.c_str()) < 0)
        return -1;
    // HDF5 has no zero-length fixed strings: an empty text is one NUL byte of padding.
    Hid type(H5Tcopy(H5T_C_S1));
    if (!type || H5Tset_size(type.get(), value.empty() ? 1 : value.size()) < 0 ||
        H5Tset_strpad(type.get(), H5T_STR_NULLPAD) < 0)
        return -1;
    Hid space(H5Screate(H5S_SCALAR));
    Hid attribute(
        space ? H5Acreate2(object, name.c_str(), type.get(), space.get(), H5P_DEFAULT, H5P_DEFAULT)
              : H5I_INVALID_HID);
    const char empty = '\0';
    if (!attribute ||
        H5Awrite(attribute.get(), type.get(), value.empty() ? &empty : value.data()) < 0 ||
        attribute.close() < 0 || refreshAttributesChecksum(object) < 0) {
        keeper.capture();
        return -1;
    }
    return 0;
}

std::optional<std::string> readStringAttribute(hid_t object, const std::string& name) {
    ErrorKeeper keeper;
    Hid attribute(H5Aopen(object, name.c_str(), H5P_DEFAULT));
    Hid type(attribute ? H5Aget_type(attribute.get()) : H5I_INVALID_HID);
    if (!type) {
        keeper.capture();
        return std::nullopt;
    }
    if (H5Tget_class(type.get()) != H5T_STRING || !holdsOneElement(attribute.get()))
        return std::nullopt;
    if (H5Tis_variable_str(type.get()) > 0) {
        // Written by other tools (h5py writes these by default); read, never written here.
        Hid memory(H5Tcopy(H5T_C_S1));
        if (!memory || H5Tset_size(memory.get(), H5T_VARIABLE) < 0)
            return std::nullopt;
        char* text = nullptr;
        if (H5Aread(attribute.get(), memory.get(), &text) < 0) {
            keeper.capture();
            return std::nullopt;
        }
        std::string value = text ? text : "";
        H5free_memory(text);
        return value;
    }
    const size_t size = H5Tget_size(type.get());
    std::vector<char> buffer(size + 1, '\0');
    Hid memory(H5Tcopy(type.get()));
    if (!memory || H5Tset_cset(memory.get(), H5Tget_cset(type.get())) < 0 ||
        H5Aread(attribute.get(), memory.get(), buffer.data()) < 0) {
        keeper.capture();
        return std::nullopt;
    }
    // Padding and terminators are not part of the text.
    std::string value(buffer.data(), size);
    const auto end = value.find('\0');
    if (end != std::string::npos)
        value.resize(end);
    return value;
}

}  // namespace Quellmar::qmxfile
