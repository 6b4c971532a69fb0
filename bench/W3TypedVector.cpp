// W3: a long typed vector of smooth doubles, written and read, also converted to float, and
// the same with compression.
#include "LibraryHost.h"
#include "Patterns.h"
#include "Placement.h"
#include "PlainFile.h"
#include "RawHdf5.h"
#include "Sqlite.h"
#include "Workloads.h"

#include <QMXDataAccess/QMXVectorDAO.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace Quellmar::bench {

namespace {

const char* const kWrite = "write";
const char* const kRead = "read";
const char* const kReadFloat = "read as float";
const char* const kSize = "file size";

struct Names {
    std::string writeZ, readZ, sizeZ;
    explicit Names(int level)
        : writeZ("write, deflate " + std::to_string(level)),
          readZ("read, deflate " + std::to_string(level)),
          sizeZ("file size, deflate " + std::to_string(level)) {}
};

// The vector, page-aligned for every writer, and result buffers of each placement that every
// contender reads into, touched once up front.
struct Vector {
    PlacedArray<double> data;
    PlacedArray<double> out[2];
    PlacedArray<float> outFloat[2];
    int level;
    bool compressed;
    Names names;
    Vector(std::size_t count, int level, bool compressed)
        : data(count, Placement::Aligned),
          out{{count, Placement::Aligned}, {count, Placement::PastPage}},
          outFloat{{count, Placement::Aligned}, {count, Placement::PastPage}},
          level(level),
          compressed(compressed),
          names(level) {
        const std::vector<double> values = smoothDoubles(count);
        std::copy(values.begin(), values.end(), data.begin());
    }
    static std::size_t index(Placement p) { return p == Placement::Aligned ? 0 : 1; }
    double* outFor(Placement p) { return out[index(p)].data(); }
    float* floatFor(Placement p) { return outFloat[index(p)].data(); }
    std::size_t bytes() const { return data.bytes(); }
    void clearOut() {
        for (auto& o : out)
            std::fill(o.begin(), o.end(), 0.0);
        for (auto& o : outFloat)
            std::fill(o.begin(), o.end(), 0.0f);
    }
    void checkOut(const std::string& who, Placement p) const {
        expect(std::memcmp(out[index(p)].data(), data.data(), bytes()) == 0,
               who + ": doubles read into a buffer " + labelOf(p) + " differ");
    }
    void checkOut(const std::string& who) const {
        for (Placement p : kPlacements)
            checkOut(who, p);
    }
    void checkFloat(const std::string& who) const {
        for (const auto& o : outFloat)
            for (std::size_t i = 0; i < data.size(); ++i)
                if (o[i] != static_cast<float>(data[i]))
                    throw BenchFailure(who + ": float " + std::to_string(i) + " differs");
    }
    // What a plain reader of doubles does to get floats.
    void convertOut(Placement p) {
        const double* from = outFor(p);
        std::transform(from, from + data.size(), floatFor(p),
                       [](double d) { return static_cast<float>(d); });
    }
};

void libraryWrite(Vector& v, const std::string& path, int level, const std::string& phase,
                  Sample& s) {
    Stopwatch t;
    HostSession host(path, false);
    QMXVectorDAO dao;
    host.bind(dao);
    dao.setCompression(level);
    dao.create("w3", "values", VT_DOUBLE, static_cast<int>(v.data.size()), v.data.data());
    host.commit();
    s.seconds[phase] = t.seconds();
}

void libraryRead(const std::string& path, tagVectorDataTypes type, void* out,
                 const std::string& phase, Sample& s) {
    Stopwatch t;
    HostSession host(path, true);
    QMXVectorDAO dao;
    host.bind(dao);
    dao.read("w3", "values", type, out);
    host.commit();
    s.seconds[phase] = t.seconds();
}

void runLibrary(Vector& v, const std::string& path, const std::string& pathZ, Sample& s) {
    libraryWrite(v, path, 0, kWrite, s);
    v.clearOut();
    for (Placement p : kPlacements) {
        libraryRead(path, VT_DOUBLE, v.outFor(p), placedPhase(kRead, p), s);
        libraryRead(path, VT_FLOAT, v.floatFor(p), placedPhase(kReadFloat, p), s);
    }
    v.checkOut(kLibrary);
    v.checkFloat(kLibrary);
    s.sizes[kSize] = mib(fileSize(path));
    if (!v.compressed)
        return;

    libraryWrite(v, pathZ, v.level, v.names.writeZ, s);
    v.clearOut();
    libraryRead(pathZ, VT_DOUBLE, v.outFor(Placement::Aligned), v.names.readZ, s);
    v.checkOut(kLibrary, Placement::Aligned);
    s.sizes[v.names.sizeZ] = mib(fileSize(pathZ));
}

void rawWrite(Vector& v, const std::string& path, int level, const std::string& phase, Sample& s) {
    Stopwatch t;
    raw::Id file = raw::createFile(path);
    raw::Id group = raw::createGroup(file, "w3");
    raw::Id space = raw::simpleSpace(v.data.size());
    raw::Id dcpl = raw::bestLayout(v.bytes());
    if (level > 0) {
        // One-MiB chunks: big enough for deflate, and they fit the default chunk cache.
        const hsize_t chunk = std::min<hsize_t>(v.data.size(), 1 << 17);
        raw::check(H5Pset_chunk(dcpl, 1, &chunk), "H5Pset_chunk");
        // Shuffled bytes of smooth doubles deflate better and faster than the doubles.
        raw::check(H5Pset_shuffle(dcpl), "H5Pset_shuffle");
        raw::check(H5Pset_deflate(dcpl, static_cast<unsigned>(level)), "H5Pset_deflate");
    }
    raw::Id ds = raw::createDataset(group, "values", H5T_NATIVE_DOUBLE, space, dcpl);
    raw::check(H5Dwrite(ds, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data.data()),
               "H5Dwrite");
    ds.close();
    group.close();
    file.close();
    s.seconds[phase] = t.seconds();
}

void rawRead(const std::string& path, hid_t type, void* out, const std::string& phase, Sample& s) {
    Stopwatch t;
    raw::Id file = raw::openFile(path, false);
    raw::Id ds = raw::openDataset(file, "w3/values");
    raw::check(H5Dread(ds, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, out), "H5Dread");
    ds.close();
    file.close();
    s.seconds[phase] = t.seconds();
}

void runRaw(Vector& v, const std::string& path, const std::string& pathZ, Sample& s) {
    rawWrite(v, path, 0, kWrite, s);
    v.clearOut();
    for (Placement p : kPlacements) {
        rawRead(path, H5T_NATIVE_DOUBLE, v.outFor(p), placedPhase(kRead, p), s);
        rawRead(path, H5T_NATIVE_FLOAT, v.floatFor(p), placedPhase(kReadFloat, p), s);
    }
    v.checkOut(kRawHdf5);
    v.checkFloat(kRawHdf5);
    s.sizes[kSize] = mib(fileSize(path));
    if (!v.compressed)
        return;

    rawWrite(v, pathZ, v.level, v.names.writeZ, s);
    v.clearOut();
    rawRead(pathZ, H5T_NATIVE_DOUBLE, v.outFor(Placement::Aligned), v.names.readZ, s);
    v.checkOut(kRawHdf5, Placement::Aligned);
    s.sizes[v.names.sizeZ] = mib(fileSize(pathZ));
}

void runSqlite(Vector& v, const std::string& path, Sample& s) {
    {
        Stopwatch t;
        sql::Database db(path, true);
        db.exec("BEGIN");
        db.prepare(sql::kInsert).insert("values", v.data.data(), v.bytes());
        db.exec("COMMIT");
        s.seconds[kWrite] = t.seconds();
    }
    v.clearOut();
    for (Placement p : kPlacements) {
        for (const char* phase : {kRead, kReadFloat}) {
            Stopwatch t;
            sql::Database db(path, false);
            expect(db.prepare(sql::kSelect).selectInto("values", v.outFor(p), v.bytes()),
                   "SQLite: no row");
            if (phase == kReadFloat)
                v.convertOut(p);
            s.seconds[placedPhase(phase, p)] = t.seconds();
        }
    }
    v.checkOut(kSqlite);
    v.checkFloat(kSqlite);
    s.sizes[kSize] = mib(fileSize(path));
}

void runPlain(Vector& v, const std::string& path, Sample& s) {
    {
        Stopwatch t;
        plain::File f(path, plain::File::Create);
        f.write(v.data.data(), v.bytes());
        f.close();
        s.seconds[kWrite] = t.seconds();
    }
    v.clearOut();
    for (Placement p : kPlacements) {
        for (const char* phase : {kRead, kReadFloat}) {
            Stopwatch t;
            plain::File f(path, plain::File::Read);
            f.read(v.outFor(p), v.bytes());
            f.close();
            if (phase == kReadFloat)
                v.convertOut(p);
            s.seconds[placedPhase(phase, p)] = t.seconds();
        }
    }
    v.checkOut(kPlainFile);
    v.checkFloat(kPlainFile);
    s.sizes[kSize] = mib(fileSize(path));
}

}  // namespace

