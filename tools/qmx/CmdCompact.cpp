// qmx compact: the file library's compaction, with the sizes before and after.
#include "Commands.h"
#include "Container.h"
#include "Diagnostics.h"
#include "Progress.h"

#include <sys/stat.h>

#include <cstdio>
#include <iostream>

namespace Quellmar::qmx {
namespace {

long long sizeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

int runCompact(const Args& args) {
    const std::string& file = args.positional(0);
    const long long before = sizeOf(file);
    bool compacted = false;
    {
        Container container(file, Access::Write, args.has("--native"));
        Spinner spinner("compacting " + file);
        compacted = container.storage()->deflate();
    }
    if (!compacted) {
        const std::string why = fileLibraryError();
        throw Failure(file + ": compaction failed" + (why.empty() ? "" : ": " + why) +
                      " (the file is unchanged)");
    }
    const long long after = sizeOf(file);
    char saved[32] = "";
    if (before > 0 && after >= 0)
        std::snprintf(saved, sizeof saved, " (%.1f%% smaller)",
                      100.0 * static_cast<double>(before - after) / static_cast<double>(before));
    std::cout << file << ": " << before << " -> " << after << " bytes" << saved << "\n";
    return kExitOk;
}

}  // namespace

Command compactCommand() {
    return {"compact",
            "FILE",
            "Compact a container and print its size before and after.",
            "Rewrites FILE without the space that removed or replaced objects left behind, using\n"
            "the library's compaction. The file is replaced only when compaction succeeds.",
            {nativeOption(), verboseOption()},
            1,
            1,
            runCompact};
}

}  // namespace Quellmar::qmx
