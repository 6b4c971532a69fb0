// W5: many small transactions, each opening the container, creating one blob, committing and
// closing again.
#include "LibraryHost.h"
#include "Patterns.h"
#include "PlainFile.h"
#include "RawHdf5.h"
#include "Sqlite.h"
#include "Workloads.h"

#include <QMXDataAccess/QMXBlobDAO.h>
#include <QMXDataAccess/SerializationTransferObject.h>

#include <algorithm>
#include <map>
#include <memory>

namespace Quellmar::bench {

namespace {

const char* const kTransactions = "create, one transaction each";
const char* const kSynced = "create, synced, one each";

const char* const kBytesPerObject = "bytes per object, reopened";

struct SmallObjects {
    std::vector<std::string> names;
    std::vector<std::shared_ptr<Bytes>> data;
    std::size_t synced;  // how many of them go in synced transactions
    SmallObjects(int count, int size, int syncedCount)
        : synced(std::size_t(std::min(count, syncedCount))) {
        for (int i = 0; i < count; ++i) {
            names.push_back(objectName(static_cast<std::size_t>(i)));
            data.push_back(std::make_shared<Bytes>(
                patternBytes(static_cast<std::size_t>(size), 5000u + unsigned(i))));
        }
    }
    void check(std::size_t i, const Bytes& got, const std::string& who) const {
        expect(got == *data[i], who + ": " + names[i] + " differs");
    }
};

void record(Sample& s, const std::string& path, std::size_t count) {
    s.sizes[kBytesPerObject] = double(fileSize(path)) / double(count);
}

// Seconds for the first `count` objects, one transaction each.
double libraryTransactions(const SmallObjects& objs, std::size_t count, const std::string& path,
                           bool synced) {
    {
        HostSession host(path, false, synced);
        QMXBlobDAO dao;
        host.bind(dao);
        dao.createGroup("w5", 1);
        host.commit();
    }
    Stopwatch t;
    for (std::size_t i = 0; i < count; ++i) {
        HostSession host(path, false, synced);
        QMXBlobDAO dao;
        host.bind(dao);
        dao.create("w5", objs.names[i], SerializationTransferObject(objs.data[i]));
        host.commit();
    }
    return t.seconds();
}

void runLibrary(const SmallObjects& objs, const std::string& path, const std::string& syncedPath,
                Sample& s) {
    if (objs.synced > 0)
        s.seconds[kSynced] = libraryTransactions(objs, objs.synced, syncedPath, true);
    s.seconds[kTransactions] = libraryTransactions(objs, objs.names.size(), path, false);
    HostSession host(path, true);
    QMXBlobDAO dao;
    host.bind(dao);
    SerializationTransferObject obj;
    for (std::size_t i = 0; i < objs.names.size(); ++i) {
        dao.read("w5", objs.names[i], obj);
        objs.check(i, *obj.getBuffer(), kLibrary);
    }
    host.commit();
    record(s, path, objs.names.size());
}

// Seconds for the first `count` objects, one file session each; `synced` syncs the file
// after closing it, as a host of raw HDF5 must for a durable commit.
double rawTransactions(const SmallObjects& objs, std::size_t count, const std::string& path,
                       bool synced) {
    {
        raw::Id file = raw::createFile(path);
        raw::createGroup(file, "w5").close();
        file.close();
    }
    Stopwatch t;
    for (std::size_t i = 0; i < count; ++i) {
        raw::Id file = raw::openFile(path, true);
        raw::Id group = raw::openGroup(file, "w5");
        raw::Id space = raw::simpleSpace(objs.data[i]->size());
        raw::Id dcpl = raw::bestLayout(objs.data[i]->size());
        raw::Id ds =
            raw::createDataset(group, objs.names[i].c_str(), H5T_NATIVE_UCHAR, space, dcpl);
        raw::check(
            H5Dwrite(ds, H5T_NATIVE_UCHAR, H5S_ALL, H5S_ALL, H5P_DEFAULT, objs.data[i]->data()),
            "H5Dwrite");
        ds.close();
        group.close();
        file.close();
        if (synced)
            plain::syncFile(path);
    }
    return t.seconds();
}

void runRaw(const SmallObjects& objs, const std::string& path, const std::string& syncedPath,
            Sample& s) {
    if (objs.synced > 0)
        s.seconds[kSynced] = rawTransactions(objs, objs.synced, syncedPath, true);
    s.seconds[kTransactions] = rawTransactions(objs, objs.names.size(), path, false);
    raw::Id file = raw::openFile(path, false);
    Bytes got;
    for (std::size_t i = 0; i < objs.names.size(); ++i) {
        raw::Id ds = raw::openDataset(file, ("w5/" + objs.names[i]).c_str());
        got.resize(raw::elementCount(ds));
        raw::check(H5Dread(ds, H5T_NATIVE_UCHAR, H5S_ALL, H5S_ALL, H5P_DEFAULT, got.data()),
                   "H5Dread");
        objs.check(i, got, kRawHdf5);
    }
    file.close();
    record(s, path, objs.names.size());
}

double sqliteTransactions(const SmallObjects& objs, std::size_t count, const std::string& path,
                          bool synced) {
    { sql::Database created(path, true); }
    Stopwatch t;
    // A user keeps the connection; every insert is its own transaction.
    sql::Database db(path, false, synced);
    sql::Statement insert = db.prepare(sql::kInsert);
    for (std::size_t i = 0; i < count; ++i)
        insert.insert(objs.names[i], objs.data[i]->data(), objs.data[i]->size());
    return t.seconds();
}

void runSqlite(const SmallObjects& objs, const std::string& path, const std::string& syncedPath,
               Sample& s) {
    if (objs.synced > 0)
        s.seconds[kSynced] = sqliteTransactions(objs, objs.synced, syncedPath, true);
    s.seconds[kTransactions] = sqliteTransactions(objs, objs.names.size(), path, false);
    sql::Database db(path, false);
    sql::Statement select = db.prepare(sql::kSelect);
    Bytes got;
    for (std::size_t i = 0; i < objs.names.size(); ++i) {
        expect(select.selectInto(objs.names[i], got), "SQLite: no row " + objs.names[i]);
        objs.check(i, got, kSqlite);
    }
    record(s, path, objs.names.size());
}

double plainTransactions(const SmallObjects& objs, std::size_t count, const std::string& path,
                         bool synced) {
    plain::File(path, plain::File::Create).close();
    Stopwatch t;
    for (std::size_t i = 0; i < count; ++i)
        plain::appendRecord(path, objs.names[i], objs.data[i]->data(), objs.data[i]->size(),
                            synced);
    return t.seconds();
}

void runPlain(const SmallObjects& objs, const std::string& path, const std::string& syncedPath,
              Sample& s) {
    if (objs.synced > 0)
        s.seconds[kSynced] = plainTransactions(objs, objs.synced, syncedPath, true);
    s.seconds[kTransactions] = plainTransactions(objs, objs.names.size(), path, false);
    std::size_t seen = 0;
    plain::forEachRecord(path, [&](const std::string& name, const Bytes& got) {
        expect(seen < objs.names.size() && name == objs.names[seen], "plain file: wrong record");
        objs.check(seen++, got, kPlainFile);
    });
    expect(seen == objs.names.size(), "plain file: records missing");
    record(s, path, objs.names.size());
}

}  // namespace

Workload makeW5Transactions(const Options& o, const Scratch& scratch) {
    auto objs = std::make_shared<SmallObjects>(o.w5Count, o.w5Size, o.w5Synced);
    Workload w;
    w.id = "W5";
    w.title = std::to_string(o.w5Count) + " transactions, each opening the file, creating one " +
              std::to_string(o.w5Size) + "-byte blob, committing and closing; then " +
              std::to_string(std::min(o.w5Count, o.w5Synced)) +
              " with every commit synced to the disk";
    w.phases = {{kTransactions, "transactions/s", double(o.w5Count), kRawHdf5, 0.7}};
    if (o.w5Synced > 0)
        w.phases.push_back(
            {kSynced, "transactions/s", double(std::min(o.w5Count, o.w5Synced)), kSqlite, 1.2});
    w.sizes = {{kBytesPerObject, "bytes", kRawHdf5, 1.10}};
    w.contenders.push_back({kLibrary, [objs, &scratch](Sample& s) {
                                runLibrary(*objs, scratch.fresh("w5.qmz"), scratch.fresh("w5s.qmz"),
                                           s);
                            }});
    w.contenders.push_back({kRawHdf5, [objs, &scratch](Sample& s) {
                                runRaw(*objs, scratch.fresh("w5.h5"), scratch.fresh("w5s.h5"), s);
                            }});
    w.contenders.push_back({kSqlite, [objs, &scratch](Sample& s) {
                                runSqlite(*objs, scratch.fresh("w5.sqlite"),
                                          scratch.fresh("w5s.sqlite"), s);
                            }});
    w.contenders.push_back({kPlainFile, [objs, &scratch](Sample& s) {
                                runPlain(*objs, scratch.fresh("w5.bin"), scratch.fresh("w5s.bin"),
                                         s);
                            }});
    return w;
}

}  // namespace Quellmar::bench
