// libFuzzer target: the input bytes are a container file. It is opened read-only through the
// file library, walked and every item read; then a host reads it through the DAO factory and
// the DAOs: everything the file lists, and everything a `qmx demo` host stored, into buffers
// sized both by the DAOs' shape queries and by what the host expects. Anything left open
// afterwards is a leak in our code and ends the run like a crash.
#include "ContainerWalk.h"

#ifdef QMX_FUZZ_HOST_READ
#include "Discover.h"
#include "HostRead.h"
#include "Logging.h"
#include "Manifest.h"
#endif
#include "QMXL.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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
    if (!out)
        return false;
    const bool ok = std::fwrite(data, 1, size, out) == size;
    return std::fclose(out) == 0 && ok;
}

#ifdef QMX_FUZZ_HOST_READ
// What the host of a `qmx demo` file stored; the seeds include such a file.
const std::vector<Quellmar::hostread::Entry>& demoEntries() {
    static const std::vector<Quellmar::hostread::Entry> entries = [] {
        try {
            return Quellmar::hostread::readManifest(QMX_FUZZ_DEMO_MANIFEST);
        } catch (const Quellmar::hostread::ParseError& e) {
            std::fprintf(stderr, "%s; the fuzz target reads discovered objects only\n", e.what());
            return std::vector<Quellmar::hostread::Entry>();
        }
    }();
    return entries;
}
#endif

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    QMXLregister();
#ifdef QMX_FUZZ_HOST_READ
    // The library's error log would bury libFuzzer's own output.
    Quellmar::setLogSink([](const Quellmar::LogRecord&) {}, Quellmar::LogLevel::Error);
    demoEntries();
#endif
    std::atexit([] { std::remove(scratchPath().c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!writeScratch(data, size))
        std::abort();
    const int file = QMXLopenFileReadOnly(scratchPath().c_str());
#ifdef QMX_FUZZ_HOST_READ
    std::vector<Quellmar::hostread::Entry> entries = demoEntries();
#endif
    if (file > 0) {
        Quellmar::fuzz::walkContainer(file);
#ifdef QMX_FUZZ_HOST_READ
        const auto found = Quellmar::hostread::discoverEntries(file);
        entries.insert(entries.end(), found.begin(), found.end());
#endif
        QMXLcloseFile(file);
    }
#ifdef QMX_FUZZ_HOST_READ
    Quellmar::hostread::ReadOptions options;
    options.maxBufferBytes = 64ull << 20;  // as the walk: sizes come from the damaged file
    Quellmar::hostread::readContainer(scratchPath(), entries, options);
#endif
    if (QMXLgetHandleCount() != 0 || QMXLgetOpenObjectCount() != 0) {
        std::fprintf(stderr, "left open: %d handles, %d HDF5 identifiers\n", QMXLgetHandleCount(),
                     QMXLgetOpenObjectCount());
        std::abort();
    }
    return 0;
}
