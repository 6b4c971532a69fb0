#include "Filters.h"

#include <algorithm>
#include <atomic>

namespace Quellmar::qmxfile {

namespace {

std::atomic<int> g_processCompressor{static_cast<int>(Compressor::Deflate)};
thread_local int t_threadCompressor = kFollowChoice;

// Blosc's own codes for its inner compressors, in the filter's seventh parameter.
constexpr unsigned kBloscLz4Code = 1;
constexpr unsigned kBloscZstdCode = 5;
// The Blosc filter's parameters: four it fills in itself (filter revision, Blosc version,
// element size, chunk size), then level, shuffle (1 = bytes) and the inner compressor.
constexpr size_t kBloscValues = 7;
constexpr unsigned kBloscByteShuffle = 1;

void pushReason(const char* function, unsigned line, const std::string& reason) {
    H5Epush2(H5E_DEFAULT, __FILE__, function, line, H5E_ERR_CLS, H5E_PLINE, H5E_NOFILTER, "%s",
             reason.c_str());
}

H5Z_filter_t pluginOf(Compressor c) {
    switch (c) {
        case Compressor::BloscLz4:
        case Compressor::BloscZstd:
            return kBloscFilter;
        case Compressor::Lz4:
            return kLz4Filter;
        case Compressor::Deflate:
            break;
    }
    return H5Z_FILTER_DEFLATE;
}

// HDF5 looks for a plugin when a filter is first asked about; a plugin found later is
// registered for the rest of the process.
bool filterUsable(H5Z_filter_t filter) {
    return H5Zfilter_avail(filter) > 0;
}

}  // namespace

bool knownCompressor(int code) {
    return code >= static_cast<int>(Compressor::Deflate) &&
           code <= static_cast<int>(Compressor::Lz4);
}

const char* compressorName(Compressor c) {
    switch (c) {
        case Compressor::Deflate:
            return "deflate";
        case Compressor::BloscLz4:
            return "Blosc LZ4";
        case Compressor::BloscZstd:
            return "Blosc Zstandard";
        case Compressor::Lz4:
            return "LZ4";
    }
    return "?";
}

Compressor chosenCompressor() {
    return t_threadCompressor != kFollowChoice ? static_cast<Compressor>(t_threadCompressor)
                                               : processCompressor();
}

Compressor processCompressor() {
    return static_cast<Compressor>(g_processCompressor.load(std::memory_order_relaxed));
}
void setProcessCompressor(Compressor c) {
    g_processCompressor.store(static_cast<int>(c), std::memory_order_relaxed);
}
int threadCompressor() {
    return t_threadCompressor;
}
void setThreadCompressor(int code) {
    t_threadCompressor = code;
}

std::string missingPluginText(H5Z_filter_t filter, const std::string& storedName) {
    std::string name = storedName.empty() ? "without a name" : "\"" + storedName + "\"";
    if (filter == kBloscFilter)
        name = "Blosc";
    else if (filter == kLz4Filter)
        name = "LZ4";
    return "needs the HDF5 filter plugin " + name + " (id " + std::to_string(filter) +
           "), which is not installed";
}

bool compressorUsable(Compressor c) {
    const H5Z_filter_t filter = pluginOf(c);
    if (filterUsable(filter))
        return true;
    H5Eclear2(H5E_DEFAULT);
    pushReason(__func__, __LINE__,
               std::string(compressorName(c)) + " compression " + missingPluginText(filter));
    return false;
}

herr_t addCompressor(hid_t dcpl, Compressor c, int level, size_t elementSize) {
    level = std::clamp(level, 1, 9);
    if (c == Compressor::Deflate) {
        // Shuffling groups the bytes of multi-byte numbers: smaller and faster than deflate alone.
        if (elementSize > 1 && H5Pset_shuffle(dcpl) < 0)
            return -1;
        return H5Pset_deflate(dcpl, static_cast<unsigned>(level));
    }
    if (!compressorUsable(c))
        return -1;
    // Optional, as HDF5 makes deflate: Blosc declines chunks it cannot make smaller, and HDF5
    // then stores them as they are (marked in the chunk's filter mask).
    if (c == Compressor::Lz4) {
        // LZ4 has no levels; a block size of 0 lets the filter take whole chunks.
        const unsigned values[1] = {0};
        if (elementSize > 1 && H5Pset_shuffle(dcpl) < 0)
            return -1;
        return H5Pset_filter(dcpl, kLz4Filter, H5Z_FLAG_OPTIONAL, 1, values);
    }
    // Blosc shuffles by itself.
    const unsigned values[kBloscValues] = {
        0,
        0,
        0,
        0,
        static_cast<unsigned>(level),
        kBloscByteShuffle,
        c == Compressor::BloscZstd ? kBloscZstdCode : kBloscLz4Code};
    return H5Pset_filter(dcpl, kBloscFilter, H5Z_FLAG_OPTIONAL, kBloscValues, values);
}

bool pipelineCompressor(hid_t dcpl, Compressor& compressor, int& level) {
    const int filters = H5Pget_nfilters(dcpl);
    for (int i = 0; i < filters; ++i) {
        unsigned flags = 0;
        size_t count = kBloscValues;
        unsigned values[kBloscValues] = {};
        const H5Z_filter_t filter = H5Pget_filter2(dcpl, static_cast<unsigned>(i), &flags, &count,
                                                   values, 0, nullptr, nullptr);
        if (filter == H5Z_FILTER_DEFLATE) {
            compressor = Compressor::Deflate;
            level = count > 0 ? static_cast<int>(values[0]) : 6;
            return true;
        }
        if (filter == kLz4Filter) {
            compressor = Compressor::Lz4;
            level = 1;  // no levels: any level means "compressed"
            return true;
        }
        if (filter == kBloscFilter && count >= kBloscValues &&
            (values[6] == kBloscLz4Code || values[6] == kBloscZstdCode)) {
            compressor = values[6] == kBloscZstdCode ? Compressor::BloscZstd : Compressor::BloscLz4;
            level = std::clamp(static_cast<int>(values[4]), 0, 9);
            return true;
        }
    }
    return false;
}

bool explainMissingFilter(hid_t dataset) {
    // Every HDF5 call below clears HDF5's error stack: the failure's own stack is kept for
    // the case that no filter is missing.
    const hid_t saved = H5Eget_current_stack();
    H5Z_filter_t missing = -1;
    char name[128] = {};
    {
        Hid dcpl(H5Dget_create_plist(dataset));
        const int filters = dcpl ? H5Pget_nfilters(dcpl.get()) : 0;
        for (int i = 0; i < filters && missing < 0; ++i) {
            unsigned flags = 0;
            size_t count = 0;
            // Other programs' filters are named by the name the file keeps for them.
            const H5Z_filter_t filter =
                H5Pget_filter2(dcpl.get(), static_cast<unsigned>(i), &flags, &count, nullptr,
                               sizeof name - 1, name, nullptr);
            if (filter >= 0 && !filterUsable(filter))
                missing = filter;
        }
    }
    if (missing < 0) {
        if (saved >= 0)
            H5Eset_current_stack(saved);
        return false;
    }
    if (saved >= 0)
        H5Eclose_stack(saved);
    H5Eclear2(H5E_DEFAULT);
    pushReason(__func__, __LINE__, "the item " + missingPluginText(missing, name));
    return true;
}

}  // namespace Quellmar::qmxfile