Workload makeW3TypedVector(const Options& o, const Scratch& scratch) {
    auto v =
        std::make_shared<Vector>(static_cast<std::size_t>(o.w3Count), o.w3Level, !o.secondCoreBusy);
    const double m = mib(static_cast<long long>(v->bytes()));
    const Names& z = v->names;
    Workload w;
    w.id = "W3";
    w.title = "a vector of " + std::to_string(o.w3Count) +
              " smooth doubles written and read, read as float; uncompressed and deflate " +
              std::to_string(o.w3Level);
    w.phases = {{kWrite, "MiB/s", m, kPlainFile, 0.9}};
    for (const char* phase : {kRead, kReadFloat})
        for (Placement p : kPlacements)
            w.phases.push_back({placedPhase(phase, p), "MiB/s", m, kPlainFile, 0.9});
    w.sizes = {{kSize, "MiB", kRawHdf5, 0}};
    if (v->compressed) {
        w.phases.push_back({z.writeZ, "MiB/s", m, kRawHdf5, 0});
        w.phases.push_back({z.readZ, "MiB/s", m, kRawHdf5, 0});
        w.sizes.push_back({z.sizeZ, "MiB", kRawHdf5, 0});
    }
    w.contenders.push_back({kLibrary, [v, &scratch](Sample& s) {
                                runLibrary(*v, scratch.fresh("w3.qmz"), scratch.fresh("w3z.qmz"),
                                           s);
                            }});
    w.contenders.push_back({kRawHdf5, [v, &scratch](Sample& s) {
                                runRaw(*v, scratch.fresh("w3.h5"), scratch.fresh("w3z.h5"), s);
                            }});
    w.contenders.push_back(
        {kSqlite, [v, &scratch](Sample& s) { runSqlite(*v, scratch.fresh("w3.sqlite"), s); }});
    w.contenders.push_back(
        {kPlainFile, [v, &scratch](Sample& s) { runPlain(*v, scratch.fresh("w3.bin"), s); }});
    return w;
}

}  // namespace Quellmar::bench
