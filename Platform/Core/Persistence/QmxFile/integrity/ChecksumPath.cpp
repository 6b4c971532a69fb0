#include "ChecksumPath.h"

#include "Crc32c.h"
#include "Format.h"

namespace Quellmar::qmxfile {

std::string objectPath(hid_t object) {
    char small[256];
    const ssize_t size = H5Iget_name(object, small, sizeof small);
    if (size <= 0)
        return {};
    if (static_cast<size_t>(size) < sizeof small)
        return std::string(small, static_cast<size_t>(size));
    std::string path(static_cast<size_t>(size) + 1, '\0');
    if (H5Iget_name(object, path.data(), path.size()) != size)
        return {};
    path.resize(static_cast<size_t>(size));
    return path;
}

std::uint32_t withPath(std::uint32_t contents, const std::string& path) {
    // The NUL ends the path, as it ends attribute names in the attribute checksum.
    return crc32c::Extend(contents, path.c_str(), path.size() + 1);
}

bool sealChecksum(hid_t object, std::uint32_t contents, std::uint32_t& stored, const char* path) {
    if (checksumsOf(object) != Checksums::Named) {
        stored = contents;
        return true;
    }
    const std::string name = path ? std::string(path) : objectPath(object);
    if (name.empty())
        return false;
    stored = withPath(contents, name);
    return true;
}

bool checksumMatches(hid_t object, std::uint32_t contents, std::uint32_t stored,
                     const char* known) {
    switch (checksumsOf(object)) {
        case Checksums::Plain:
            return stored == contents;
        case Checksums::Named: {
            const std::string path = known ? std::string(known) : objectPath(object);
            return !path.empty() && stored == withPath(contents, path);
        }
        case Checksums::Optional:
        default: {
            // A file that lost its marker: either kind is intact, so the walk can name the
            // missing marker instead of failing every item.
            if (stored == contents)
                return true;
            const std::string path = known ? std::string(known) : objectPath(object);
            return !path.empty() && stored == withPath(contents, path);
        }
    }
}

}  // namespace Quellmar::qmxfile
