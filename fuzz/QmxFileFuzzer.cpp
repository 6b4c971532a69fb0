// libFuzzer target: the input bytes are a container file. It is opened read-only through the
// file library, walked and every item read. Anything the file library leaves open afterwards is
// a leak in our code and ends the run like a crash.
#include "ContainerWalk.h"

#include "QMXL.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const std::string& scratchPath() {
    static const std::string path = [] {
        const char* base = std::getenv("TMPDIR");
        return std::string(base && *base ? base : "/tmp") + "/qmx-fuzz-" +
               std::to_string(::getpid()) + ".qmz";
    }();
    return path;
}

bool writeScratch(const std::uint8_t* data, std::size_t size) {
    std::FILE* out = std::fopen(scratchPath().c_str(), "wb");
    if (!out) return false;
    const bool ok = std::fwrite(data, 1, size, out) == size;
    return std::fclose(out) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    QMXLregister();
    std::atexit([] { std::remove(scratchPath().c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!writeScratch(data, size)) std::abort();
    const int file = QMXLopenFileReadOnly(scratchPath().c_str());
    if (file > 0) {
        Quellmar::fuzz::walkContainer(file);
        QMXLcloseFile(file);
    }
    if (QMXLgetHandleCount() != 0 || QMXLgetOpenObjectCount() != 0) {
        std::fprintf(stderr, "left open: %d handles, %d HDF5 identifiers\n", QMXLgetHandleCount(),
                     QMXLgetOpenObjectCount());
        std::abort();
    }
    return 0;
}
