// Test support for the blob and design DAOs: byte patterns, and direct looks into a container
// file through the file library.
#ifndef QUELLMAR_TESTS_BLOBHOST_H
#define QUELLMAR_TESTS_BLOBHOST_H

#include "QMXLLists.h"
#include "SerializationTransferObject.h"
#include "SessionFixture.h"

#include <memory>
#include <string>
#include <vector>

namespace Quellmar::testing {

using Bytes = std::vector<unsigned char>;

inline Bytes pattern(std::size_t size, unsigned seed = 7) {
    Bytes bytes(size);
    unsigned state = seed;
    for (auto& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<unsigned char>(state >> 16);
    }
    return bytes;
}

inline SerializationTransferObject transfer(const Bytes& bytes, unsigned chunk = 0) {
    return SerializationTransferObject(std::make_shared<Bytes>(bytes), chunk);
}

struct Member {
    std::string name;
    int kind;
    bool operator==(const Member&) const = default;
};

// Members of the group at path in a file nobody holds open; empty when it cannot be listed.
inline std::vector<Member> listGroup(const std::string& file, const std::string& path) {
    std::vector<Member> members;
    const int handle = QMXLopenFileReadOnly(file.c_str());
    if (handle <= 0)
        return members;
    {
        QMXLGroupListing list;
        if (QMXLlistGroup(handle, path.c_str(), &list.count, &list.names, &list.kinds) >= 0)
            for (int i = 0; i < list.count; ++i)
                members.push_back({list.names[i], list.kinds[i]});
    }
    QMXLcloseFile(handle);
    return members;
}

// Makes an object group with no attributes of its own.
inline bool makeObjectGroup(const std::string& file, const std::string& group) {
    const int handle = QMXLopenFile(file.c_str());
    if (handle <= 0)
        return false;
    const int g = QMXLcreateOpaqueDataGroup(handle, group.c_str());
    if (g > 0)
        QMXLcloseObject(g);
    QMXLflushMetadata(handle);
    QMXLcloseFile(handle);
    return g > 0;
}

// Writes an integer attribute on an object group the way older files carry some values.
inline bool writeIntAttribute(const std::string& file, const std::string& group,
                              const std::string& name, int value) {
    const int handle = QMXLopenFile(file.c_str());
    if (handle <= 0)
        return false;
    const int g = QMXLopenOpaqueDataGroup(handle, group.c_str());
    const bool ok = g > 0 && QMXLsetAttribute(g, name.c_str(), &value) >= 0;
    if (g > 0)
        QMXLcloseObject(g);
    QMXLflushMetadata(handle);
    QMXLcloseFile(handle);
    return ok;
}

// Reads an integer attribute of an object group as stored; `fallback` when it cannot.
inline int readIntAttribute(const std::string& file, const std::string& group,
                            const std::string& name, int fallback) {
    int value = fallback;
    const int handle = QMXLopenFileReadOnly(file.c_str());
    if (handle <= 0)
        return fallback;
    const int g = QMXLopenOpaqueDataGroup(handle, group.c_str());
    if (g <= 0 || QMXLreadAttribute(g, name.c_str(), &value) < 0)
        value = fallback;
    if (g > 0)
        QMXLcloseObject(g);
    QMXLcloseFile(handle);
    return value;
}

}  // namespace Quellmar::testing

#endif
