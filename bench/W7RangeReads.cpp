// W7: reading a part of a large item: a range of elements from the middle of a long vector of
// doubles and a range of rows from the middle of a tall array, one unit of work (open, read,
// close) per read, against reading the whole item the same way, and against raw HDF5 opening
// the file and reading a hyperslab. Then the same reads all in one unit of work, as a host
// holding the file open reads many ranges, against raw HDF5 opening the file once and, like
// a read by name, the dataset for each read.
#include "LibraryHost.h"
#include "Patterns.h"
#include "RawHdf5.h"
#include "Workloads.h"

#include <QMXDataAccess/QMXArrayDAO.h>
#include <QMXDataAccess/QMXVectorDAO.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

namespace Quellmar::bench {

namespace {

struct Names {
    std::string vectorRange, vectorWhole, arrayRange, arrayWhole, vectorInUnit, arrayInUnit;
    Names(int range, int cols)
        : vectorRange("vector, range of " + std::to_string(range) + " elements"),
          vectorWhole("vector, whole"),
          arrayRange("array, range of " + std::to_string(range) + " rows of " +
                     std::to_string(cols)),
          arrayWhole("array, whole"),
          vectorInUnit(vectorRange + ", all in one unit"),
          arrayInUnit(arrayRange + ", all in one unit") {}
};

// The data both contenders store once and read again and again, and where each range starts.
struct Items {
    std::vector<double> vector;
    std::vector<double> array;
    std::size_t rows, cols, range;
    std::vector<std::size_t> vectorFirsts, rowFirsts;
    int wholeReads;
    std::vector<double> out;
    Names names;
    std::string libraryFile, rawFile;  // made by the first repetition of each contender

