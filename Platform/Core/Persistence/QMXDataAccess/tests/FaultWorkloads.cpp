#include "FaultWorkloads.h"

#include "VectorTypes.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
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

// One operation of a step: what the host does, and what it leaves once its unit commits.
struct Op {
    std::function<void(HostUnit&)> work;
    std::function<void(Content&)> effect;
};

Op group(const std::string& g, int version) {
    return {[=](HostUnit& u) { u.blobs.createGroup(g, version); }, [](Content&) {}};
}

Op putBlob(const std::string& g, const std::string& n, const std::string& bytes, bool update) {
    return {[=](HostUnit& u) {
                update ? u.blobs.update(g, n, makeObject(bytes))
                       : u.blobs.create(g, n, makeObject(bytes));
            },
            [=](Content& c) { c.blobs[g + "/" + n] = bytes; }};
}
Op createBlob(const std::string& g, const std::string& n, const std::string& bytes) {
    return putBlob(g, n, bytes, false);
}
Op updateBlob(const std::string& g, const std::string& n, const std::string& bytes) {
    return putBlob(g, n, bytes, true);
}

// A vector (cols 0) or an array of doubles or ints; the values are shared by both closures.
template <typename T>
Op putSeries(const std::string& g, const std::string& n, int rows, int cols, std::vector<T> values,
             bool update) {
    const auto shared = std::make_shared<const std::vector<T>>(std::move(values));
    const auto type = std::is_same_v<T, double> ? VT_DOUBLE : VT_INT32;
    return {[=](HostUnit& u) {
                if (cols == 0 && update)
                    u.vectors.update(g, n, type, rows, shared->data());
                else if (cols == 0)
                    u.vectors.create(g, n, type, rows, shared->data());
                else if (update)
                    u.arrays.update(g, n, type, rows, cols, shared->data());
                else
                    u.arrays.create(g, n, type, rows, cols, shared->data());
            },
            [=](Content& c) {
                c.series[g + "/" + n] = series(type, rows, cols == 0 ? 1 : cols, *shared);
            }};
}
Op createVector(const std::string& g, const std::string& n, std::vector<double> values) {
    const int count = static_cast<int>(values.size());
    return putSeries(g, n, count, 0, std::move(values), false);
}
Op updateVector(const std::string& g, const std::string& n, std::vector<double> values) {
    const int count = static_cast<int>(values.size());
    return putSeries(g, n, count, 0, std::move(values), true);
}

// Elements appended to a vector of doubles (cols 0) or rows of ints appended to an array.
template <typename T>
Op appendTo(const std::string& g, const std::string& n, int rows, int cols,
            std::vector<T> values) {
    const auto shared = std::make_shared<const std::vector<T>>(std::move(values));
    const auto type = std::is_same_v<T, double> ? VT_DOUBLE : VT_INT32;
    return {[=](HostUnit& u) {
                if (cols == 0)
                    u.vectors.append(g, n, type, rows, shared->data());
                else
                    u.arrays.appendRows(g, n, type, rows, cols, shared->data());
            },
            [=](Content& c) {
                Series& s = c.series[g + "/" + n];
                s.rows += rows;
                const auto* bytes = reinterpret_cast<const unsigned char*>(shared->data());
                s.bytes.insert(s.bytes.end(), bytes, bytes + shared->size() * sizeof(T));
            }};
}

Op remove(const std::string& g, const std::string& n, bool vector) {
    return {[=](HostUnit& u) {
                if (vector)
                    u.vectors.remove(g, n);
                else
                    u.blobs.remove(g, n);
            },
            [=](Content& c) { vector ? c.series.erase(g + "/" + n) : c.blobs.erase(g + "/" + n); }};
}

