// W3 compressed: W3's vector of smooth doubles written and read with each compressor the
// library offers for large data (deflate, Blosc with LZ4 or Zstandard and byte shuffling), at
// W3's level, against raw HDF5 setting up the same filters itself.
#include "LibraryHost.h"
#include "Patterns.h"
#include "RawHdf5.h"
#include "Workloads.h"

#include <QMXDataAccess/QMXL.h>
#include <QMXDataAccess/QMXVectorDAO.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace Quellmar::bench {

namespace {

struct Setting {
    int compressor;  // QMXLCompressor
    std::string name;
    std::string write, read, size;
};

std::vector<Setting> settings(int level) {
    std::vector<Setting> all;
    for (const auto& [c, name] : {std::pair{QMXL_DEFLATE, "deflate " + std::to_string(level)},
                                  std::pair{QMXL_BLOSC_LZ4, std::string("Blosc-LZ4")},
                                  std::pair{QMXL_BLOSC_ZSTD, std::string("Blosc-Zstd")}})
        all.push_back({c, name, "write, " + name, "read, " + name, "file size, " + name});
    return all;
}

struct Vector {
    std::vector<double> data;
    std::vector<double> out;
    int level;
    std::vector<Setting> settings;
    Vector(std::size_t count, int level)
        : data(smoothDoubles(count)), out(count), level(level), settings(bench::settings(level)) {}
    std::size_t bytes() const { return data.size() * sizeof(double); }
    void check(const std::string& who) const {
        expect(std::memcmp(out.data(), data.data(), bytes()) == 0, who + ": doubles differ");
    }
};

void runLibrary(Vector& v, const Scratch& scratch, Sample& s) {
    for (const Setting& z : v.settings) {
        const std::string path = scratch.fresh("w3c-" + std::to_string(z.compressor) + ".qmz");
        {
            Stopwatch t;
            HostSession host(path, false);
            QMXVectorDAO dao;
            host.bind(dao);
            dao.setCompression(v.level);
            dao.setCompressor(z.compressor);
            dao.create("w3", "values", VT_DOUBLE, static_cast<int>(v.data.size()), v.data.data());
            host.commit();
            s.seconds[z.write] = t.seconds();
        }
        std::fill(v.out.begin(), v.out.end(), 0.0);
        {
            Stopwatch t;
            HostSession host(path, true);
            QMXVectorDAO dao;
            host.bind(dao);
            dao.read("w3", "values", VT_DOUBLE, v.out.data());
            host.commit();
            s.seconds[z.read] = t.seconds();
        }
        v.check(std::string(kLibrary) + ", " + z.name);
        s.sizes[z.size] = mib(fileSize(path));
    }
}

// The filters a host using HDF5 itself sets up for the same result.
void addFilters(hid_t dcpl, const Setting& z, int level) {
    if (z.compressor == QMXL_DEFLATE) {
        raw::check(H5Pset_shuffle(dcpl), "H5Pset_shuffle");
        raw::check(H5Pset_deflate(dcpl, static_cast<unsigned>(level)), "H5Pset_deflate");
        return;
    }
    // Blosc: four values the filter fills in, then level, byte shuffle, LZ4 (1) or Zstd (5).
    const unsigned values[7] = {
        0, 0, 0, 0, static_cast<unsigned>(level), 1, z.compressor == QMXL_BLOSC_ZSTD ? 5u : 1u};
    raw::check(H5Pset_filter(dcpl, 32001, H5Z_FLAG_MANDATORY, 7, values), "H5Pset_filter (Blosc)");
}

void runRaw(Vector& v, const Scratch& scratch, Sample& s) {
    for (const Setting& z : v.settings) {
        const std::string path = scratch.fresh("w3c-" + std::to_string(z.compressor) + ".h5");
        {
            Stopwatch t;
            raw::Id file = raw::createFile(path);
            raw::Id group = raw::createGroup(file, "w3");
            raw::Id space = raw::simpleSpace(v.data.size());
            raw::Id dcpl = raw::datasetCreateList();
            // One-MiB chunks, as the library makes them: they fit the default chunk cache.
            const hsize_t chunk = std::min<hsize_t>(v.data.size(), 1 << 17);
            raw::check(H5Pset_chunk(dcpl, 1, &chunk), "H5Pset_chunk");
            addFilters(dcpl, z, v.level);
            raw::Id ds = raw::createDataset(group, "values", H5T_NATIVE_DOUBLE, space, dcpl);
            raw::check(
                H5Dwrite(ds, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data.data()),
                "H5Dwrite");
            ds.close();
            group.close();
            file.close();
            s.seconds[z.write] = t.seconds();
        }
        std::fill(v.out.begin(), v.out.end(), 0.0);
        {
            Stopwatch t;
            raw::Id file = raw::openFile(path, false);
            raw::Id ds = raw::openDataset(file, "w3/values");
            raw::check(H5Dread(ds, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.out.data()),
                       "H5Dread");
            ds.close();
            file.close();
            s.seconds[z.read] = t.seconds();
        }
        v.check(std::string(kRawHdf5) + ", " + z.name);
        s.sizes[z.size] = mib(fileSize(path));
    }
}

}  // namespace

Workload makeW3Compressed(const Options& o, const Scratch& scratch) {
    auto v = std::make_shared<Vector>(static_cast<std::size_t>(o.w3Count), o.w3Level);
    const double m = mib(static_cast<long long>(v->bytes()));
    Workload w;
    w.id = "W3Z";
    w.title = "W3 compressed: the vector of " + std::to_string(o.w3Count) +
              " smooth doubles written and read with deflate " + std::to_string(o.w3Level) +
              ", Blosc-LZ4 and Blosc-Zstd (byte shuffle, level " + std::to_string(o.w3Level) +
              "); target: Blosc-LZ4 writes at least 10x faster than deflate at no more than 1.25x "
              "its size";
    for (const Setting& z : v->settings) {
        w.phases.push_back({z.write, "MiB/s", m, kRawHdf5, 0});
        w.phases.push_back({z.read, "MiB/s", m, kRawHdf5, 0});
        w.sizes.push_back({z.size, "MiB", kRawHdf5, 0});
    }
    // The fast setting against deflate, each contender against itself.
    const Setting& deflate = v->settings[0];
    const Setting& lz4 = v->settings[1];
    w.speedups.push_back({lz4.write + " vs deflate", lz4.write, deflate.write, 10});
    w.sizesVersus.push_back({lz4.size + " vs deflate", lz4.size, deflate.size, 1.25});
    w.contenders.push_back({kLibrary, [v, &scratch](Sample& s) { runLibrary(*v, scratch, s); }});
    w.contenders.push_back({kRawHdf5, [v, &scratch](Sample& s) { runRaw(*v, scratch, s); }});
    return w;
}

}  // namespace Quellmar::bench
