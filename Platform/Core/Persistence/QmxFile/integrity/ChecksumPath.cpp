#include "ChecksumPath.h"

#include "Crc32c.h"
#include "Format.h"

#include <vector>

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

bool withType(hid_t object, std::uint32_t& crc) {
    if (H5Iget_type(object) != H5I_DATASET)
        return true;  // only data items have a stored type
    Hid type(H5Dget_type(object));
    size_t size = 0;
    if (!type || H5Tencode(type.get(), nullptr, &size) < 0 || size == 0)
        return false;
    unsigned char small[128];
    std::vector<unsigned char> large;
    unsigned char* bytes = small;
    if (size > sizeof small) {
        large.resize(size);
        bytes = large.data();
    }
    if (H5Tencode(type.get(), bytes, &size) < 0)
        return false;
    crc = crc32c::Extend(crc, bytes, size);
    return true;
}

namespace {

// The stored value in a file of this form; false when the path or the type cannot be had.
bool formed(hid_t object, Covered what, Checksums form, std::uint32_t contents, const char* known,
            std::uint32_t& value) {
    value = contents;
    if (form == Checksums::Plain)
        return true;
    const std::string path = known ? std::string(known) : objectPath(object);
    if (path.empty())
        return false;
    value = withPath(contents, path);
    return form != Checksums::Typed || what != Covered::Item || withType(object, value);
}

}  // namespace

bool sealChecksum(hid_t object, Covered what, std::uint32_t contents, std::uint32_t& stored,
                  const char* path) {
    const Checksums form = checksumsOf(object);
    // A file without a marker gets checksums of contents alone, as files of the first form.
    return formed(object, what, form == Checksums::Optional ? Checksums::Plain : form, contents,
                  path, stored);
}

bool checksumMatches(hid_t object, Covered what, std::uint32_t contents, std::uint32_t stored,
                     const char* known) {
    const Checksums form = checksumsOf(object);
    std::uint32_t value = 0;
    if (form != Checksums::Optional)
        return formed(object, what, form, contents, known, value) && stored == value;
    // A file that lost its marker: any form is intact, so the walk can name the missing marker
    // instead of failing every item. The path is asked of HDF5 once for both forms that use it.
    if (stored == contents)
        return true;
    const std::string path = known ? std::string(known) : objectPath(object);
    for (const Checksums any : {Checksums::Named, Checksums::Typed})
        if (formed(object, what, any, contents, path.c_str(), value) && stored == value)
            return true;
    return false;
}

}  // namespace Quellmar::qmxfile
