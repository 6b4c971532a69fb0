#include "Digest.h"

#include <cstdio>

namespace Quellmar::hostread {

std::uint64_t fnv1a(const void* data, std::size_t size) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= p[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

std::string bytesDigest(const void* data, std::size_t size) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(fnv1a(data, size)));
    return std::to_string(size) + " bytes " + hex;
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f && c != '\\' && c != '"') {
            out += c;
        } else {
            char esc[5];
            std::snprintf(esc, sizeof esc, "\\x%02x", u);
            out += esc;
        }
    }
    return out + "\"";
}

}  // namespace Quellmar::hostread