    Items(const Options& o)
        : vector(smoothDoubles(static_cast<std::size_t>(o.w7Count))),
          array(smoothDoubles(static_cast<std::size_t>(o.w7Rows) *
                              static_cast<std::size_t>(o.w7Cols))),
          rows(static_cast<std::size_t>(o.w7Rows)),
          cols(static_cast<std::size_t>(o.w7Cols)),
          range(static_cast<std::size_t>(o.w7Range)),
          wholeReads(o.smoke ? 1 : 3),
          out(std::max(vector.size(), array.size())),
          names(o.w7Range, o.w7Cols) {
        // Around the middle, each read elsewhere, so that no read finds the previous one's
        // slice in a cache of the reader's own.
        for (int k = 0; k < o.w7Reads; ++k) {
            const long long shift = (k * 7919LL) % 64 - 32;
            vectorFirsts.push_back(around(vector.size(), shift));
            rowFirsts.push_back(around(rows, shift));
        }
    }
    std::size_t around(std::size_t total, long long shift) const {
        const long long wanted = static_cast<long long>(total / 2) + shift * static_cast<long long>(range);
        const long long last = static_cast<long long>(total) - static_cast<long long>(range);
        return static_cast<std::size_t>(std::clamp(wanted, 0LL, std::max(last, 0LL)));
    }
    void checkRange(const std::string& who, const std::vector<double>& from, std::size_t first,
                    std::size_t count) const {
        expect(std::memcmp(out.data(), from.data() + first, count * sizeof(double)) == 0,
               who + ": the range from " + std::to_string(first) + " differs");
    }
};

void makeLibraryFile(Items& d, const Scratch& scratch) {
    d.libraryFile = scratch.fresh("w7.qmz");
    HostSession host(d.libraryFile, false);
    QMXVectorDAO vectors;
    QMXArrayDAO arrays;
    host.bind(vectors);
    host.bind(arrays);
    vectors.create("w7", "vector", VT_DOUBLE, static_cast<int>(d.vector.size()),
                   d.vector.data());
    arrays.create("w7", "array", VT_DOUBLE, static_cast<int>(d.rows), static_cast<int>(d.cols),
                  d.array.data());
    host.commit();
}

// Times the reads of every range in `firsts`: in a unit of work of its own each (a fresh
// session and DAO per read) or all in one. `read(dao, first)` reads one, `check(first)` checks it.
template <class Dao, class Read, class Check>
double libraryRanges(const std::string& file, const std::vector<std::size_t>& firsts,
                     bool unitEach, Read read, Check check) {
    Stopwatch t;
    std::optional<HostSession> host;
    std::optional<Dao> dao;
    for (const std::size_t first : firsts) {
        if (unitEach || !host) {
            dao.reset();
            host.emplace(file, true);
            dao.emplace();
            host->bind(*dao);
        }
        read(*dao, first);
        if (unitEach)
            host->commit();
        check(first);
    }
    if (!unitEach && host)
        host->commit();
    return t.seconds();
}

void runLibrary(Items& d, const Scratch& scratch, Sample& s) {
    if (d.libraryFile.empty())
        makeLibraryFile(d, scratch);
    const std::string who = kLibrary;
    const auto readVector = [&](QMXVectorDAO& dao, std::size_t first) {
        dao.readRange("w7", "vector", VT_DOUBLE, static_cast<long long>(first),
                      static_cast<int>(d.range), d.out.data());
    };
    const auto checkVector = [&](std::size_t first) {
        d.checkRange(who, d.vector, first, d.range);
    };
    const auto readArray = [&](QMXArrayDAO& dao, std::size_t first) {
        dao.readRows("w7", "array", VT_DOUBLE, static_cast<long long>(first),
                     static_cast<int>(d.range), d.out.data());
    };
    const auto checkArray = [&](std::size_t first) {
        d.checkRange(who, d.array, first * d.cols, d.range * d.cols);
    };
    for (const bool unitEach : {true, false}) {
        s.seconds[unitEach ? d.names.vectorRange : d.names.vectorInUnit] =
            libraryRanges<QMXVectorDAO>(d.libraryFile, d.vectorFirsts, unitEach, readVector,
                                        checkVector);
        s.seconds[unitEach ? d.names.arrayRange : d.names.arrayInUnit] =
            libraryRanges<QMXArrayDAO>(d.libraryFile, d.rowFirsts, unitEach, readArray,
                                       checkArray);
    }
    {
        Stopwatch t;
        for (int i = 0; i < d.wholeReads; ++i) {
            HostSession host(d.libraryFile, true);
            QMXVectorDAO dao;
            host.bind(dao);
            dao.read("w7", "vector", VT_DOUBLE, d.out.data());
            host.commit();
        }
        s.seconds[d.names.vectorWhole] = t.seconds();
        d.checkRange(who + ", whole vector", d.vector, 0, d.vector.size());
    }
    {
        Stopwatch t;
        for (int i = 0; i < d.wholeReads; ++i) {
            HostSession host(d.libraryFile, true);
            QMXArrayDAO dao;
            host.bind(dao);
            dao.read("w7", "array", VT_DOUBLE, d.out.data());
            host.commit();
        }
        s.seconds[d.names.arrayWhole] = t.seconds();
        d.checkRange(who + ", whole array", d.array, 0, d.array.size());
    }
}

void makeRawFile(Items& d, const Scratch& scratch) {
    d.rawFile = scratch.fresh("w7.h5");
    raw::Id file = raw::createFile(d.rawFile);
    raw::Id group = raw::createGroup(file, "w7");
    {
        raw::Id space = raw::simpleSpace(d.vector.size());
        raw::Id dcpl = raw::bestLayout(d.vector.size() * sizeof(double));
        raw::Id ds = raw::createDataset(group, "vector", H5T_NATIVE_DOUBLE, space, dcpl);
        raw::check(H5Dwrite(ds, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, d.vector.data()),
                   "H5Dwrite");
    }
    {
        raw::Id space = raw::simpleSpace2(d.rows, d.cols);
        raw::Id dcpl = raw::bestLayout(d.array.size() * sizeof(double));
        raw::Id ds = raw::createDataset(group, "array", H5T_NATIVE_DOUBLE, space, dcpl);
        raw::check(H5Dwrite(ds, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, d.array.data()),
                   "H5Dwrite");
    }
    group.close();
    file.close();
}

// Reads rows [first, first + count) of a one- or two-dimensional dataset (all of it for count
// 0) of an open file: opens the dataset by name, reads, closes it.
void rawReadIn(const raw::Id& file, const char* name, int rank, std::size_t first,
               std::size_t count, std::size_t cols, double* out) {
    raw::Id ds = raw::openDataset(file, name);
    if (count == 0) {
        raw::check(H5Dread(ds, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, out), "H5Dread");
    } else {
        raw::Id space(H5Dget_space(ds), H5Sclose, "H5Dget_space");
        const hsize_t start[2] = {first, 0};
        const hsize_t size[2] = {count, cols};
        raw::check(H5Sselect_hyperslab(space, H5S_SELECT_SET, start, nullptr, size, nullptr),
                   "H5Sselect_hyperslab");
        raw::Id memory = rank == 1 ? raw::simpleSpace(count) : raw::simpleSpace2(count, cols);
        raw::check(H5Dread(ds, H5T_NATIVE_DOUBLE, memory, space, H5P_DEFAULT, out), "H5Dread");
    }
    ds.close();
}

// The same with the file opened for the read and closed after it.
void rawRead(const std::string& path, const char* name, int rank, std::size_t first,
             std::size_t count, std::size_t cols, double* out) {
    raw::Id file = raw::openFile(path, false);
    rawReadIn(file, name, rank, first, count, cols, out);
    file.close();
}

void runRaw(Items& d, const Scratch& scratch, Sample& s) {
    if (d.rawFile.empty())
        makeRawFile(d, scratch);
    const std::string who = kRawHdf5;
    {
        Stopwatch t;
        for (const std::size_t first : d.vectorFirsts) {
            rawRead(d.rawFile, "w7/vector", 1, first, d.range, 1, d.out.data());
            d.checkRange(who, d.vector, first, d.range);
        }
        s.seconds[d.names.vectorRange] = t.seconds();
    }
    {
        Stopwatch t;
        for (const std::size_t first : d.rowFirsts) {
            rawRead(d.rawFile, "w7/array", 2, first, d.range, d.cols, d.out.data());
            d.checkRange(who, d.array, first * d.cols, d.range * d.cols);
        }
        s.seconds[d.names.arrayRange] = t.seconds();
    }
    {
        Stopwatch t;
        raw::Id file = raw::openFile(d.rawFile, false);
        for (const std::size_t first : d.vectorFirsts) {
            rawReadIn(file, "w7/vector", 1, first, d.range, 1, d.out.data());
            d.checkRange(who, d.vector, first, d.range);
        }
        file.close();
        s.seconds[d.names.vectorInUnit] = t.seconds();
    }
    {
        Stopwatch t;
        raw::Id file = raw::openFile(d.rawFile, false);
        for (const std::size_t first : d.rowFirsts) {
            rawReadIn(file, "w7/array", 2, first, d.range, d.cols, d.out.data());
            d.checkRange(who, d.array, first * d.cols, d.range * d.cols);
        }
        file.close();
        s.seconds[d.names.arrayInUnit] = t.seconds();
    }
    {
        Stopwatch t;
        for (int i = 0; i < d.wholeReads; ++i)
            rawRead(d.rawFile, "w7/vector", 1, 0, 0, 1, d.out.data());
        s.seconds[d.names.vectorWhole] = t.seconds();
        d.checkRange(who + ", whole vector", d.vector, 0, d.vector.size());
    }
    {
        Stopwatch t;
        for (int i = 0; i < d.wholeReads; ++i)
            rawRead(d.rawFile, "w7/array", 2, 0, 0, d.cols, d.out.data());
        s.seconds[d.names.arrayWhole] = t.seconds();
        d.checkRange(who + ", whole array", d.array, 0, d.array.size());
    }
}

}  // namespace

Workload makeW7RangeReads(const Options& o, const Scratch& scratch) {
    auto d = std::make_shared<Items>(o);
    const double reads = o.w7Reads;
    const double whole = d->wholeReads;
    const Names& n = d->names;
    Workload w;
    w.id = "W7";
    w.title = std::to_string(o.w7Range) + " elements from the middle of a " +
              std::to_string(o.w7Count) + "-double vector and " + std::to_string(o.w7Range) +
              " rows from the middle of a " + std::to_string(o.w7Rows) + " x " +
              std::to_string(o.w7Cols) + " array, one unit of work (open, read, close) per read, " +
              "then all reads in one unit (raw HDF5: the file opened once, the dataset by name " +
              "for each read); targets: at least 100x faster than reading the whole item, at " +
              "least 0.8x raw HDF5's hyperslab read";
    w.phases.push_back({n.vectorRange, "reads/s", reads, kRawHdf5, 0.8});
    w.phases.push_back({n.vectorWhole, "reads/s", whole, kRawHdf5, 0});
    w.phases.push_back({n.arrayRange, "reads/s", reads, kRawHdf5, 0.8});
    w.phases.push_back({n.arrayWhole, "reads/s", whole, kRawHdf5, 0});
    w.phases.push_back({n.vectorInUnit, "reads/s", reads, kRawHdf5, 0.8});
    w.phases.push_back({n.arrayInUnit, "reads/s", reads, kRawHdf5, 0.8});
    w.speedups.push_back({"vector, range vs whole", n.vectorRange, n.vectorWhole, 100});
    w.speedups.push_back({"array, range vs whole", n.arrayRange, n.arrayWhole, 100});
    w.speedups.push_back({"vector, range in one unit vs whole", n.vectorInUnit, n.vectorWhole, 100});
    w.speedups.push_back({"array, range in one unit vs whole", n.arrayInUnit, n.arrayWhole, 100});
    w.contenders.push_back({kLibrary, [d, &scratch](Sample& s) { runLibrary(*d, scratch, s); }});
    w.contenders.push_back({kRawHdf5, [d, &scratch](Sample& s) { runRaw(*d, scratch, s); }});
    return w;
}

}  // namespace Quellmar::bench
