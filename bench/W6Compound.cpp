// W6: a compound vector of records with scalar and array members, and a two-dimensional array,
// written and read.
#include "LibraryHost.h"
#include "Patterns.h"
#include "Placement.h"
#include "PlainFile.h"
#include "RawHdf5.h"
#include "Sqlite.h"
#include "Workloads.h"

#include <QMXDataAccess/QMXArrayDAO.h>
#include <QMXDataAccess/QMXClassComposer.h>
#include <QMXDataAccess/QMXVectorDAO.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace Quellmar::bench {

namespace {

const char* const kRecordsWrite = "records write";
const char* const kRecordsRead = "records read";
const char* const kArrayWrite = "array write";
const char* const kArrayRead = "array read";

// A host record as it lies in memory, padding included.
struct Record {
    std::int32_t id;
    float position[3];
    double time;
    std::uint16_t flags;
    std::uint8_t kind;
};

bool sameRecord(const Record& a, const Record& b) {
    return a.id == b.id && std::memcmp(a.position, b.position, sizeof a.position) == 0 &&
           a.time == b.time && a.flags == b.flags && a.kind == b.kind;
}

// Page-aligned data for every writer, and result buffers of each placement for every reader,
// touched once up front.
struct CompoundData {
    PlacedArray<Record> records;
    PlacedArray<Record> recordsOut[2];
    PlacedArray<double> matrix;
    PlacedArray<double> matrixOut[2];
    int rows, cols;

