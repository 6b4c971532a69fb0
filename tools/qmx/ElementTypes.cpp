#include "ElementTypes.h"

#include <charconv>
#include <cstdint>
#include <cstring>

namespace Quellmar::qmx {
namespace {

template <class T>
T load(const unsigned char* data) {
    T value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

// Shortest text that reads back to the same floating-point value.
template <class T>
std::string formatFloat(T value) {
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

}  // namespace

const char* elementTypeName(int type) {
    switch (type) {
        case VT_INT32:
            return "int32";
        case VT_UINT32:
            return "uint32";
        case VT_FLOAT:
            return "float32";
        case VT_DOUBLE:
            return "float64";
        case VT_INT16:
            return "int16";
        case VT_INT64:
            return "int64";
        case VT_UINT64:
            return "uint64";
        case VT_UINT16:
            return "uint16";
        case VT_UINT8:
            return "uint8";
        case VT_INT8:
        case kFileInt8:
            return "int8";
        default:
            return "unknown";
    }
}

std::size_t elementSize(int type) {
    switch (type) {
        case VT_INT32:
        case VT_UINT32:
        case VT_FLOAT:
            return 4;
        case VT_DOUBLE:
        case VT_INT64:
        case VT_UINT64:
            return 8;
        case VT_INT16:
        case VT_UINT16:
            return 2;
        case VT_UINT8:
        case VT_INT8:
        case kFileInt8:
            return 1;
        default:
            return 0;
    }
}

tagVectorDataTypes readableType(int type) {
    switch (type) {
        case VT_INT8:
            return VT_INT16;
        case VT_INT32:
        case VT_UINT32:
        case VT_FLOAT:
        case VT_DOUBLE:
        case VT_INT16:
        case VT_INT64:
        case VT_UINT64:
        case VT_UINT16:
        case VT_UINT8:
            return static_cast<tagVectorDataTypes>(type);
        default:
            return VT_DOUBLE;  // a type without a code (e.g. long double): read converted
    }
}

std::string formatElement(int type, const unsigned char* data) {
    switch (type) {
        case VT_INT32:
            return std::to_string(load<std::int32_t>(data));
        case VT_UINT32:
            return std::to_string(load<std::uint32_t>(data));
        case VT_FLOAT:
            return formatFloat(load<float>(data));
        case VT_DOUBLE:
            return formatFloat(load<double>(data));
        case VT_INT16:
            return std::to_string(load<std::int16_t>(data));
        case VT_INT64:
            return std::to_string(load<std::int64_t>(data));
        case VT_UINT64:
            return std::to_string(load<std::uint64_t>(data));
        case VT_UINT16:
            return std::to_string(load<std::uint16_t>(data));
        case VT_UINT8:
            return std::to_string(load<std::uint8_t>(data));
        case VT_INT8:
        case kFileInt8:
            return std::to_string(load<std::int8_t>(data));
        default:
            return "?";
    }
}

}  // namespace Quellmar::qmx
