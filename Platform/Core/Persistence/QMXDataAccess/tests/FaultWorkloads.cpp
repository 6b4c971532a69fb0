#include "FaultWorkloads.h"

#include "VectorTypes.h"

#include <cstdint>
#include <cstring>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace Quellmar::testing {
namespace {

// Bytes that differ by seed and position, so that a page from the wrong version shows.
std::string pattern(std::size_t size, unsigned seed) {
    std::string out(size, '\0');
    std::uint32_t x = 2166136261u ^ seed;
    for (auto& c : out) {
        x = x * 16777619u + 0x9E37u;
        c = static_cast<char>(x >> 13);
    }
    return out;
}

std::vector<double> doubles(std::size_t count, double base) {
    std::vector<double> out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = base + 0.25 * static_cast<double>(i);
    return out;
}

std::vector<std::int32_t> ints(std::size_t count, std::int32_t base) {
    std::vector<std::int32_t> out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = base + static_cast<std::int32_t>(i * 7);
    return out;
}

template <typename T>
Series series(int type, int rows, int cols, const std::vector<T>& values) {
    Series s;
    s.type = type;
    s.rows = rows;
    s.cols = cols;
    s.bytes.resize(values.size() * sizeof(T));
    std::memcpy(s.bytes.data(), values.data(), s.bytes.size());
    return s;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::size_t elementSize(int type) {
    return type == VT_DOUBLE || type == VT_INT64 ? 8 : 4;
}

}  // namespace

std::string describe(const Content& content) {
    if (!content.exists)
        return "(no file)";
    std::ostringstream out;
    for (const auto& [key, bytes] : content.blobs)
        out << key << "[" << bytes.size() << "] ";
    for (const auto& [key, s] : content.series)
        out << key << "<" << s.rows << "x" << s.cols << "> ";
    return out.str();
}

std::vector<Content> Workload::contents() const {
    std::vector<Content> out{Content{}};
    for (const Step& step : steps) {
        Content next = out.back();
        if (!step.revert) {
            next.exists = true;
            if (step.effect)
                step.effect(next);
        }
        out.push_back(std::move(next));
    }
    return out;
}

Workload blobWorkload() {
    Workload w;
    w.name = "blobs";
    w.steps.push_back({"create file, group and two objects",
                       [](HostUnit& u) {
                           u.blobs.createGroup("g", 1);
                           u.blobs.create("g", "a", makeObject(pattern(300, 1)));
                           u.blobs.create("g", "b", makeObject(pattern(5000, 2)));
                       },
                       [](Content& c) {
                           c.blobs["g/a"] = pattern(300, 1);
                           c.blobs["g/b"] = pattern(5000, 2);
                       }});
    w.steps.push_back({"update one object, add another",
                       [](HostUnit& u) {
                           u.blobs.update("g", "a", makeObject(pattern(9000, 3)));
                           u.blobs.create("g", "c", makeObject(pattern(700, 4)));
                       },
                       [](Content& c) {
                           c.blobs["g/a"] = pattern(9000, 3);
                           c.blobs["g/c"] = pattern(700, 4);
                       }});
    w.steps.push_back({"remove an object", [](HostUnit& u) { u.blobs.remove("g", "b"); },
                       [](Content& c) { c.blobs.erase("g/b"); }});
    w.steps.push_back({"create an object and revert",
                       [](HostUnit& u) { u.blobs.create("g", "d", makeObject(pattern(2000, 5))); },
                       nullptr, true});
    w.steps.push_back({"update after the revert",
                       [](HostUnit& u) { u.blobs.update("g", "c", makeObject(pattern(100, 6))); },
                       [](Content& c) { c.blobs["g/c"] = pattern(100, 6); }});
    return w;
}

Workload seriesWorkload() {
    Workload w;
    w.name = "vectors and arrays";
    w.steps.push_back({"create file, a vector and an array",
                       [](HostUnit& u) {
                           const auto v = doubles(1000, 1.0);
                           u.vectors.create("s", "v1", VT_DOUBLE, 1000, v.data());
                           const auto a = ints(600, 10);
                           u.arrays.create("s", "a1", VT_INT32, 20, 30, a.data());
                       },
                       [](Content& c) {
                           c.series["s/v1"] = series(VT_DOUBLE, 1000, 1, doubles(1000, 1.0));
                           c.series["s/a1"] = series(VT_INT32, 20, 30, ints(600, 10));
                       }});
    w.steps.push_back({"update both, add a vector",
                       [](HostUnit& u) {
                           const auto v = doubles(1000, -5.0);
                           u.vectors.update("s", "v1", VT_DOUBLE, 1000, v.data());
                           const auto v2 = doubles(3000, 8.0);
                           u.vectors.create("s", "v2", VT_DOUBLE, 3000, v2.data());
                           const auto a = ints(600, -300);
                           u.arrays.update("s", "a1", VT_INT32, 20, 30, a.data());
                       },
                       [](Content& c) {
                           c.series["s/v1"] = series(VT_DOUBLE, 1000, 1, doubles(1000, -5.0));
                           c.series["s/v2"] = series(VT_DOUBLE, 3000, 1, doubles(3000, 8.0));
                           c.series["s/a1"] = series(VT_INT32, 20, 30, ints(600, -300));
                       }});
    w.steps.push_back({"create a vector and an array, revert",
                       [](HostUnit& u) {
                           const auto v = doubles(500, 2.0);
                           u.vectors.create("s", "v3", VT_DOUBLE, 500, v.data());
                           const auto a = ints(40, 1);
                           u.arrays.create("s", "a2", VT_INT32, 4, 10, a.data());
                       },
                       nullptr, true});
    w.steps.push_back({"remove a vector", [](HostUnit& u) { u.vectors.remove("s", "v2"); },
                       [](Content& c) { c.series.erase("s/v2"); }});
    return w;
}

Workload manyUnitsWorkload() {
    Workload w;
    w.name = "many small units";
    w.steps.push_back({"create file, group and six objects",
                       [](HostUnit& u) {
                           u.blobs.createGroup("m", 2);
                           for (unsigned k = 0; k < 6; ++k)
                               u.blobs.create("m", "o" + std::to_string(k),
                                              makeObject(pattern(300, 50 + k)));
                       },
                       [](Content& c) {
                           for (unsigned k = 0; k < 6; ++k)
                               c.blobs["m/o" + std::to_string(k)] = pattern(300, 50 + k);
                       }});
    for (unsigned i = 0; i < 24; ++i) {
        const std::string name = "o" + std::to_string(i % 6);
        const std::string key = "m/" + name;
        const std::string bytes = pattern(200 + 450 * (i % 5), 100 + i);
        switch (i == 21 ? 4 : i % 4) {
            case 0:
            case 1:
                w.steps.push_back(
                    {"update " + key,
                     [=](HostUnit& u) { u.blobs.update("m", name, makeObject(bytes)); },
                     [=](Content& c) { c.blobs[key] = bytes; }});
                break;
            case 4:
                w.steps.push_back({"remove " + key, [=](HostUnit& u) { u.blobs.remove("m", name); },
                                   [=](Content& c) { c.blobs.erase(key); }});
                break;
            case 2: {
                const std::string vname = "v" + std::to_string(i);
                const auto values = doubles(100 + 37 * i, static_cast<double>(i));
                const int count = static_cast<int>(values.size());
                w.steps.push_back({"create vector " + vname,
                                   [=](HostUnit& u) {
                                       u.vectors.create("m", vname, VT_DOUBLE, count,
                                                        values.data());
                                   },
                                   [=](Content& c) {
                                       c.series["m/" + vname] = series(VT_DOUBLE, count, 1, values);
                                   }});
                break;
            }
            case 3: {
                const std::string aname = "a" + std::to_string(i);
                const auto values = ints(12, static_cast<std::int32_t>(i));
                // Every other array creation is reverted.
                const bool revert = (i / 4) % 2 == 1;
                w.steps.push_back(
                    {"create array " + aname + (revert ? ", revert" : ""),
                     [=](HostUnit& u) {
                         u.arrays.create("m", aname, VT_INT32, 3, 4, values.data());
                     },
                     revert
                         ? std::function<void(Content&)>()
                         : [=](Content&
                                   c) { c.series["m/" + aname] = series(VT_INT32, 3, 4, values); },
                     revert});
                break;
            }
        }
    }
    return w;
}

Workload spillWorkload() {
    // The journaled file holds back overwrites up to 8 MiB, counting each page twice (original
    // and new): rewriting 4.5 MiB of existing pages passes that.
    constexpr int kCount = 589824;
    Workload w;
    w.name = "journal spill";
    w.steps.push_back({"create a 4.5 MiB vector",
                       [](HostUnit& u) {
                           const auto v = doubles(kCount, 0.5);
                           u.vectors.create("big", "v", VT_DOUBLE, kCount, v.data());
                       },
                       [](Content& c) {
                           c.series["big/v"] = series(VT_DOUBLE, kCount, 1, doubles(kCount, 0.5));
                       }});
    w.steps.push_back({"rewrite all of it",
                       [](HostUnit& u) {
                           const auto v = doubles(kCount, -3.0);
                           u.vectors.update("big", "v", VT_DOUBLE, kCount, v.data());
                       },
                       [](Content& c) {
                           c.series["big/v"] = series(VT_DOUBLE, kCount, 1, doubles(kCount, -3.0));
                       }});
    return w;
}

Observation observe(const std::string& path, const Workload& workload,
                    UserContext::AccessIntent intent) {
    Observation result;
    if (!exists(path)) {
        result.ok = true;
        return result;
    }
    std::set<std::string> blobKeys, seriesKeys;
    for (const Content& c : workload.contents()) {
        for (const auto& entry : c.blobs)
            blobKeys.insert(entry.first);
        for (const auto& entry : c.series)
            seriesKeys.insert(entry.first);
    }
    try {
        HostUnit unit(path, intent);
        Content& content = result.content;
        content.exists = true;
        for (const std::string& key : blobKeys) {
            const auto slash = key.find('/');
            const std::string group = key.substr(0, slash), name = key.substr(slash + 1);
            if (!unit.blobs.existsGroup(group) || !unit.blobs.exists(group, name))
                continue;
            SerializationTransferObject read;
            unit.blobs.read(group, name, read);
            content.blobs[key] = bytesOf(read);
        }
        for (const std::string& key : seriesKeys) {
            const auto slash = key.find('/');
            const std::string group = key.substr(0, slash), name = key.substr(slash + 1);
            // The array DAO reads vectors too, and knows the shape of arrays.
            if (!unit.arrays.existsGroup(group) || !unit.arrays.exists(group, name))
                continue;
            const VectorInfo info = unit.arrays.getInfo(group, name);
            Series s;
            s.type = info.type;
            s.rows = info.rows;
            s.cols = info.cols;
            s.bytes.resize(static_cast<std::size_t>(info.rows) *
                           static_cast<std::size_t>(info.cols) * elementSize(info.type));
            if (!unit.arrays.read(group, name, static_cast<tagVectorDataTypes>(info.type),
                                  s.bytes.data()))
                throw std::runtime_error("cannot read " + key);
            content.series[key] = std::move(s);
        }
        unit.stack->commit();
        result.ok = true;
    } catch (const std::exception& e) {
        // An open that rolled back the creation of the file leaves no file: nothing committed.
        if (!exists(path)) {
            result = Observation{};
            result.ok = true;
            return result;
        }
        result.error = e.what();
    }
    return result;
}

}  // namespace Quellmar::testing
