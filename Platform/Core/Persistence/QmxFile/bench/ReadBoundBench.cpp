// What checking a large read costs before any HDF5: an item's bytes read from the page cache
// with one pread, against the same bytes read in slices and summed with CRC-32C, by the reader
// after each slice or by a second thread while the next slice is read (as the library's
// checksum thread does). Ratios are against the plain pread measured in the same run; medians
// of 41 rounds. Buffer and file offset are page-aligned, the kernel's fast copy.
#include "Crc32c.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Quellmar::crc32c::Extend;

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

template <class F>
double medianMicroseconds(F f) {
    std::vector<double> times;
    for (int round = 0; round < 41; ++round) {
        const auto start = Clock::now();
        f();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

bool readAt(int fd, unsigned char* to, size_t size, off_t at) {
    return ::pread(fd, to, size, at) == static_cast<ssize_t>(size);
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? static_cast<size_t>(std::atoi(argv[1])) : 8;
    const std::string path = argc > 2 ? argv[2] : "qmx_read_bound.bin";
    const size_t total = std::max<size_t>(1, mib) << 20;
    const size_t page = 4096;
    struct Free {
        void operator()(unsigned char* p) const { std::free(p); }
    };
    std::unique_ptr<unsigned char, Free> buffer(
        static_cast<unsigned char*>(std::aligned_alloc(page, total)));
    for (size_t i = 0; i < total; ++i)
        buffer.get()[i] = static_cast<unsigned char>(i * 7 + (i >> 12));
    {
        Fd out{::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644)};
        if (out.fd < 0 || ::pwrite(out.fd, buffer.get(), total, 0) != static_cast<ssize_t>(total)) {
            std::perror(path.c_str());
            return 1;
        }
    }
    Fd in{::open(path.c_str(), O_RDONLY)};
    if (in.fd < 0) {
        std::perror(path.c_str());
        return 1;
    }
    unsigned char* to = buffer.get();
    bool ok = readAt(in.fd, to, total, 0);  // into the page cache
    volatile std::uint32_t sink = 0;

    const double plain = medianMicroseconds([&] { ok = readAt(in.fd, to, total, 0) && ok; });
    std::printf("%zu MiB from the page cache, one pread: %.0f us\n", mib, plain);
    std::printf("%-44s %10s %10s\n", "read in slices and summed", "us", "ratio");
    for (const size_t slice : {size_t{64} << 10, size_t{256} << 10, size_t{1} << 20}) {
        const double inline_ = medianMicroseconds([&] {
            std::uint32_t crc = 0;
            for (size_t at = 0; at < total; at += slice) {
                const size_t n = std::min(slice, total - at);
                ok = readAt(in.fd, to + at, n, static_cast<off_t>(at)) && ok;
                crc = Extend(crc, to + at, n);
            }
            sink = crc;
        });
        std::printf("by the reader, slices of %4zu KiB %21.0f %10.2f\n", slice >> 10, inline_,
                    plain / inline_);
    }
    // One long-lived thread sums slice k while slice k + 1 is read.
    for (const size_t slice : {size_t{256} << 10, size_t{1} << 20}) {
        std::atomic<size_t> readSlices{0};
        std::atomic<bool> stop{false}, summed{false};
        std::atomic<int> round{0};
        std::uint32_t crc = 0;
        const size_t count = (total + slice - 1) / slice;
        std::thread summer([&] {
            int seen = 0;
            while (!stop.load(std::memory_order_acquire)) {
                if (round.load(std::memory_order_acquire) == seen)
                    continue;
                std::uint32_t c = 0;
                for (size_t k = 0; k < count; ++k) {
                    while (readSlices.load(std::memory_order_acquire) <= k) {
                    }
                    const size_t at = k * slice;
                    c = Extend(c, to + at, std::min(slice, total - at));
                }
                crc = c;
                ++seen;
                summed.store(true, std::memory_order_release);
            }
        });
        const double concurrent = medianMicroseconds([&] {
            readSlices.store(0, std::memory_order_release);
            summed.store(false, std::memory_order_release);
            round.fetch_add(1, std::memory_order_acq_rel);
            for (size_t k = 0; k < count; ++k) {
                const size_t at = k * slice;
                ok = readAt(in.fd, to + at, std::min(slice, total - at), static_cast<off_t>(at)) &&
                     ok;
                readSlices.store(k + 1, std::memory_order_release);
            }
            while (!summed.load(std::memory_order_acquire)) {
            }
            sink = crc;
        });
        stop.store(true, std::memory_order_release);
        summer.join();
        std::printf("by a second thread, slices of %4zu KiB %16.0f %10.2f\n", slice >> 10,
                    concurrent, plain / concurrent);
    }
    ::unlink(path.c_str());
    if (!ok) {
        std::fprintf(stderr, "a read came back short\n");
        return 1;
    }
    return 0;
}
