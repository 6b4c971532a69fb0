// W2: one large blob written and read back whole.
#include "LibraryHost.h"
#include "Patterns.h"
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

// The blob, and one result buffer that every contender reads into: allocated and touched once,
// so no contender pays for first-touch page faults the others do not.
struct LargeBlob {
    std::shared_ptr<Bytes> data;
    std::shared_ptr<Bytes> out;
    explicit LargeBlob(std::size_t size)
        : data(std::make_shared<Bytes>(patternBytes(size, 2))), out(std::make_shared<Bytes>(size)) {}
    void clearOut() { std::memset(out->data(), 0, out->size()); }
    void checkOut(const std::string& who) const {
        expect(out->size() == data->size(), who + ": wrong size");
        checkBytes(out->data(), out->size(), 2, who);
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
    {
        Stopwatch t;
        HostSession host(path, true);
        QMXBlobDAO dao;
        host.bind(dao);
        SerializationTransferObject obj(b.out);
        dao.read("w2", "blob", obj);
        host.commit();
        s.seconds[kRead] = t.seconds();
        expect(obj.getBuffer() == b.out, "library: read did not reuse the buffer it was given");
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
    {
        Stopwatch t;
        raw::Id file = raw::openFile(path, false);
        raw::Id ds = raw::openDataset(file, "w2/blob");
        expect(raw::elementCount(ds) == b.out->size(), "raw HDF5: wrong size");
        raw::check(H5Dread(ds, H5T_NATIVE_UCHAR, H5S_ALL, H5S_ALL, H5P_DEFAULT, b.out->data()),
                   "H5Dread");
        ds.close();
        file.close();
        s.seconds[kRead] = t.seconds();
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
    {
        Stopwatch t;
        sql::Database db(path, false);
        expect(db.prepare(sql::kSelect).selectInto("blob", b.out->data(), b.out->size()),
               "SQLite: no row");
        s.seconds[kRead] = t.seconds();
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
    {
        Stopwatch t;
        plain::File f(path, plain::File::Read);
        expect(f.size() == b.out->size(), "plain file: wrong size");
        f.read(b.out->data(), b.out->size());
        f.close();
        s.seconds[kRead] = t.seconds();
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
    w.phases = {{kWrite, "MiB/s", mib, kPlainFile, 0.9}, {kRead, "MiB/s", mib, kPlainFile, 0.9}};
    w.contenders.push_back({kLibrary, [blob, &scratch](Sample& s) {
                                runLibrary(*blob, scratch.fresh("w2.qmz"), s);
                            }});
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
