// qmx version: the file-format version of a container, and raising it to the library's.
#include "Commands.h"
#include "Container.h"
#include "QMXBlobDAO.h"

#include <iostream>

namespace Quellmar::qmx {
namespace {

int runVersion(const Args& args) {
    const std::string& file = args.positional(0);
    const bool upgrade = args.has("--upgrade");
    Container container(file, upgrade ? Access::Write : Access::Read, args.has("--native"));
    QMXBlobDAO blobs;
    container.bind(blobs);
    int version = 0;
    int library = 0;
    if (!blobs.getQMVersion(version))
        throw Failure(file + ": the format version cannot be read");
    if (!blobs.getQMVersionOfLibrary(library))
        throw Failure(file + ": the library's format version cannot be read");
    if (!upgrade) {
        std::cout << file << ": format version " << version << " (this library writes " << library
                  << ")\n";
        return kExitOk;
    }
    // Raising a newer file to an older library's version would misstate what the file holds.
    if (version > library)
        throw Failure(file + ": format version " + std::to_string(version) +
                      " is newer than this library's " + std::to_string(library) + "; not changed");
    if (version == library) {
        std::cout << file << ": format version " << version << " is already current\n";
        return kExitOk;
    }
    if (!blobs.updateQMVersionToCurrent())
        throw Failure(file + ": the format version could not be raised");
    container.flush();
    int now = 0;
    if (!blobs.getQMVersion(now) || now != library)
        throw Failure(file + ": the format version reads " + std::to_string(now) +
                      " after raising it to " + std::to_string(library));
    std::cout << file << ": format version raised from " << version << " to " << now << "\n";
    return kExitOk;
}

}  // namespace

Command versionCommand() {
    return {"version",
            "FILE",
            "Show the file-format version of a container, or raise it to the current one.",
            "Prints the format version stored in FILE and the one this library writes. With\n"
            "--upgrade the file's version is raised to the library's; a file newer than the\n"
            "library is left unchanged and reported.",
            {{"", "--upgrade", "", "raise the file's format version to the library's"},
             nativeOption(),
             verboseOption()},
            1,
            1,
            runVersion};
}

}  // namespace Quellmar::qmx
