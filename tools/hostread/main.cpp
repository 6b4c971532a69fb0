// qmx_host_reader: reads a container as a host would and prints what it read, one line per
// question, then "END". A damaged file may make a read throw (an error line); it must never
// end this process.
#include "CrashReport.h"
#include "Discover.h"
#include "HostRead.h"
#include "Logging.h"
#include "Manifest.h"
#include "QMXL.h"
#include "StoredRanges.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <iostream>
#include <string>

namespace {

int usage() {
    std::cerr << "usage: qmx_host_reader [--memory-mb N] FILE MANIFEST\n"
                 "       qmx_host_reader [--memory-mb N] --discover FILE\n"
                 "       qmx_host_reader --ranges FILE MANIFEST\n"
                 "Reads everything MANIFEST names (or, with --discover, everything FILE lists)\n"
                 "through the DAO factory and the DAOs and prints one line per question.\n"
                 "--ranges prints instead where the bytes read lie in FILE: 'START END' lines.\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace Quellmar::hostread;
    unsigned long memoryMb = 2048;
    bool discover = false;
    bool ranges = false;
    int arg = 1;
    for (; arg < argc && argv[arg][0] == '-'; ++arg) {
        if (std::strcmp(argv[arg], "--memory-mb") == 0 && arg + 1 < argc) {
            memoryMb = std::strtoul(argv[++arg], nullptr, 10);
        } else if (std::strcmp(argv[arg], "--discover") == 0) {
            discover = true;
        } else if (std::strcmp(argv[arg], "--ranges") == 0) {
            ranges = true;
        } else {
            return usage();
        }
    }
    if (argc - arg != (discover ? 1 : 2) || (discover && ranges))
        return usage();
    const std::string file = argv[arg];

    std::vector<Entry> entries;
    if (discover) {
        const int handle = QMXLopenFileReadOnly(file.c_str());
        if (handle > 0) {
            entries = discoverEntries(handle);
            QMXLcloseFile(handle);
        }
    } else {
        try {
            entries = readManifest(argv[arg + 1]);
        } catch (const ParseError& e) {
            std::cerr << e.what() << "\n";
            return 2;
        }
    }
    // stderr carries only what a dying reader says; the library's error log is not wanted there.
    Quellmar::setLogSink([](const Quellmar::LogRecord&) {}, Quellmar::LogLevel::Error);
    installCrashReport();
    if (memoryMb > 0 && !limitMemory(memoryMb))
        std::cerr << "warning: memory limit not set\n";
    if (ranges) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        StoredRanges found(bytes.str());
        std::set<std::string> seen;  // the same bytes read twice (by shape, by manifest)
        ReadOptions options;
        options.onData = [&](const std::string&, const unsigned char* data, std::size_t size) {
            if (seen.insert(std::string(reinterpret_cast<const char*>(data), size)).second)
                found.locate(data, size);
        };
        readContainer(file, entries, options);
        for (const ByteRange& r : found.ranges())
            std::cout << r.first << ' ' << r.second << '\n';
        return 0;
    }
    std::cout << formatLines(readContainer(file, entries)) << "END" << std::endl;
    return 0;
}
