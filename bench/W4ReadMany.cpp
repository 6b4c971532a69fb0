// W4: many small byte vectors of one group read at once by name.
#include "LibraryHost.h"
#include "Patterns.h"
#include "PlainFile.h"
#include "RawHdf5.h"
#include "Sqlite.h"
#include "Workloads.h"

#include <QMXDataAccess/QMXVectorDAO.h>

#include <memory>

namespace Quellmar::bench {

namespace {

const char* const kReadMany = "read many";

struct ByteVectors {
    std::vector<std::string> names;
    std::vector<Bytes> data;
    ByteVectors(int count, int size) {
        for (int i = 0; i < count; ++i) {
            names.push_back(objectName(static_cast<std::size_t>(i)));
            data.push_back(patternBytes(static_cast<std::size_t>(size), 1000u + unsigned(i)));
        }
    }
    void check(const std::vector<Bytes>& out, const std::string& who) const {
        expect(out.size() == data.size(), who + ": wrong number of results");
        for (std::size_t i = 0; i < data.size(); ++i)
            expect(out[i] == data[i], who + ": " + names[i] + " differs");
    }
};

void runLibrary(const ByteVectors& v, const std::string& path, Sample& s) {
    {
        HostSession host(path, false);
        QMXVectorDAO dao;
        host.bind(dao);
        for (std::size_t i = 0; i < v.names.size(); ++i)
            dao.create("w4", v.names[i], VT_UINT8, static_cast<int>(v.data[i].size()),
                       v.data[i].data());
        host.commit();
    }
    std::vector<Bytes> out;
    Stopwatch t;
    HostSession host(path, true);
    QMXVectorDAO dao;
    host.bind(dao);
    expect(dao.readMany("w4", v.names, out), "library: readMany failed");
    host.commit();
    s.seconds[kReadMany] = t.seconds();
    v.check(out, kLibrary);
}

void runRaw(const ByteVectors& v, const std::string& path, Sample& s) {
    {
        raw::Id file = raw::createFile(path);
        raw::Id group = raw::createGroup(file, "w4");
        for (std::size_t i = 0; i < v.names.size(); ++i) {
            raw::Id space = raw::simpleSpace(v.data[i].size());
            raw::Id dcpl = raw::bestLayout(v.data[i].size());
            raw::Id ds =
                raw::createDataset(group, v.names[i].c_str(), H5T_NATIVE_UCHAR, space, dcpl);
            raw::check(
                H5Dwrite(ds, H5T_NATIVE_UCHAR, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data[i].data()),
                "H5Dwrite");
        }
        group.close();
        file.close();
    }
    std::vector<Bytes> out;
    Stopwatch t;
    raw::Id file = raw::openFile(path, false);
    raw::Id group = raw::openGroup(file, "w4");
    out.resize(v.names.size());
    for (std::size_t i = 0; i < v.names.size(); ++i) {
        raw::Id ds = raw::openDataset(group, v.names[i].c_str());
        out[i].resize(raw::elementCount(ds));
        raw::check(H5Dread(ds, H5T_NATIVE_UCHAR, H5S_ALL, H5S_ALL, H5P_DEFAULT, out[i].data()),
                   "H5Dread");
    }
    group.close();
    file.close();
    s.seconds[kReadMany] = t.seconds();
    v.check(out, kRawHdf5);
}

void runSqlite(const ByteVectors& v, const std::string& path, Sample& s) {
    {
        sql::Database db(path, true);
        db.exec("BEGIN");
        sql::Statement insert = db.prepare(sql::kInsert);
        for (std::size_t i = 0; i < v.names.size(); ++i)
            insert.insert(v.names[i], v.data[i].data(), v.data[i].size());
        db.exec("COMMIT");
    }
    std::vector<Bytes> out;
    Stopwatch t;
    {
        sql::Database db(path, false);
        sql::Statement select = db.prepare(sql::kSelect);
        out.resize(v.names.size());
        for (std::size_t i = 0; i < v.names.size(); ++i)
            expect(select.selectInto(v.names[i], out[i]), "SQLite: no row " + v.names[i]);
    }
    s.seconds[kReadMany] = t.seconds();
    v.check(out, kSqlite);
}

void runPlain(const ByteVectors& v, const std::string& path, Sample& s) {
    {
        plain::PackedWriter w(path);
        for (std::size_t i = 0; i < v.names.size(); ++i)
            w.add(v.names[i], v.data[i].data(), v.data[i].size());
        w.finish();
    }
    std::vector<Bytes> out;
    Stopwatch t;
    {
        plain::PackedReader r(path);
        out.resize(v.names.size());
        for (std::size_t i = 0; i < v.names.size(); ++i)
            expect(r.read(v.names[i], out[i]), "plain file: no " + v.names[i]);
    }
    s.seconds[kReadMany] = t.seconds();
    v.check(out, kPlainFile);
}

}  // namespace

Workload makeW4ReadMany(const Options& o, const Scratch& scratch) {
    auto v = std::make_shared<ByteVectors>(o.w4Count, o.w4Size);
    Workload w;
    w.id = "W4";
    w.title = "readMany of " + std::to_string(o.w4Count) + " byte vectors of " +
              std::to_string(o.w4Size) + " elements";
    w.phases = {{kReadMany, "objects/s", double(o.w4Count), kRawHdf5, 0.8}};
    w.contenders.push_back(
        {kLibrary, [v, &scratch](Sample& s) { runLibrary(*v, scratch.fresh("w4.qmz"), s); }});
    w.contenders.push_back(
        {kRawHdf5, [v, &scratch](Sample& s) { runRaw(*v, scratch.fresh("w4.h5"), s); }});
    w.contenders.push_back(
        {kSqlite, [v, &scratch](Sample& s) { runSqlite(*v, scratch.fresh("w4.sqlite"), s); }});
    w.contenders.push_back(
        {kPlainFile, [v, &scratch](Sample& s) { runPlain(*v, scratch.fresh("w4.bin"), s); }});
    return w;
}

}  // namespace Quellmar::bench
