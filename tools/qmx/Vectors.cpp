#include "Vectors.h"

#include "Cli.h"
#include "Diagnostics.h"
#include "ElementTypes.h"
#include "Describe.h"
#include "QMXClassComposer.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace Quellmar::qmx {

std::size_t VectorData::elementCount() const {
    return static_cast<std::size_t>(info.rows) * static_cast<std::size_t>(info.cols);
}

std::size_t VectorData::elementBytes() const {
    return members.empty() ? elementSize(readType) : layout.size;
}

unsigned long long plausibleReadLimit(const std::string& path) {
    struct stat st {};
    const unsigned long long size =
        ::stat(path.c_str(), &st) == 0 ? static_cast<unsigned long long>(st.st_size) : 0;
    return std::min(kMaxReadBytes, std::max(256ull << 20, size * 1100));
}

RowRange parseRowRange(const std::string& option, const std::string& text) {
    const auto number = [&](const std::string& part, long long most) {
        // Digits only: strtoll would take signs and blanks.
        if (part.empty() || part.size() > 18 ||
            part.find_first_not_of("0123456789") != std::string::npos)
            throw UsageError(option + " needs FIRST:COUNT (two numbers), not '" + text + "'");
        const long long value = std::strtoll(part.c_str(), nullptr, 10);
        if (value > most)
            throw UsageError(option + ": " + part + " is too large");
        return value;
    };
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos)
        throw UsageError(option + " needs FIRST:COUNT (two numbers), not '" + text + "'");
    RowRange range;
    range.first = number(text.substr(0, colon), LLONG_MAX);
    range.count = static_cast<int>(number(text.substr(colon + 1), INT_MAX));
    return range;
}

VectorData readVector(VectorReaders& readers, int file, const std::string& group,
                      const std::string& name, bool compound, unsigned long long limit,
                      const std::optional<RowRange>& range) {
    VectorData v;
    const std::string where = group == "/" ? "/" + name : group + "/" + name;
    const VectorInfo stored = readers.vectors.getInfo(daoGroup(group), name);
    v.info = readers.arrays.getInfo(daoGroup(group), name);
    if (stored.rows < 0)
        throw Failure(where + ": negative element count " + std::to_string(stored.rows));
    // A read writes every stored element: a shape that promises fewer would overrun the buffer.
    if (v.info.rows < 0 || v.info.cols < 0 ||
        static_cast<long long>(v.info.rows) * v.info.cols != stored.rows)
        throw Failure(where + ": shape " + std::to_string(v.info.rows) + " x " +
                      std::to_string(v.info.cols) + " does not match the " +
                      std::to_string(stored.rows) + " stored elements");
    if (compound) {
        if (!compoundMembers(file, group, name, v.members))
            throw Failure(where + ": member list unreadable: " + fileLibraryError());
        if (!packedLayout(v.members, v.layout))
            throw Failure(where + ": member types " + describeMembers(v.members) +
                          " cannot be read");
    } else {
        v.readType = readableType(v.info.type);
    }
    if (range) {
        const char* unit = v.info.cols > 1 || v.info.cols == 0 ? " rows" : " elements";
        if (range->first > v.info.rows || range->count > v.info.rows - range->first)
            throw Failure(where + ": " + std::to_string(range->first) + ":" +
                          std::to_string(range->count) + " is past the end of its " +
                          std::to_string(v.info.rows) + unit);
        v.firstRow = range->first;
        v.info.rows = range->count;
    }
    const unsigned long long bytes =
        static_cast<unsigned long long>(v.elementCount()) * v.elementBytes();
    if (bytes > limit)
        throw Failure(where + ": claims " + std::to_string(v.elementCount()) + " elements (" +
                      std::to_string(bytes) + " bytes), more than this file can hold (damaged?)");
    // An empty vector is read as well: the library checks that its checksum says empty, so a
    // damaged size of 0 does not pass for an empty vector.
    v.bytes.resize(static_cast<std::size_t>(bytes));
    unsigned char none = 0;
    void* target = bytes ? static_cast<void*>(v.bytes.data()) : &none;
    if (range) {
        if (compound) {
            QMXClassComposer composer(v.layout.size);
            registerMembers(composer, v.members, v.layout);
            readers.arrays.readRows(daoGroup(group), name, composer, range->first, range->count,
                                    target);
        } else {
            readers.arrays.readRows(daoGroup(group), name,
                                    static_cast<tagVectorDataTypes>(v.readType), range->first,
                                    range->count, target);
        }
    } else if (compound) {
        QMXClassComposer composer(v.layout.size);
        registerMembers(composer, v.members, v.layout);
        readers.arrays.read(daoGroup(group), name, composer, target);
    } else {
        readers.arrays.read(daoGroup(group), name, static_cast<tagVectorDataTypes>(v.readType),
                            target);
    }
    return v;
}

}  // namespace Quellmar::qmx
