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
        if (c.code == code) return &c;
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
        case 1: return isSigned ? QMXL_INT8 : QMXL_UINT8;
        case 2: return isSigned ? QMXL_INT16 : QMXL_UINT16;
        case 4: return isSigned ? QMXL_INT32 : QMXL_UINT32;
        case 8: return isSigned ? QMXL_INT64 : QMXL_UINT64;
        default: return -1;
        }
    }
    if (cls == H5T_FLOAT) {
        if (size == 4) return QMXL_FLOAT32;
        if (size == 8) return QMXL_FLOAT64;
        if (size == H5Tget_size(H5T_NATIVE_LDOUBLE)) return QMXL_LONG_DOUBLE;
    }
    return -1;
}

}  // namespace Quellmar::qmxfile
