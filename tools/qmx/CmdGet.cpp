// qmx get: one object's bytes to stdout or a file.
#include "Blobs.h"
#include "Commands.h"
#include "Container.h"
#include "CrashGuard.h"
#include "Describe.h"
#include "Tree.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

namespace Quellmar::qmx {
namespace {

int runGet(const Args& args) {
    const std::string& file = args.positional(0);
    const std::string group = groupPath(args.positional(1));
    const std::string& name = args.positional(2);
    const std::string path = joinPath(group, name);

    Container container(file, Access::Read, args.has("--native"));
    Inspector inspector(container);
    const int kind = inspector.kindOf(path);
    if (kind == kNoEntry)
        throw Failure(file + ": " + path + ": no such object");
    if (kind == QMXL_KIND_UNKNOWN)
        throw Failure(file + ": " + path + ": cannot be opened (damaged?)");
    if (kind != QMXL_KIND_OPAQUE && kind != QMXL_KIND_STRING)
        throw Failure(
            file + ": " + path + ": is " + kindPhrase(kind) + ", not an object" +
            (kind == QMXL_KIND_TYPED || kind == QMXL_KIND_COMPOUND ? " (use 'qmx cat')" : ""));
    requireAddressable(file, path, name);
    crashGuardAt(path);

    SerializationTransferObject object;
    try {
        object = readBlob(container, group, name, kind);
    } catch (const Failure& e) {
        throw Failure(file + ": " + path + ": " + e.what());
    }
    const auto& bytes = *object.getBuffer();
    const auto out = args.value("--output");
    if (!out || *out == "-") {
        std::cout.write(reinterpret_cast<const char*>(bytes.data()),
                        static_cast<std::streamsize>(bytes.size()));
        return kExitOk;
    }
    std::ofstream target(*out, std::ios::binary | std::ios::trunc);
    if (!target)
        throw Failure(*out + ": cannot write: " + std::strerror(errno));
    target.write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
    target.close();
    if (!target)
        throw Failure(*out + ": write failed: " + std::strerror(errno));
    return kExitOk;
}

}  // namespace

Command getCommand() {
    return {
        "get",
        "FILE GROUP NAME",
        "Write the bytes of one object to standard output or a file.",
        "GROUP is the object group (\"models\", \"/models\" or \"a/b\"; \"Design\" for the design\n"
        "group) and NAME the object. Opaque objects and string objects are written exactly as\n"
        "stored, without any terminator added.",
        {{"-o", "--output", "OUT", "write to OUT instead of standard output"},
         nativeOption(),
         verboseOption()},
        3,
        3,
        runGet};
}

}  // namespace Quellmar::qmx
