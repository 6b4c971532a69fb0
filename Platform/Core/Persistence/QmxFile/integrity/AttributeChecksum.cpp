#include "AttributeChecksum.h"

#include "ChecksumPath.h"
#include "Crc32c.h"
#include "Format.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace Quellmar::qmxfile {
namespace {

struct Sum {
    std::uint32_t crc = 0;
    std::size_t covered = 0;
    bool failed = false;
};

void extend(Sum& sum, const void* data, std::size_t size) {
    sum.crc = crc32c::Extend(sum.crc, data, size);
}

void extendCount(Sum& sum, std::uint64_t value) {
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    extend(sum, bytes, 8);
}

// The checksums are left out: the data checksums change with the data, not the attributes
// (and the slice checksums with every append).
bool covered(const char* name) {
    return std::strcmp(name, kChecksumAttribute) != 0 &&
           std::strcmp(name, kSliceChecksumAttribute) != 0 &&
           std::strcmp(name, kAttributesChecksumAttribute) != 0;
}

// Adds the type as H5Tencode serializes it; false when it cannot.
bool addType(Sum& sum, hid_t type) {
    size_t size = 0;
    if (H5Tencode(type, nullptr, &size) < 0)
        return false;
    std::vector<unsigned char> encoded(size);
    if (H5Tencode(type, encoded.data(), &size) < 0)
        return false;
    extend(sum, encoded.data(), encoded.size());
    return true;
}

// Adds one attribute: its name with the terminating NUL, its type as H5Tencode serializes it,
// its element count and its elements as stored (variable-length values, which only other
// programs write, by name and type alone).
herr_t addAttribute(hid_t object, const char* name, const H5A_info_t*, void* data) {
    auto& sum = *static_cast<Sum*>(data);
    if (!covered(name))
        return 0;
    Hid attribute(H5Aopen(object, name, H5P_DEFAULT));
    Hid type(attribute ? H5Aget_type(attribute.get()) : H5I_INVALID_HID);
    Hid space(attribute ? H5Aget_space(attribute.get()) : H5I_INVALID_HID);
    const hssize_t points = space ? H5Sget_simple_extent_npoints(space.get()) : -1;
    const size_t size = type ? H5Tget_size(type.get()) : 0;
    if (points < 0 || size == 0) {
        sum.failed = true;
        return -1;
    }
    extend(sum, name, std::strlen(name) + 1);
    if (!addType(sum, type.get())) {
        sum.failed = true;
        return -1;
    }
    extendCount(sum, static_cast<std::uint64_t>(points));
    const bool variable =
        H5Tdetect_class(type.get(), H5T_VLEN) > 0 || H5Tis_variable_str(type.get()) > 0;
    if (!variable && points > 0) {
        std::vector<unsigned char> value(size * static_cast<size_t>(points));
        if (H5Aread(attribute.get(), type.get(), value.data()) < 0) {
            sum.failed = true;
            return -1;
        }
        extend(sum, value.data(), value.size());
    }
    ++sum.covered;
    return 0;
}

// The sum over a compound dataset's record type, then the object's attributes in name order;
// nullopt when one cannot be read. Record members are matched by name on reading, so a damaged
// member name or offset would read other bytes.
std::optional<Sum> sumOf(hid_t object) {
    Sum sum;
    if (H5Iget_type(object) == H5I_DATASET) {
        Hid type(H5Dget_type(object));
        if (!type)
            return std::nullopt;
        if (H5Tget_class(type.get()) == H5T_COMPOUND) {
            if (!addType(sum, type.get()))
                return std::nullopt;
            ++sum.covered;
        }
    }
    hsize_t index = 0;
    if (H5Aiterate2(object, H5_INDEX_NAME, H5_ITER_INC, &index, addAttribute, &sum) < 0 ||
        sum.failed)
        return std::nullopt;
    return sum;
}

void pushReason(const char* function, unsigned line, const char* reason) {
    H5Epush2(H5E_DEFAULT, __FILE__, function, line, H5E_ERR_CLS, H5E_ATTR, H5E_READERROR, "%s",
             reason);
}

}  // namespace

herr_t refreshAttributesChecksum(hid_t object) {
    ErrorKeeper keeper;
    const auto sum = sumOf(object);
    const htri_t exists = H5Aexists(object, kAttributesChecksumAttribute);
    if (!sum || exists < 0) {
        keeper.capture();
        return -1;
    }
    if (sum->covered == 0)
        return exists > 0 ? H5Adelete(object, kAttributesChecksumAttribute) : 0;
    std::uint32_t value = 0;
    if (!sealChecksum(object, Covered::Attributes, sum->crc, value)) {
        pushReason(__func__, __LINE__,
                   "the object's path is unknown, so its attribute checksum cannot cover it");
        keeper.capture();
        return -1;
    }
    Hid attribute;
    if (exists > 0) {
        attribute = Hid(H5Aopen(object, kAttributesChecksumAttribute, H5P_DEFAULT));
    } else {
        Hid space(H5Screate(H5S_SCALAR));
        if (space)
            attribute = Hid(H5Acreate2(object, kAttributesChecksumAttribute, H5T_STD_U32LE,
                                       space.get(), H5P_DEFAULT, H5P_DEFAULT));
    }
    if (!attribute || H5Awrite(attribute.get(), H5T_NATIVE_UINT32, &value) < 0) {
        keeper.capture();
        return -1;
    }
    return attribute.close();
}

int sealAttributes(hid_t object) {
    const htri_t exists = H5Aexists(object, kAttributesChecksumAttribute);
    if (exists < 0)
        return -1;
    if (exists > 0)
        return 0;
    const auto sum = sumOf(object);
    if (!sum)
        return -1;
    if (sum->covered == 0)
        return 0;
    return refreshAttributesChecksum(object) < 0 ? -1 : 1;
}

herr_t verifyAttributes(hid_t object) {
    ErrorKeeper keeper;
    auto damaged = [&](const char* reason) {
        H5Eclear2(H5E_DEFAULT);
        pushReason(__func__, __LINE__, reason);
        keeper.capture();
        return -1;
    };
    const auto sum = sumOf(object);
    if (!sum)
        return damaged("the attributes cannot be read: the object is damaged");
    const htri_t exists = H5Aexists(object, kAttributesChecksumAttribute);
    if (exists < 0)
        return damaged("the attribute checksum is unreadable: the object is damaged");
    if (exists == 0) {
        if (sum->covered == 0 || !checksumsRequired(object))
            return 0;
        return damaged("the attribute checksum is missing: the object's attributes are damaged");
    }
    Hid attribute(H5Aopen(object, kAttributesChecksumAttribute, H5P_DEFAULT));
    Hid type(attribute ? H5Aget_type(attribute.get()) : H5I_INVALID_HID);
    Hid space(attribute ? H5Aget_space(attribute.get()) : H5I_INVALID_HID);
    std::uint32_t stored = 0;
    if (!type || !space || H5Tget_class(type.get()) != H5T_INTEGER ||
        H5Tget_size(type.get()) != 4 || H5Sget_simple_extent_npoints(space.get()) != 1 ||
        H5Aread(attribute.get(), H5T_NATIVE_UINT32, &stored) < 0)
        return damaged("the attribute checksum is unreadable: the object is damaged");
    if (!checksumMatches(object, Covered::Attributes, sum->crc, stored))
        return damaged("attribute checksum mismatch: the object's attributes are damaged");
    return 0;
}

}  // namespace Quellmar::qmxfile