// A step of its operations in order; a reverted one leaves nothing.
Step step(const std::string& label, std::vector<Op> ops, bool revert = false) {
    const auto shared = std::make_shared<const std::vector<Op>>(std::move(ops));
    std::function<void(Content&)> effect;
    if (!revert)
        effect = [shared](Content& c) {
            for (const Op& op : *shared)
                op.effect(c);
        };
    return {label,
            [shared](HostUnit& u) {
                for (const Op& op : *shared)
                    op.work(u);
            },
            effect, revert};
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
    return {"blobs",
            {step("create file, group and two objects",
                  {group("g", 1), createBlob("g", "a", pattern(300, 1)),
                   createBlob("g", "b", pattern(5000, 2))}),
             step("update one object, add another",
                  {updateBlob("g", "a", pattern(9000, 3)), createBlob("g", "c", pattern(700, 4))}),
             step("remove an object", {remove("g", "b", false)}),
             step("create an object and revert", {createBlob("g", "d", pattern(2000, 5))}, true),
             step("update after the revert", {updateBlob("g", "c", pattern(100, 6))})}};
}

Workload seriesWorkload() {
    return {
        "vectors and arrays",
        {step("create file, a vector and an array",
              {createVector("s", "v1", doubles(1000, 1.0)),
               putSeries("s", "a1", 20, 30, ints(600, 10), false)}),
         step("update both, add a vector", {updateVector("s", "v1", doubles(1000, -5.0)),
                                            createVector("s", "v2", doubles(3000, 8.0)),
                                            putSeries("s", "a1", 20, 30, ints(600, -300), true)}),
         step("create a vector and an array, revert",
              {createVector("s", "v3", doubles(500, 2.0)),
               putSeries("s", "a2", 4, 10, ints(40, 1), false)},
              true),
         step("remove a vector", {remove("s", "v2", true)})}};
}

Workload manyUnitsWorkload() {
    Workload w;
    w.name = "many small units";
    std::vector<Op> first{group("m", 2)};
    for (unsigned k = 0; k < 6; ++k)
        first.push_back(createBlob("m", "o" + std::to_string(k), pattern(300, 50 + k)));
    w.steps.push_back(step("create file, group and six objects", std::move(first)));
    for (unsigned i = 0; i < 24; ++i) {
        const std::string name = "o" + std::to_string(i % 6);
        if (i == 21) {
            w.steps.push_back(step("remove m/" + name, {remove("m", name, false)}));
        } else if (i % 4 < 2) {
            const std::string bytes = pattern(200 + 450 * (i % 5), 100 + i);
            w.steps.push_back(step("update m/" + name, {updateBlob("m", name, bytes)}));
        } else if (i % 4 == 2) {
            const std::string vname = "v" + std::to_string(i);
            w.steps.push_back(step("create vector " + vname,
                                   {createVector("m", vname, doubles(100 + 37 * i, i))}));
        } else {
            // Every other array creation is reverted.
            const std::string aname = "a" + std::to_string(i);
            const bool revert = (i / 4) % 2 == 1;
            w.steps.push_back(step("create array " + aname + (revert ? ", revert" : ""),
                                   {putSeries("m", aname, 3, 4, ints(12, i), false)}, revert));
        }
    }
    return w;
}

Workload appendWorkload() {
    // One append a step: a unit whose later operation fails keeps its earlier ones (a dropped
    // stack commits), so each step under test is a single operation.
    return {"appends",
            {step("create a vector and an array",
                  {createVector("p", "v", doubles(1000, 1.0)),
                   putSeries("p", "a", 10, 4, ints(40, 5), false)}),
             step("append to the vector (it moves to chunks)",
                  {appendTo("p", "v", 3000, 0, doubles(3000, 9.0))}),
             step("append rows to the array", {appendTo("p", "a", 5, 4, ints(20, -7))}),
             step("append and revert", {appendTo("p", "v", 2000, 0, doubles(2000, 4.0))}, true),
             step("append to the chunked vector",
                  {appendTo("p", "v", 20000, 0, doubles(20000, -2.0))}),
             // 24,000 doubles fill 11 slices and part of a 12th: 10 more stay in it, and the
             // slice checksum table is rewritten where it stands.
             step("append inside the last slice",
                  {appendTo("p", "v", 10, 0, doubles(10, 6.5))})}};
}

Workload spillWorkload() {
    // The journaled file holds back overwrites up to 8 MiB, counting each page twice (original
    // and new): rewriting 4.5 MiB of existing pages passes that.
    constexpr int kCount = 589824;
    return {"journal spill",
            {step("create a 4.5 MiB vector", {createVector("big", "v", doubles(kCount, 0.5))}),
             step("rewrite all of it", {updateVector("big", "v", doubles(kCount, -3.0))})}};
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
