#include "Options.h"

#include <cstdlib>
#include <functional>
#include <map>
#include <stdexcept>
#include <string_view>

namespace Quellmar::bench {

const char* usage() {
    return "usage: qmx_bench [--smoke] [--reps N] [--warmup N] [--out DIR] [--dir SCRATCH]\n"
           "                 [--only W1,W2,...] [--busy on|off|only] [--in-process]\n"
           "                 [--w1-count N] [--w1-size BYTES] [--w2-mib N]\n"
           "                 [--w3-count N] [--w3-level 1..9] [--w4-count N] [--w4-size N]\n"
           "                 [--w5-count N] [--w5-size BYTES] [--w5-synced N]\n"
           "                 [--w6-records N] [--w6-rows N]\n"
           "                 [--w6-cols N] [--w7-count N] [--w7-rows N] [--w7-cols N]\n"
           "                 [--w7-range N] [--w7-reads N] [--w8-appends N] [--w8-size N]\n";
}

namespace {

long long number(const std::string& flag, const std::string& text, long long min, long long max) {
    std::size_t used = 0;
    long long v = 0;
    try {
        v = std::stoll(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || v < min || v > max)
        throw std::invalid_argument(flag + " needs a number from " + std::to_string(min) + " to " +
                                    std::to_string(max) + ", not '" + text + "'");
    return v;
}

void makeSmoke(Options& o) {
    o.smoke = true;
    o.reps = 1;
    o.warmup = 0;
    o.w1Count = 50;
    o.w1Size = 100;
    o.w2Bytes = 1 << 20;
    o.w3Count = 20000;
    o.w4Count = 20;
    o.w4Size = 100;
    o.w5Count = 20;
    o.w5Size = 100;
    o.w5Synced = 5;
    o.w6Records = 1000;
    o.w6Rows = 30;
    o.w6Cols = 40;
    o.w7Count = 20000;
    o.w7Rows = 2000;
    o.w7Cols = 8;
    o.w7Range = 100;
    o.w7Reads = 5;
    o.w8Appends = 20;
    o.w8Size = 100;
}

}  // namespace

Options parseOptions(int argc, char** argv) {
    Options o;
    constexpr long long kInt = 1'000'000'000;
    // Each flag that takes a value, with what it sets.
    const std::map<std::string_view, std::function<void(const std::string&, const std::string&)>>
        valued{
            {"--reps", [&](auto& f, auto& v) { o.reps = int(number(f, v, 1, 1000)); }},
            {"--warmup", [&](auto& f, auto& v) { o.warmup = int(number(f, v, 0, 100)); }},
            {"--out", [&](auto&, auto& v) { o.outDir = v; }},
            {"--dir", [&](auto&, auto& v) { o.scratch = v; }},
            {"--only",
             [&](auto&, auto& v) {
                 std::size_t start = 0;
                 while (start <= v.size()) {
                     const std::size_t comma = v.find(',', start);
                     const std::string id = v.substr(start, comma - start);
                     if (!id.empty())
                         o.only.insert(id);
                     if (comma == std::string::npos)
                         break;
                     start = comma + 1;
                 }
             }},
            {"--busy",
             [&](auto& f, auto& v) {
                 if (v == "on")
                     o.busy = Options::Busy::On;
                 else if (v == "off")
                     o.busy = Options::Busy::Off;
                 else if (v == "only")
                     o.busy = Options::Busy::Only;
                 else
                     throw std::invalid_argument(f + " takes on, off or only, not '" + v + "'");
             }},
            {"--w1-count", [&](auto& f, auto& v) { o.w1Count = int(number(f, v, 1, kInt)); }},
            {"--w1-size", [&](auto& f, auto& v) { o.w1Size = int(number(f, v, 1, 60000)); }},
            {"--w2-mib", [&](auto& f, auto& v) { o.w2Bytes = number(f, v, 1, 16384) << 20; }},
            {"--w3-count", [&](auto& f, auto& v) { o.w3Count = number(f, v, 1, kInt); }},
            {"--w3-level", [&](auto& f, auto& v) { o.w3Level = int(number(f, v, 1, 9)); }},
            {"--w4-count", [&](auto& f, auto& v) { o.w4Count = int(number(f, v, 1, kInt)); }},
            {"--w4-size", [&](auto& f, auto& v) { o.w4Size = int(number(f, v, 1, 60000)); }},
            {"--w5-count", [&](auto& f, auto& v) { o.w5Count = int(number(f, v, 1, kInt)); }},
            {"--w5-size", [&](auto& f, auto& v) { o.w5Size = int(number(f, v, 1, 60000)); }},
            {"--w5-synced", [&](auto& f, auto& v) { o.w5Synced = int(number(f, v, 0, kInt)); }},
            {"--w6-records", [&](auto& f, auto& v) { o.w6Records = number(f, v, 1, kInt); }},
            {"--w6-rows", [&](auto& f, auto& v) { o.w6Rows = int(number(f, v, 1, 46340)); }},
            {"--w6-cols", [&](auto& f, auto& v) { o.w6Cols = int(number(f, v, 1, 46340)); }},
            {"--w7-count", [&](auto& f, auto& v) { o.w7Count = number(f, v, 1, kInt); }},
            {"--w7-rows", [&](auto& f, auto& v) { o.w7Rows = int(number(f, v, 1, kInt)); }},
            {"--w7-cols", [&](auto& f, auto& v) { o.w7Cols = int(number(f, v, 1, 1000)); }},
            {"--w7-range", [&](auto& f, auto& v) { o.w7Range = int(number(f, v, 1, kInt)); }},
            {"--w7-reads", [&](auto& f, auto& v) { o.w7Reads = int(number(f, v, 1, kInt)); }},
            {"--w8-appends", [&](auto& f, auto& v) { o.w8Appends = int(number(f, v, 1, kInt)); }},
            {"--w8-size", [&](auto& f, auto& v) { o.w8Size = int(number(f, v, 1, kInt)); }},
        };
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--smoke") {
            makeSmoke(o);
            continue;
        }
        if (flag == "--in-process") {
            o.inProcess = true;
            continue;
        }
        const auto it = valued.find(flag);
        if (it == valued.end())
            throw std::invalid_argument("unknown flag '" + flag + "'");
        if (i + 1 >= argc)
            throw std::invalid_argument(flag + " needs a value");
        it->second(flag, argv[++i]);
    }
    return o;
}

}  // namespace Quellmar::bench
