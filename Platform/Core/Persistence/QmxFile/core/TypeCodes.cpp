#include "TypeCodes.h"

#include "QMXL.h"

namespace Quellmar::qmxfile {

namespace {

struct Code {
    int code;
    const char* name;
    hid_t (*memory)();
    hid_t (*file)();
};

// Functions because HDF5's type constants are only valid once the library is open.
const Code kCodes[] = {
    {QMXL_INT32, "int32", [] { return H5T_NATIVE_INT32; }, [] { return H5T_STD_I32LE; }},
    {QMXL_UINT32, "uint32", [] { return H5T_NATIVE_UINT32; }, [] { return H5T_STD_U32LE; }},
    {QMXL_FLOAT32, "float32", [] { return H5T_NATIVE_FLOAT; }, [] { return H5T_IEEE_F32LE; }},
    {QMXL_FLOAT64, "float64", [] { return H5T_NATIVE_DOUBLE; }, [] { return H5T_IEEE_F64LE; }},
    {QMXL_LONG_DOUBLE, "long double", [] { return H5T_NATIVE_LDOUBLE; },
     [] { return H5T_NATIVE_LDOUBLE; }},
    {QMXL_INT16, "int16", [] { return H5T_NATIVE_INT16; }, [] { return H5T_STD_I16LE; }},
    {QMXL_INT64, "int64", [] { return H5T_NATIVE_INT64; }, [] { return H5T_STD_I64LE; }},
    {QMXL_UINT64, "uint64", [] { return H5T_NATIVE_UINT64; }, [] { return H5T_STD_U64LE; }},
    {QMXL_UINT16, "uint16", [] { return H5T_NATIVE_UINT16; }, [] { return H5T_STD_U16LE; }},
    {QMXL_UINT8, "uint8", [] { return H5T_NATIVE_UINT8; }, [] { return H5T_STD_U8LE; }},
    {QMXL_INT8, "int8", [] { return H5T_NATIVE_INT8; }, [] { return H5T_STD_I8LE; }},
};

const Code* find(int code) {
    for (const Code& c : kCodes)
        if (c.code == code)
            return &c;
    return nullptr;
}

}  // namespace

hid_t memoryTypeOf(int code) {
    const Code* c = find(code);
    return c ? c->memory() : H5I_INVALID_HID;
}

hid_t fileTypeOf(int code) {
    const Code* c = find(code);
    return c ? c->file() : H5I_INVALID_HID;
}

const char* nameOfCode(int code) {
    const Code* c = find(code);
    return c ? c->name : "unknown";
}

int codeOfType(hid_t type) {
    const H5T_class_t cls = H5Tget_class(type);
    const size_t size = H5Tget_size(type);
    if (cls == H5T_INTEGER) {
        const bool isSigned = H5Tget_sign(type) == H5T_SGN_2;
        switch (size) {
            case 1:
                return isSigned ? QMXL_INT8 : QMXL_UINT8;
            case 2:
                return isSigned ? QMXL_INT16 : QMXL_UINT16;
            case 4:
                return isSigned ? QMXL_INT32 : QMXL_UINT32;
            case 8:
                return isSigned ? QMXL_INT64 : QMXL_UINT64;
            default:
                return -1;
        }
    }
    if (cls == H5T_FLOAT) {
        if (size == 4)
            return QMXL_FLOAT32;
        if (size == 8)
            return QMXL_FLOAT64;
        if (size == H5Tget_size(H5T_NATIVE_LDOUBLE))
            return QMXL_LONG_DOUBLE;
    }
    return -1;
}

ItemKind kindOfType(hid_t type) {
    switch (H5Tget_class(type)) {
        case H5T_OPAQUE:
            return H5Tget_size(type) == 1 ? ItemKind::Opaque : ItemKind::Other;
        case H5T_STRING:
            return H5Tget_size(type) == 1 && H5Tis_variable_str(type) == 0 ? ItemKind::String
                                                                           : ItemKind::Other;
        case H5T_INTEGER:
        case H5T_FLOAT:
            return ItemKind::Typed;
        case H5T_COMPOUND:
            return ItemKind::Compound;
        default:
            return ItemKind::Other;
    }
}

const char* nameOfKind(ItemKind kind) {
    switch (kind) {
        case ItemKind::Opaque:
            return "an opaque data item";
        case ItemKind::String:
            return "a string dataset";
        case ItemKind::Typed:
            return "a typed dataset";
        case ItemKind::Compound:
            return "a compound dataset";
        default:
            return "a dataset of a foreign type";
    }
}

Hid makeOpaqueType() {
    // Untagged: HDF5 converts only between opaque types of equal tags, and generic readers
    // (h5py) read untagged ones directly.
    return Hid(H5Tcreate(H5T_OPAQUE, 1));
}

Hid makeStringType() {
    Hid type(H5Tcopy(H5T_C_S1));
    if (!type || H5Tset_size(type.get(), 1) < 0 || H5Tset_strpad(type.get(), H5T_STR_NULLPAD) < 0)
        return Hid();
    return type;
}

}  // namespace Quellmar::qmxfile