    CompoundData(std::size_t count, int rows, int cols)
        : records(count, Placement::Aligned),
          recordsOut{{count, Placement::Aligned}, {count, Placement::PastPage}},
          matrix(std::size_t(rows) * std::size_t(cols), Placement::Aligned),
          matrixOut{{matrix.size(), Placement::Aligned}, {matrix.size(), Placement::PastPage}},
          rows(rows),
          cols(cols) {
        for (std::size_t i = 0; i < count; ++i) {
            Record& r = records[i];
            r.id = static_cast<std::int32_t>(i);
            for (int k = 0; k < 3; ++k)
                r.position[k] = static_cast<float>(smoothValue(i * 3 + k));
            r.time = 1e-3 * double(i);
            r.flags = static_cast<std::uint16_t>(i * 7);
            r.kind = static_cast<std::uint8_t>(i % 5);
        }
        for (std::size_t i = 0; i < matrix.size(); ++i)
            matrix[i] = smoothValue(i) + double(i % 3);
    }
    static std::size_t index(Placement p) { return p == Placement::Aligned ? 0 : 1; }
    Record* recordsFor(Placement p) { return recordsOut[index(p)].data(); }
    double* matrixFor(Placement p) { return matrixOut[index(p)].data(); }
    std::size_t recordBytes() const { return records.bytes(); }
    std::size_t matrixBytes() const { return matrix.bytes(); }
    double recordMiB() const { return double(recordBytes()) / (1 << 20); }
    double matrixMiB() const { return double(matrixBytes()) / (1 << 20); }
    void clearOut() {
        for (auto& o : recordsOut)
            std::memset(static_cast<void*>(o.data()), 0, o.bytes());
        for (auto& o : matrixOut)
            std::fill(o.begin(), o.end(), 0.0);
    }
    void checkOut(const std::string& who) const {
        for (Placement p : kPlacements) {
            const auto& r = recordsOut[index(p)];
            for (std::size_t i = 0; i < records.size(); ++i)
                if (!sameRecord(records[i], r[i]))
                    throw BenchFailure(who + ": record " + std::to_string(i) + " read " +
                                       labelOf(p));
            expect(std::memcmp(matrix.data(), matrixOut[index(p)].data(), matrixBytes()) == 0,
                   who + ": array read " + std::string(labelOf(p)) + " differs");
        }
    }
};

QMXClassComposer recordType() {
    QMXClassComposer type(sizeof(Record));
    type& triad{"id", offsetof(Record, id), ClassMemberTypes::MT_INT32} &
        quartet{"position", offsetof(Record, position), ClassMemberTypes::MT_FLOAT, 3} &
        triad{"time", offsetof(Record, time), ClassMemberTypes::MT_DOUBLE} &
        triad{"flags", offsetof(Record, flags), ClassMemberTypes::MT_UINT16} &
        triad{"kind", offsetof(Record, kind), ClassMemberTypes::MT_UINT8};
    return type;
}

// A failed compound creation throws the stack itself; a benchmark wants the text.
template <class Body>
void asFailure(Body body) {
    try {
        body();
    } catch (const std::shared_ptr<TransactionStack>& stack) {
        throw BenchFailure("library: " + (stack ? stack->getErrorMessage() : std::string("?")));
    }
}

void runLibrary(CompoundData& d, const std::string& path, Sample& s) {
    asFailure([&] {
        QMXClassComposer type = recordType();
        {
            Stopwatch t;
            HostSession host(path, false);
            QMXVectorDAO dao;
            host.bind(dao);
            dao.create("w6", "records", type, static_cast<int>(d.records.size()), d.records.data());
            host.commit();
            s.seconds[kRecordsWrite] = t.seconds();
        }
        {
            Stopwatch t;
            HostSession host(path, false);
            QMXArrayDAO dao;
            host.bind(dao);
            dao.create("w6", "matrix", VT_DOUBLE, d.rows, d.cols, d.matrix.data());
            host.commit();
            s.seconds[kArrayWrite] = t.seconds();
        }
        d.clearOut();
        for (Placement p : kPlacements) {
            {
                Stopwatch t;
                HostSession host(path, true);
                QMXVectorDAO dao;
                host.bind(dao);
                dao.read("w6", "records", type, d.recordsFor(p));
                host.commit();
                s.seconds[placedPhase(kRecordsRead, p)] = t.seconds();
            }
            {
                Stopwatch t;
                HostSession host(path, true);
                QMXArrayDAO dao;
                host.bind(dao);
                dao.read("w6", "matrix", VT_DOUBLE, d.matrixFor(p));
                host.commit();
                s.seconds[placedPhase(kArrayRead, p)] = t.seconds();
            }
        }
        HostSession host(path, true);
        QMXArrayDAO dao;
        host.bind(dao);
        const VectorInfo info = dao.getInfo("w6", "matrix");
        expect(info.rows == d.rows && info.cols == d.cols && info.type == VT_DOUBLE,
               "library: wrong array shape");
        host.commit();
    });
    d.checkOut(kLibrary);
}

raw::Id rawRecordType() {
    raw::Id type(H5Tcreate(H5T_COMPOUND, sizeof(Record)), H5Tclose, "H5Tcreate");
    const hsize_t three = 3;
    raw::Id position(H5Tarray_create2(H5T_NATIVE_FLOAT, 1, &three), H5Tclose, "H5Tarray_create2");
    raw::check(H5Tinsert(type, "id", offsetof(Record, id), H5T_NATIVE_INT32), "H5Tinsert");
    raw::check(H5Tinsert(type, "position", offsetof(Record, position), position), "H5Tinsert");
    raw::check(H5Tinsert(type, "time", offsetof(Record, time), H5T_NATIVE_DOUBLE), "H5Tinsert");
    raw::check(H5Tinsert(type, "flags", offsetof(Record, flags), H5T_NATIVE_UINT16), "H5Tinsert");
    raw::check(H5Tinsert(type, "kind", offsetof(Record, kind), H5T_NATIVE_UINT8), "H5Tinsert");
    return type;
}

void rawWrite(const std::string& path, bool create, const char* name, hid_t type, hid_t space,
              const void* data, std::size_t bytes) {
    raw::Id file = create ? raw::createFile(path) : raw::openFile(path, true);
    raw::Id group = create ? raw::createGroup(file, "w6") : raw::openGroup(file, "w6");
    // The memory type is the file type: no conversion on the way in or out.
    raw::Id dcpl = raw::bestLayout(bytes);
    raw::Id ds = raw::createDataset(group, name, type, space, dcpl);
    raw::check(H5Dwrite(ds, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, data), "H5Dwrite");
    ds.close();
    group.close();
    file.close();
}

void rawRead(const std::string& path, const char* name, hid_t type, void* out) {
    raw::Id file = raw::openFile(path, false);
    raw::Id ds = raw::openDataset(file, name);
    raw::check(H5Dread(ds, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, out), "H5Dread");
    ds.close();
    file.close();
}

void runRaw(CompoundData& d, const std::string& path, Sample& s) {
    raw::Id type = rawRecordType();
    {
        Stopwatch t;
        raw::Id space = raw::simpleSpace(d.records.size());
        rawWrite(path, true, "records", type, space, d.records.data(), d.recordBytes());
        s.seconds[kRecordsWrite] = t.seconds();
    }
    {
        Stopwatch t;
        raw::Id space = raw::simpleSpace2(hsize_t(d.rows), hsize_t(d.cols));
        rawWrite(path, false, "matrix", H5T_NATIVE_DOUBLE, space, d.matrix.data(), d.matrixBytes());
        s.seconds[kArrayWrite] = t.seconds();
    }
    d.clearOut();
    for (Placement p : kPlacements) {
        {
            Stopwatch t;
            rawRead(path, "w6/records", type, d.recordsFor(p));
            s.seconds[placedPhase(kRecordsRead, p)] = t.seconds();
        }
        {
            Stopwatch t;
            rawRead(path, "w6/matrix", H5T_NATIVE_DOUBLE, d.matrixFor(p));
            s.seconds[placedPhase(kArrayRead, p)] = t.seconds();
        }
    }
    d.checkOut(kRawHdf5);
}

void runSqlite(CompoundData& d, const std::string& path, Sample& s) {
    { sql::Database created(path, true); }
    auto write = [&](const char* phase, const char* id, const void* data, std::size_t bytes) {
        Stopwatch t;
        sql::Database db(path, false);
        db.exec("BEGIN");
        db.prepare(sql::kInsert).insert(id, data, bytes);
        db.exec("COMMIT");
        s.seconds[phase] = t.seconds();
    };
    auto read = [&](const std::string& phase, const char* id, void* out, std::size_t bytes) {
        Stopwatch t;
        sql::Database db(path, false);
        expect(db.prepare(sql::kSelect).selectInto(id, out, bytes), "SQLite: no row");
        s.seconds[phase] = t.seconds();
    };
    const std::size_t recordBytes = d.recordBytes();
    const std::size_t matrixBytes = d.matrixBytes();
    write(kRecordsWrite, "records", d.records.data(), recordBytes);
    write(kArrayWrite, "matrix", d.matrix.data(), matrixBytes);
    d.clearOut();
    for (Placement p : kPlacements) {
        read(placedPhase(kRecordsRead, p), "records", d.recordsFor(p), recordBytes);
        read(placedPhase(kArrayRead, p), "matrix", d.matrixFor(p), matrixBytes);
    }
    d.checkOut(kSqlite);
}

void runPlain(CompoundData& d, const std::string& dir, Sample& s) {
    auto write = [&](const char* phase, const std::string& path, const void* data,
                     std::size_t bytes) {
        Stopwatch t;
        plain::File f(path, plain::File::Create);
        f.write(data, bytes);
        f.close();
        s.seconds[phase] = t.seconds();
    };
    auto read = [&](const std::string& phase, const std::string& path, void* out,
                    std::size_t bytes) {
        Stopwatch t;
        plain::File f(path, plain::File::Read);
        expect(f.size() == bytes, "plain file: wrong size");
        f.read(out, bytes);
        f.close();
        s.seconds[phase] = t.seconds();
    };
    const std::size_t recordBytes = d.recordBytes();
    const std::size_t matrixBytes = d.matrixBytes();
    write(kRecordsWrite, dir + "-records", d.records.data(), recordBytes);
    write(kArrayWrite, dir + "-matrix", d.matrix.data(), matrixBytes);
    d.clearOut();
    for (Placement p : kPlacements) {
        read(placedPhase(kRecordsRead, p), dir + "-records", d.recordsFor(p), recordBytes);
        read(placedPhase(kArrayRead, p), dir + "-matrix", d.matrixFor(p), matrixBytes);
    }
    d.checkOut(kPlainFile);
}

}  // namespace

