// W1: many small blobs in one object group, created under one stack, then read back by name.
#include "LibraryHost.h"
#include "Patterns.h"
#include "PlainFile.h"
#include "RawHdf5.h"
#include "Sqlite.h"
#include "Workloads.h"

#include <QMXDataAccess/QMXBlobDAO.h>
#include <QMXDataAccess/SerializationTransferObject.h>

#include <memory>

namespace Quellmar::bench {

namespace {

const char* const kCreate = "create";
const char* const kRead = "read";
const char* const kBytesPerObject = "bytes per object";

// The objects every contender stores, and where each reads them back to.
struct SmallObjects {
    std::vector<std::string> names;
    std::vector<std::shared_ptr<Bytes>> data;
    std::vector<std::shared_ptr<Bytes>> out;

    SmallObjects(int count, int size) {
        for (int i = 0; i < count; ++i) {
            names.push_back(objectName(static_cast<std::size_t>(i)));
            data.push_back(std::make_shared<Bytes>(
                patternBytes(static_cast<std::size_t>(size), static_cast<std::uint64_t>(i))));
        }
    }
    // Fresh empty result buffers, so that every contender allocates what it reads.
    void clearOut() {
        out.clear();
        for (std::size_t i = 0; i < names.size(); ++i)
            out.push_back(std::make_shared<Bytes>());
    }
    void checkOut(const std::string& who) const {
        for (std::size_t i = 0; i < names.size(); ++i) {
            expect(out[i]->size() == data[i]->size(), who + ": wrong size of " + names[i]);
            checkBytes(out[i]->data(), out[i]->size(), i, who + " " + names[i]);
        }
    }
};

void record(Sample& s, const std::string& path, std::size_t count) {
    s.sizes[kBytesPerObject] = double(fileSize(path)) / double(count);
}

void runLibrary(SmallObjects& objs, const std::string& path, Sample& s) {
    {
        Stopwatch t;
        HostSession host(path, false);
        QMXBlobDAO dao;
        host.bind(dao);
        dao.createGroup("w1", 1);
        for (std::size_t i = 0; i < objs.names.size(); ++i)
            dao.create("w1", objs.names[i], SerializationTransferObject(objs.data[i]));
        host.commit();
        s.seconds[kCreate] = t.seconds();
    }
    objs.clearOut();
    {
        Stopwatch t;
        HostSession host(path, true);
        QMXBlobDAO dao;
        host.bind(dao);
        SerializationTransferObject obj;
        for (std::size_t i = 0; i < objs.names.size(); ++i) {
            obj.setBuffer(objs.out[i]);
            dao.read("w1", objs.names[i], obj);
        }
        host.commit();
        s.seconds[kRead] = t.seconds();
    }
    objs.checkOut(kLibrary);
    record(s, path, objs.names.size());
}

void runRaw(SmallObjects& objs, const std::string& path, Sample& s) {
    {
        Stopwatch t;
        raw::Id file = raw::createFile(path);
        raw::Id group = raw::createGroup(file, "w1");
        // Every object has the same size: one dataspace and one property list serve all.
        const hsize_t size = objs.data.empty() ? 0 : objs.data[0]->size();
        raw::Id space = raw::simpleSpace(size);
        raw::Id dcpl = raw::bestLayout(size);
        for (std::size_t i = 0; i < objs.names.size(); ++i) {
            raw::Id ds =
                raw::createDataset(group, objs.names[i].c_str(), H5T_NATIVE_UCHAR, space, dcpl);
            raw::check(
                H5Dwrite(ds, H5T_NATIVE_UCHAR, H5S_ALL, H5S_ALL, H5P_DEFAULT, objs.data[i]->data()),
                "H5Dwrite");
        }
        group.close();
        file.close();
        s.seconds[kCreate] = t.seconds();
    }
    objs.clearOut();
    {
        Stopwatch t;
        raw::Id file = raw::openFile(path, false);
        raw::Id group = raw::openGroup(file, "w1");
        for (std::size_t i = 0; i < objs.names.size(); ++i) {
            raw::Id ds = raw::openDataset(group, objs.names[i].c_str());
            objs.out[i]->resize(raw::elementCount(ds));
            raw::check(
                H5Dread(ds, H5T_NATIVE_UCHAR, H5S_ALL, H5S_ALL, H5P_DEFAULT, objs.out[i]->data()),
                "H5Dread");
        }
        group.close();
        file.close();
        s.seconds[kRead] = t.seconds();
    }
    objs.checkOut(kRawHdf5);
    record(s, path, objs.names.size());
}

void runSqlite(SmallObjects& objs, const std::string& path, Sample& s) {
    {
        Stopwatch t;
        sql::Database db(path, true);
        db.exec("BEGIN");
        {
            sql::Statement insert = db.prepare(sql::kInsert);
            for (std::size_t i = 0; i < objs.names.size(); ++i)
                insert.insert(objs.names[i], objs.data[i]->data(), objs.data[i]->size());
        }
        db.exec("COMMIT");
        s.seconds[kCreate] = t.seconds();
    }
    objs.clearOut();
    {
        Stopwatch t;
        sql::Database db(path, false);
        sql::Statement select = db.prepare(sql::kSelect);
        for (std::size_t i = 0; i < objs.names.size(); ++i)
            expect(select.selectInto(objs.names[i], *objs.out[i]),
                   "SQLite: no row " + objs.names[i]);
        s.seconds[kRead] = t.seconds();
    }
    objs.checkOut(kSqlite);
    record(s, path, objs.names.size());
}

void runPlain(SmallObjects& objs, const std::string& path, Sample& s) {
    {
        Stopwatch t;
        plain::PackedWriter w(path);
        for (std::size_t i = 0; i < objs.names.size(); ++i)
            w.add(objs.names[i], objs.data[i]->data(), objs.data[i]->size());
        w.finish();
        s.seconds[kCreate] = t.seconds();
    }
    objs.clearOut();
    {
        Stopwatch t;
        plain::PackedReader r(path);
        for (std::size_t i = 0; i < objs.names.size(); ++i)
            expect(r.read(objs.names[i], *objs.out[i]), "plain file: no " + objs.names[i]);
        s.seconds[kRead] = t.seconds();
    }
    objs.checkOut(kPlainFile);
    record(s, path, objs.names.size());
}

}  // namespace

Workload makeW1SmallBlobs(const Options& o, const Scratch& scratch) {
    auto objs = std::make_shared<SmallObjects>(o.w1Count, o.w1Size);
    const double n = o.w1Count;
    Workload w;
    w.id = "W1";
    w.title = std::to_string(o.w1Count) + " blobs of " + std::to_string(o.w1Size) +
              " bytes in one group, one stack, then read back by name";
    w.phases = {{kCreate, "objects/s", n, kRawHdf5, 0.8}, {kRead, "objects/s", n, kRawHdf5, 0.8}};
    w.sizes = {{kBytesPerObject, "bytes", kRawHdf5, 1.10}};
    w.contenders.push_back(
        {kLibrary, [objs, &scratch](Sample& s) { runLibrary(*objs, scratch.fresh("w1.qmz"), s); }});
    w.contenders.push_back(
        {kRawHdf5, [objs, &scratch](Sample& s) { runRaw(*objs, scratch.fresh("w1.h5"), s); }});
    w.contenders.push_back({kSqlite, [objs, &scratch](Sample& s) {
                                runSqlite(*objs, scratch.fresh("w1.sqlite"), s);
                            }});
    w.contenders.push_back(
        {kPlainFile, [objs, &scratch](Sample& s) { runPlain(*objs, scratch.fresh("w1.bin"), s); }});
    return w;
}

}  // namespace Quellmar::bench
