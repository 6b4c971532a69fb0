// W8: a time series growing by appends: many appends of the same size to one vector of
// doubles, one unit of work (open, append, commit and close) per append, against raw HDF5
// extending a chunked dataset (open, extend, write, close). The first and last appends are
// timed apart: an append that rewrote the vector would grow slower with its length.
#include "LibraryHost.h"
#include "Patterns.h"
#include "RawHdf5.h"
#include "Workloads.h"

#include <QMXDataAccess/QMXVectorDAO.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <numeric>

namespace Quellmar::bench {

namespace {

// The file after the appends: an append that left unused room behind grows it beyond the
// data's size.
const char* const kSize = "file size";

struct Series {
    std::vector<double> values;  // the initial elements, then every append's, in order
    std::vector<double> out;
    std::size_t size;    // elements an append adds (and the vector starts with)
    std::size_t appends;
    std::size_t edge;    // appends timed apart at the start and the end
    std::string all, first, last;

    explicit Series(const Options& o)
        : values(smoothDoubles(static_cast<std::size_t>(o.w8Size) *
                               (static_cast<std::size_t>(o.w8Appends) + 1))),
          out(values.size()),
          size(static_cast<std::size_t>(o.w8Size)),
          appends(static_cast<std::size_t>(o.w8Appends)),
          edge(std::min<std::size_t>(100, std::max<std::size_t>(1, appends / 2))),
          all("append " + std::to_string(o.w8Size) + " doubles, one unit each"),
          first("first " + std::to_string(edge) + " appends"),
          last("last " + std::to_string(edge) + " appends") {}
    const double* piece(std::size_t i) const { return values.data() + (i + 1) * size; }
    void check(const std::string& who) const {
        expect(std::memcmp(out.data(), values.data(), values.size() * sizeof(double)) == 0,
               who + ": the appended vector differs");
    }
    // Total, first and last appends from each append's seconds; also printed per append.
    void record(const std::string& who, const std::vector<double>& each, Sample& s) const {
        s.seconds[all] = std::accumulate(each.begin(), each.end(), 0.0);
        s.seconds[first] = std::accumulate(each.begin(), each.begin() + edge, 0.0);
        s.seconds[last] = std::accumulate(each.end() - edge, each.end(), 0.0);
        char line[160];
        std::snprintf(line, sizeof line, "W8 %s: %.3f ms per append over the first %zu, %.3f ms "
                      "over the last %zu\n", who.c_str(), 1e3 * s.seconds[first] / edge, edge,
                      1e3 * s.seconds[last] / edge, edge);
        std::cerr << line;
        // The whole curve in tenths: a rewrite shows as a climb, noise as scatter.
        std::string tenths = "W8 " + who + ": ms per append by tenth:";
        const std::size_t n = each.size();
        for (std::size_t t = 0; t < 10 && n >= 10; ++t) {
            const auto from = each.begin() + static_cast<long>(t * n / 10);
            const auto to = each.begin() + static_cast<long>((t + 1) * n / 10);
            std::snprintf(line, sizeof line, " %.2f",
                          1e3 * std::accumulate(from, to, 0.0) / static_cast<double>(to - from));
            tenths += line;
        }
        std::cerr << tenths << "\n";
    }
};

void runLibrary(Series& d, const Scratch& scratch, Sample& s) {
    const std::string path = scratch.fresh("w8.qmz");
    {
        HostSession host(path, false);
        QMXVectorDAO dao;
        host.bind(dao);
        dao.create("w8", "series", VT_DOUBLE, static_cast<int>(d.size), d.values.data());
        host.commit();
    }
    std::vector<double> each(d.appends);
    for (std::size_t i = 0; i < d.appends; ++i) {
        Stopwatch t;
        HostSession host(path, false);
        QMXVectorDAO dao;
        host.bind(dao);
        dao.append("w8", "series", VT_DOUBLE, static_cast<int>(d.size), d.piece(i));
        host.commit();
        each[i] = t.seconds();
    }
    std::fill(d.out.begin(), d.out.end(), 0.0);
    {
        HostSession host(path, true);
        QMXVectorDAO dao;
        host.bind(dao);
        expect(dao.getInfo("w8", "series").rows == static_cast<int>(d.values.size()),
               std::string(kLibrary) + ": the appended vector has another length");
        dao.read("w8", "series", VT_DOUBLE, d.out.data());
        host.commit();
    }
    d.check(kLibrary);
    d.record(kLibrary, each, s);
    s.sizes[kSize] = mib(fileSize(path));
}

void runRaw(Series& d, const Scratch& scratch, Sample& s) {
    const std::string path = scratch.fresh("w8.h5");
    {
        raw::Id file = raw::createFile(path);
        raw::Id group = raw::createGroup(file, "w8");
        const hsize_t initial = d.size;
        const hsize_t unlimited = H5S_UNLIMITED;
        raw::Id space(H5Screate_simple(1, &initial, &unlimited), H5Sclose, "H5Screate_simple");
        raw::Id dcpl = raw::datasetCreateList();
        // 64-KiB chunks, as the library's extendible items have them (1-MiB chunks appended
        // about half as fast here).
        const hsize_t chunk = 8192;
        raw::check(H5Pset_chunk(dcpl, 1, &chunk), "H5Pset_chunk");
        raw::Id ds = raw::createDataset(group, "series", H5T_NATIVE_DOUBLE, space, dcpl);
        raw::check(H5Dwrite(ds, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, d.values.data()),
                   "H5Dwrite");
        ds.close();
        group.close();
        file.close();
    }
    std::vector<double> each(d.appends);
    for (std::size_t i = 0; i < d.appends; ++i) {
        Stopwatch t;
        raw::Id file = raw::openFile(path, true);
        raw::Id ds = raw::openDataset(file, "w8/series");
        const hsize_t start = (i + 1) * d.size;
        const hsize_t grown = start + d.size;
        raw::check(H5Dset_extent(ds, &grown), "H5Dset_extent");
        raw::Id space(H5Dget_space(ds), H5Sclose, "H5Dget_space");
        const hsize_t count = d.size;
        raw::check(H5Sselect_hyperslab(space, H5S_SELECT_SET, &start, nullptr, &count, nullptr),
                   "H5Sselect_hyperslab");
        raw::Id memory = raw::simpleSpace(count);
        raw::check(H5Dwrite(ds, H5T_NATIVE_DOUBLE, memory, space, H5P_DEFAULT, d.piece(i)),
                   "H5Dwrite");
        memory.close();
        space.close();
        ds.close();
        file.close();
        each[i] = t.seconds();
    }
    std::fill(d.out.begin(), d.out.end(), 0.0);
    {
        raw::Id file = raw::openFile(path, false);
        raw::Id ds = raw::openDataset(file, "w8/series");
        expect(raw::elementCount(ds) == d.values.size(),
               std::string(kRawHdf5) + ": the appended dataset has another length");
        raw::check(H5Dread(ds, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, d.out.data()),
                   "H5Dread");
        ds.close();
        file.close();
    }
    d.check(kRawHdf5);
    d.record(kRawHdf5, each, s);
    s.sizes[kSize] = mib(fileSize(path));
}

}  // namespace

Workload makeW8Appends(const Options& o, const Scratch& scratch) {
    auto d = std::make_shared<Series>(o);
    Workload w;
    w.id = "W8";
    w.title = std::to_string(o.w8Appends) + " appends of " + std::to_string(o.w8Size) +
              " doubles each to one vector, one unit of work per append (raw HDF5: open, extend "
              "a chunked dataset, write, close); target: at least 0.8x raw HDF5, and the last "
              "appends as fast as the first (no rewrite)";
    const double edge = static_cast<double>(d->edge);
    w.phases.push_back({d->all, "appends/s", static_cast<double>(o.w8Appends), kRawHdf5, 0.8});
    w.phases.push_back({d->first, "appends/s", edge, kRawHdf5, 0});
    w.phases.push_back({d->last, "appends/s", edge, kRawHdf5, 0});
    w.speedups.push_back({d->last + " vs " + d->first, d->last, d->first, 0.8});
    w.sizes = {{kSize, "MiB", kRawHdf5, 0}};
    w.contenders.push_back({kLibrary, [d, &scratch](Sample& s) { runLibrary(*d, scratch, s); }});
    w.contenders.push_back({kRawHdf5, [d, &scratch](Sample& s) { runRaw(*d, scratch, s); }});
    return w;
}

}  // namespace Quellmar::bench
