// W2: one large blob written and read back whole.
#include "LibraryHost.h"
#include "Patterns.h"
#include "Placement.h"
#include "PlainFile.h"
#include "RawHdf5.h"
#include "Sqlite.h"
#include "Workloads.h"

#include <QMXDataAccess/QMXBlobDAO.h>
#include <QMXDataAccess/SerializationTransferObject.h>

#include <cstring>
#include <memory>

namespace Quellmar::bench {

namespace {

const char* const kWrite = "write";
const char* const kRead = "read";

// The blob, page-aligned for every writer, and one result buffer per placement that every
// contender reads into: allocated and touched once, so no contender pays for first-touch page
// faults the others do not.
struct LargeBlob {
    std::shared_ptr<Bytes> data;
    std::shared_ptr<Bytes> out[2];
    explicit LargeBlob(std::size_t size) : data(placedVector(size, Placement::Aligned)) {
        fillBytes(data->data(), size, 2);
        for (Placement p : kPlacements)
            out[index(p)] = placedVector(size, p);
    }
    static std::size_t index(Placement p) { return p == Placement::Aligned ? 0 : 1; }
    Bytes& outFor(Placement p) { return *out[index(p)]; }
    void clearOut() {
        for (auto& o : out)
            std::memset(o->data(), 0, o->size());
    }
    void checkOut(const std::string& who) const {
        for (const auto& o : out) {
            expect(o->size() == data->size(), who + ": wrong size");
            checkBytes(o->data(), o->size(), 2, who);
        }
    }
};

void runLibrary(LargeBlob& b, const std::string& path, Sample& s) {
    {
        Stopwatch t;
        HostSession host(path, false);
        QMXBlobDAO dao;
        host.bind(dao);
        dao.createGroup("w2", 1);
        dao.create("w2", "blob", SerializationTransferObject(b.data));
        host.commit();
        s.seconds[kWrite] = t.seconds();
    }
    b.clearOut();
    for (Placement p : kPlacements) {
        Stopwatch t;
        HostSession host(path, true);
        QMXBlobDAO dao;
        host.bind(dao);
        SerializationTransferObject obj(b.out[LargeBlob::index(p)]);
        dao.read("w2", "blob", obj);
        host.commit();
        s.seconds[placedPhase(kRead, p)] = t.seconds();
        expect(obj.getBuffer() == b.out[LargeBlob::index(p)],
               "library: read did not reuse the buffer it was given");
    }
    b.checkOut(kLibrary);
}

void runRaw(LargeBlob& b, const std::string& path, Sample& s) {
    {
        Stopwatch t;
        raw::Id file = raw::createFile(path);
        raw::Id group = raw::createGroup(file, "w2");
        raw::Id space = raw::simpleSpace(b.data->size());
        raw::Id dcpl = raw::bestLayout(b.data->size());
        raw::Id ds = raw::createDataset(group, "blob", H5T_NATIVE_UCHAR, space, dcpl);
        raw::check(H5Dwrite(ds, H5T_NATIVE_UCHAR, H5S_ALL, H5S_ALL, H5P_DEFAULT, b.data->data()),
                   "H5Dwrite");
        ds.close();
        group.close();
        file.close();
        s.seconds[kWrite] = t.seconds();
    }
    b.clearOut();
    for (Placement p : kPlacements) {
        Bytes& out = b.outFor(p);
        Stopwatch t;
        raw::Id file = raw::openFile(path, false);
        raw::Id ds = raw::openDataset(file, "w2/blob");
        expect(raw::elementCount(ds) == out.size(), "raw HDF5: wrong size");
        raw::check(H5Dread(ds, H5T_NATIVE_UCHAR, H5S_ALL, H5S_ALL, H5P_DEFAULT, out.data()),
                   "H5Dread");
        ds.close();
        file.close();
        s.seconds[placedPhase(kRead, p)] = t.seconds();
    }
    b.checkOut(kRawHdf5);
}

void runSqlite(LargeBlob& b, const std::string& path, Sample& s) {
    {
        Stopwatch t;
        sql::Database db(path, true);
        db.exec("BEGIN");
        db.prepare(sql::kInsert).insert("blob", b.data->data(), b.data->size());
        db.exec("COMMIT");
        s.seconds[kWrite] = t.seconds();
    }
    b.clearOut();
    for (Placement p : kPlacements) {
        Bytes& out = b.outFor(p);
        Stopwatch t;
        sql::Database db(path, false);
        expect(db.prepare(sql::kSelect).selectInto("blob", out.data(), out.size()),
               "SQLite: no row");
        s.seconds[placedPhase(kRead, p)] = t.seconds();
    }
    b.checkOut(kSqlite);
}

void runPlain(LargeBlob& b, const std::string& path, Sample& s) {
    {
        Stopwatch t;
        plain::File f(path, plain::File::Create);
        f.write(b.data->data(), b.data->size());
        f.close();
        s.seconds[kWrite] = t.seconds();
    }
    b.clearOut();
    for (Placement p : kPlacements) {
        Bytes& out = b.outFor(p);
        Stopwatch t;
        plain::File f(path, plain::File::Read);
        expect(f.size() == out.size(), "plain file: wrong size");
        f.read(out.data(), out.size());
        f.close();
        s.seconds[placedPhase(kRead, p)] = t.seconds();
    }
    b.checkOut(kPlainFile);
}

}  // namespace

Workload makeW2LargeBlob(const Options& o, const Scratch& scratch) {
    auto blob = std::make_shared<LargeBlob>(static_cast<std::size_t>(o.w2Bytes));
    const double mib = double(o.w2Bytes) / (1 << 20);
    Workload w;
    w.id = "W2";
    w.title = "one blob of " + std::to_string(o.w2Bytes >> 20) + " MiB written and read";
    w.phases = {{kWrite, "MiB/s", mib, kPlainFile, 0.9}};
    for (Placement p : kPlacements)
        w.phases.push_back({placedPhase(kRead, p), "MiB/s", mib, kPlainFile, 0.9});
    w.contenders.push_back(
        {kLibrary, [blob, &scratch](Sample& s) { runLibrary(*blob, scratch.fresh("w2.qmz"), s); }});
    w.contenders.push_back(
        {kRawHdf5, [blob, &scratch](Sample& s) { runRaw(*blob, scratch.fresh("w2.h5"), s); }});
    w.contenders.push_back({kSqlite, [blob, &scratch](Sample& s) {
                                runSqlite(*blob, scratch.fresh("w2.sqlite"), s);
                            }});
    w.contenders.push_back(
        {kPlainFile, [blob, &scratch](Sample& s) { runPlain(*blob, scratch.fresh("w2.bin"), s); }});
    return w;
}

}  // namespace Quellmar::bench