Workload makeW6Compound(const Options& o, const Scratch& scratch) {
    auto d =
        std::make_shared<CompoundData>(static_cast<std::size_t>(o.w6Records), o.w6Rows, o.w6Cols);
    Workload w;
    w.id = "W6";
    w.title = "a compound vector of " + std::to_string(o.w6Records) + " records of " +
              std::to_string(sizeof(Record)) + " bytes (scalar and array members) and a " +
              std::to_string(o.w6Rows) + " x " + std::to_string(o.w6Cols) +
              " array of doubles, written and read";
    // Raw HDF5 itself writes the array at about 0.85 of the plain file.
    w.phases = {{kRecordsWrite, "MiB/s", d->recordMiB(), kPlainFile, 0.9}};
    for (Placement p : kPlacements)
        w.phases.push_back(
            {placedPhase(kRecordsRead, p), "MiB/s", d->recordMiB(), kPlainFile, 0.9});
    w.phases.push_back({kArrayWrite, "MiB/s", d->matrixMiB(), kPlainFile, 0.8});
    for (Placement p : kPlacements)
        w.phases.push_back({placedPhase(kArrayRead, p), "MiB/s", d->matrixMiB(), kPlainFile, 0.9});
    w.contenders.push_back(
        {kLibrary, [d, &scratch](Sample& s) { runLibrary(*d, scratch.fresh("w6.qmz"), s); }});
    w.contenders.push_back(
        {kRawHdf5, [d, &scratch](Sample& s) { runRaw(*d, scratch.fresh("w6.h5"), s); }});
    w.contenders.push_back(
        {kSqlite, [d, &scratch](Sample& s) { runSqlite(*d, scratch.fresh("w6.sqlite"), s); }});
    w.contenders.push_back({kPlainFile, [d, &scratch](Sample& s) {
                                scratch.fresh("w6-records");
                                scratch.fresh("w6-matrix");
                                runPlain(*d, scratch.path() + "/bench-w6", s);
                            }});
    return w;
}

}  // namespace Quellmar::bench
