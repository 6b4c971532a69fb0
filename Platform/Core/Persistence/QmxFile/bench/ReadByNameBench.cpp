// CPU time per read by name through the file library: N small blobs in one group, each read
// (size query, then the bytes) in a fresh read-only session and in a read-write session. The
// first pass of a session checks every object's stored header once; later passes find them
// remembered. Process CPU time, so that other load on the machine does not count.
#include "QMXL.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

bool readAll(int file, int count, std::vector<char>& buffer) {
    for (int i = 0; i < count; ++i) {
        const std::string name = "blob" + std::to_string(i);
        long long size = 0;
        if (QMXLgetSizeOfOpaqueData(file, "/w", name.c_str(), &size) != 1 ||
            QMXLreadOpaqueData(file, "/w", name.c_str(), buffer.data()) != 1)
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: qmx_read_by_name_bench FILE [COUNT] [ROUNDS]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int count = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    QMXLregister();
    std::vector<char> buffer(100, 'x');
    int file = QMXLcreateFile(path.c_str());
    if (file <= 0)
        return 1;
    for (int i = 0; i < count; ++i)
        if (QMXLcreateCompressedOpaqueData(file, "/w", ("blob" + std::to_string(i)).c_str(), 0, 0,
                                           100, buffer.data()) != 1)
            return 1;
    QMXLcloseAllFileHandlesForFile(file);
    for (const bool writable : {false, true}) {
        double first = 0, again = 0;
        for (int r = 0; r < rounds; ++r) {
            file = writable ? QMXLopenFile(path.c_str()) : QMXLopenFileReadOnly(path.c_str());
            if (file <= 0)
                return 1;
            double start = cpuSeconds();
            if (!readAll(file, count, buffer))
                return 1;
            first += cpuSeconds() - start;
            start = cpuSeconds();
            if (!readAll(file, count, buffer))
                return 1;
            again += cpuSeconds() - start;
            QMXLcloseAllFileHandlesForFile(file);
        }
        std::printf(
            "%s session: first pass %.2f us/read, second pass %.2f us/read (CPU, %d reads x %d "
            "rounds)\n",
            writable ? "read-write" : "read-only", first / rounds / count * 1e6,
            again / rounds / count * 1e6, count, rounds);
    }
    return 0;
}
