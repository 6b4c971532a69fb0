#include "NumberCopy.h"

#include <cstring>
#include <limits>

namespace Quellmar::qmxfile {

void doublesToFloats(const unsigned char* from, unsigned char* to, std::size_t count) {
    constexpr double kMax = std::numeric_limits<float>::max();
    constexpr float kInf = std::numeric_limits<float>::infinity();
    for (std::size_t i = 0; i < count; ++i) {
        double d;
        std::memcpy(&d, from + i * sizeof d, sizeof d);
        // Branch-free selects, so the compiler keeps the loop vectorised; NaN fails both tests.
        float f = static_cast<float>(d);
        f = d > kMax ? kInf : f;
        f = d < -kMax ? -kInf : f;
        std::memcpy(to + i * sizeof f, &f, sizeof f);
    }
}

void floatsToDoubles(const unsigned char* from, unsigned char* to, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        float f;
        std::memcpy(&f, from + i * sizeof f, sizeof f);
        const double d = f;
        std::memcpy(to + i * sizeof d, &d, sizeof d);
    }
}

NumberLoop numberLoop(hid_t from, hid_t to) {
    const auto is = [](hid_t type, hid_t native) {
        return H5Tget_class(type) == H5T_FLOAT && H5Tequal(type, native) > 0;
    };
    if (is(from, H5T_NATIVE_DOUBLE) && is(to, H5T_NATIVE_FLOAT))
        return doublesToFloats;
    if (is(from, H5T_NATIVE_FLOAT) && is(to, H5T_NATIVE_DOUBLE))
        return floatsToDoubles;
    return nullptr;
}

}  // namespace Quellmar::qmxfile
