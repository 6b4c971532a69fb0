// What the journal costs: small transactions (open, create one blob, commit, close; as the
// W5 benchmark) and big append-only blobs, each through the file library with the journal and
// without it (plain sec2), rounds interleaved so both see the same machine; medians and their
// ratio. With --flush off the commits skip their syncs, as under DisableFlushingTransaction.
//
//   qmx_journal_cost [--transactions N] [--big-mb M] [--big-count K] [--rounds R] [--flush on|off]
//   [--dir D]
//                    [--only journal|plain]   (one side only, for profiling it)
#include "JournalControl.h"
#include "QMXL.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

using namespace Quellmar;
namespace fs = std::filesystem;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void must(bool ok, const char* what) {
    if (ok)
        return;
    char* text = nullptr;
    QMXLgetLastErrorMessage(&text);
    std::fprintf(stderr, "%s failed: %s\n", what, text ? text : "");
    std::exit(1);
}

// One transaction as the library's lock transactions end it: commit, then close.
void transaction(const std::string& path, const std::string& name, const std::string& bytes,
                 bool create) {
    const int file = create ? QMXLcreateFile(path.c_str()) : QMXLopenFile(path.c_str());
    must(file > 0, "open");
    if (create) {
        const int group = QMXLcreateOpaqueDataGroup(file, "/objects");
        must(group > 0, "group");
        QMXLcloseObject(group);
    }
    if (!name.empty())
        must(
            QMXLcreateCompressedOpaqueData(file, "/objects", name.c_str(), 0, 0,
                                           static_cast<long long>(bytes.size()), bytes.data()) == 1,
            "blob");
    must(QMXLcloseOpenedObjectsForFile(file) >= 0 && QMXLflushMetadata(file) >= 0, "commit");
    must(QMXLcloseAllFileHandlesForFile(file) >= 0, "close");
}

// Seconds for count transactions of one blob each on a fresh container.
double run(const std::string& path, int count, size_t size) {
    fs::remove(path);
    transaction(path, "", "", true);
    const std::string bytes(size, 'b');
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
        transaction(path, "o" + std::to_string(i), bytes, false);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    int transactions = 1000, bigCount = 8, rounds = 5;
    size_t bigMb = 16;
    bool flush = true;
    std::string dir = "/tmp", only;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i], v = argv[i + 1];
        if (a == "--transactions")
            transactions = std::atoi(v.c_str());
        else if (a == "--big-mb")
            bigMb = static_cast<size_t>(std::atoi(v.c_str()));
        else if (a == "--big-count")
            bigCount = std::atoi(v.c_str());
        else if (a == "--rounds")
            rounds = std::atoi(v.c_str());
        else if (a == "--flush")
            flush = v != "off";
        else if (a == "--dir")
            dir = v;
        else if (a == "--only")
            only = v;
    }
    QMXLsetflush(flush ? 1 : 0);
    const std::string path = dir + "/qmx-journal-cost-" + std::to_string(::getpid()) + ".qmz";
    struct Case {
        const char* name;
        int count;
        size_t size;
        const char* unit;
    };
    const Case cases[] = {{"small transactions (W5)", transactions, 1000, "transactions/s"},
                          {"big append-only blobs", bigCount, bigMb << 20, "MB/s"}};
    std::printf("flushing %s, %d rounds, medians\n", flush ? "on" : "off", rounds);
    std::printf("%-26s %-16s %14s %14s %8s\n", "workload", "unit", "no journal", "journal",
                "ratio");
    for (const Case& c : cases) {
        std::vector<double> plain, journaled;
        for (int r = 0; r < rounds; ++r) {
            for (bool journal : {false, true}) {
                if (!only.empty() && only != (journal ? "journal" : "plain"))
                    continue;
                qmxfile::setJournalEnabled(journal);
                const double seconds = run(path, c.count, c.size);
                const double rate = c.size > (1u << 20)
                                        ? double(c.count) * double(c.size >> 20) / seconds
                                        : double(c.count) / seconds;
                (journal ? journaled : plain).push_back(rate);
            }
        }
        const double p = plain.empty() ? 0 : median(plain),
                     j = journaled.empty() ? 0 : median(journaled);
        std::printf("%-26s %-16s %14.1f %14.1f %8.2f\n", c.name, c.unit, p, j, j / p);
    }
    fs::remove(path);
    return 0;
}
