// qmx put: stores or replaces one object, creating its object group when missing.
#include "Blobs.h"
#include "Commands.h"
#include "Container.h"
#include "Describe.h"
#include "Tree.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

namespace Quellmar::qmx {
namespace {

std::shared_ptr<SerializationTransferObject::Buffer> readInput(const std::string& source) {
    auto buffer = std::make_shared<SerializationTransferObject::Buffer>();
    if (source == "-") {
        buffer->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        if (std::cin.bad())
            throw Failure("error reading standard input");
        return buffer;
    }
    std::ifstream in(source, std::ios::binary);
    if (!in)
        throw Failure(source + ": " + std::strerror(errno));
    buffer->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad())
        throw Failure(source + ": read error");
    return buffer;
}

int parseVersion(const std::optional<std::string>& text) {
    if (!text)
        return 1;
    try {
        std::size_t used = 0;
        const long v = std::stol(*text, &used);
        if (used == text->size() && v >= 0 && v <= 0x7fffffff)
            return static_cast<int>(v);
    } catch (const std::exception&) {
    }
    throw UsageError("--group-version needs a number from 0 to 2147483647, not '" + *text + "'");
}

int runPut(const Args& args) {
    const std::string& file = args.positional(0);
    const std::string group = groupPath(args.positional(1));
    const std::string& name = args.positional(2);
    const std::string source = args.positionalOr(3, "-");
    const int groupVersion = parseVersion(args.value("--group-version"));
    const std::string path = joinPath(group, name);
    if (group == "/")
        throw UsageError("GROUP must name an object group, not the root");
    requireAddressable(file, path, name);

    const auto bytes = readInput(source);
    // The library refuses to read a 0-byte object back, so none is stored.
    if (bytes->empty())
        throw Failure(file + ": " + path +
                      ": refusing to store an empty object (it could not be read back)");

    Container container(file, Access::Write, args.has("--native"));
    Inspector inspector(container);
    const int groupKind = inspector.kindOf(group);
    if (groupKind != kNoEntry && groupKind != QMXL_KIND_OBJECT_GROUP)
        throw Failure(file + ": " + group + ": is " + kindPhrase(groupKind) +
                      ", not an object group");

    const int existing = groupKind == kNoEntry ? kNoEntry : inspector.kindOf(path);
    int kind = args.has("--string") ? QMXL_KIND_STRING : QMXL_KIND_OPAQUE;
    if (existing != kNoEntry) {
        if (existing != QMXL_KIND_OPAQUE && existing != QMXL_KIND_STRING)
            throw Failure(file + ": " + path + ": exists and is " + kindPhrase(existing) +
                          ", not an object");
        if (args.has("--string") && existing != QMXL_KIND_STRING)
            throw Failure(file + ": " + path + ": exists as an opaque object; it stays opaque");
        kind = existing;
    }

    const SerializationTransferObject object(bytes);
    try {
        writeBlob(container, group, name, kind, existing == kNoEntry, groupVersion, object);
        container.flush();
    } catch (...) {
        container.revert();
        throw;
    }
    std::cout << (existing == kNoEntry ? "created " : "replaced ") << path << ": " << bytes->size()
              << " bytes (" << kindName(kind) << ")\n";
    return kExitOk;
}

}  // namespace

Command putCommand() {
    return {
        "put",
        "FILE GROUP NAME [IN]",
        "Store or replace one object from a file or standard input.",
        "Reads IN (standard input when IN is missing or \"-\") and stores it as the object NAME\n"
        "of the object group GROUP. A missing object group is created with \"Version\" set to\n"
        "--group-version. An existing object is replaced and keeps its kind.",
        {{"", "--string", "", "store a new object as a string dataset (default: opaque)"},
         {"", "--group-version", "N", "\"Version\" of a newly created object group (default 1)"},
         nativeOption(),
         verboseOption()},
        3,
        4,
        runPut};
}

}  // namespace Quellmar::qmx
