// The read side of the I/O-error loop: a host's unit of work that only reads (open, one read
// through a DAO, end) runs once per file operation it makes, with that operation failing (EIO,
// once and from then on), in read-only sessions and in sessions that may write. Each run must
// end with the host seeing an exception that names the failure, or with the right values when
// the library could do without the failed operation; never wrong values, never a crash.
#include "FailingFileOps.h"
#include "LastError.h"
#include "QMXL.h"
#include "SessionFixture.h"
#include "TempDir.h"
#include "VectorTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <vector>

// When one of HDF5's own metadata reads fails in a read-only session, HDF5 1.10 loses the cache
// image of the root group's header (56 bytes, allocated by H5Fopen) when the file is closed.
// Nothing of ours stays open: the test main finds no HDF5 identifier left after each test. HDF5
// keeps no frame pointers, so only its module can be named.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* qmx_test_leak_suppressions() {
    return "leak:libhdf5_serial.so\n";
}
#endif

using namespace Quellmar;
namespace qt = Quellmar::testing;

namespace {

constexpr std::size_t kLarge = 400000;  // doubles: 3.2 MB, read in slices

std::vector<double> series(std::size_t n, double phase) {
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = std::sin(static_cast<double>(i) * 1e-3 + phase) * 1000.0 + 0.5;
    return v;
}

struct Items {
    std::string small = std::string(100, 'x') + "small";
    std::string large = std::string(3 << 20, 'y') + "large";
    std::vector<double> flat = series(kLarge, 0.1);
    std::vector<double> packed = series(kLarge, 0.2);    // Blosc-LZ4
    std::vector<double> deflated = series(kLarge, 0.5);  // deflate
    std::vector<double> appended = series(kLarge, 0.3);  // moved to chunks by an append
    std::vector<double> matrix = series(kLarge, 0.4);    // 50,000 rows of 8
    std::vector<vectortest::Record> records = vectortest::records(100000, 7);  // stored packed
};

void write(const std::string& file, const Items& d) {
    qt::Session s(file);
    s.blobs.create("g", "small", qt::makeObject(d.small));
    s.blobs.create("g", "large", qt::makeObject(d.large));
    s.vectors.create("v", "flat", VT_DOUBLE, static_cast<int>(kLarge), d.flat.data());
    s.vectors.setCompression(5);
    s.vectors.setCompressor(QMXL_BLOSC_LZ4);
    s.vectors.create("v", "packed", VT_DOUBLE, static_cast<int>(kLarge), d.packed.data());
    s.vectors.setCompressor(QMXL_DEFLATE);
    s.vectors.create("v", "deflated", VT_DOUBLE, static_cast<int>(kLarge), d.deflated.data());
    s.vectors.setCompression(0);
    s.vectors.create("v", "appended", VT_DOUBLE, 1000, d.appended.data());
    s.vectors.append("v", "appended", VT_DOUBLE, static_cast<int>(kLarge - 1000),
                     d.appended.data() + 1000);
    s.arrays.create("a", "matrix", VT_DOUBLE, static_cast<int>(kLarge / 8), 8, d.matrix.data());
    QMXClassComposer type = vectortest::recordComposer();
    s.vectors.create("r", "records", type, static_cast<int>(d.records.size()), d.records.data());
    s.blobs.createGroup("versioned", 7);
}

// One read a host makes: true when the values it got are the stored ones.
struct Read {
    const char* name;
    std::function<bool(qt::HostUnit&)> run;
};

std::vector<Read> reads(const Items& d) {
    const auto range = [](const std::vector<double>& v, std::size_t first, std::size_t n) {
        return std::vector<double>(v.begin() + static_cast<long>(first),
                                   v.begin() + static_cast<long>(first + n));
    };
    return {
        {"small blob",
         [&d](qt::HostUnit& u) {
             SerializationTransferObject o;
             u.blobs.read("g", "small", o);
             return qt::bytesOf(o) == d.small;
         }},
        {"large blob",
         [&d](qt::HostUnit& u) {
             SerializationTransferObject o;
             u.blobs.read("g", "large", o);
             return qt::bytesOf(o) == d.large;
         }},
        {"vector",
         [&d](qt::HostUnit& u) {
             std::vector<double> back(kLarge);
             u.vectors.read("v", "flat", VT_DOUBLE, back.data());
             return back == d.flat;
         }},
        {"vector as float",
         [&d](qt::HostUnit& u) {
             std::vector<float> back(kLarge);
             u.vectors.read("v", "flat", VT_FLOAT, back.data());
             return back == std::vector<float>(d.flat.begin(), d.flat.end());
         }},
        {"vector range",
         [&d, range](qt::HostUnit& u) {
             std::vector<double> back(5000);
             u.vectors.readRange("v", "flat", VT_DOUBLE, 200000, 5000, back.data());
             return back == range(d.flat, 200000, 5000);
         }},
        {"compressed vector",
         [&d](qt::HostUnit& u) {
             std::vector<double> back(kLarge);
             u.vectors.read("v", "packed", VT_DOUBLE, back.data());
             return back == d.packed;
         }},
        {"deflated vector",
         [&d](qt::HostUnit& u) {
             std::vector<double> back(kLarge);
             u.vectors.read("v", "deflated", VT_DOUBLE, back.data());
             return back == d.deflated;
         }},
        {"appended vector",
         [&d](qt::HostUnit& u) {
             std::vector<double> back(kLarge);
             u.vectors.read("v", "appended", VT_DOUBLE, back.data());
             return back == d.appended;
         }},
        {"appended vector range",
         [&d, range](qt::HostUnit& u) {
             std::vector<double> back(5000);
             u.vectors.readRange("v", "appended", VT_DOUBLE, kLarge - 5000, 5000, back.data());
             return back == range(d.appended, kLarge - 5000, 5000);
         }},
        {"array rows",
         [&d, range](qt::HostUnit& u) {
             std::vector<double> back(8 * 1000);
             u.arrays.readRows("a", "matrix", VT_DOUBLE, 20000, 1000, back.data());
             return back == range(d.matrix, 8 * 20000, 8 * 1000);
         }},
        {"records",
         [&d](qt::HostUnit& u) {
             QMXClassComposer type = vectortest::recordComposer();
             std::vector<vectortest::Record> back(d.records.size());
             u.vectors.read("r", "records", type, back.data());
             return std::memcmp(back.data(), d.records.data(),
                                back.size() * sizeof(vectortest::Record)) == 0;
         }},
        {"group version",
         [](qt::HostUnit& u) {
             int version = 0;
             u.blobs.readGroupDataVersion("versioned", version);
             return version == 7;
         }},
        {"array info",
         [](qt::HostUnit& u) {
             const VectorInfo info = u.arrays.getInfo("a", "matrix");
             return info.rows == static_cast<int>(kLarge / 8) && info.cols == 8;
         }},
    };
}

struct Outcome {
    bool threw = false;
    std::string what;
    bool right = false;
};

// The unit a host runs, every file operation of it through `ops`.
Outcome runUnit(const std::string& file, UserContext::AccessIntent intent, const Read& read,
                qt::FailingFileOps& ops) {
    Outcome outcome;
    qt::ScopedFileOps layer(ops);
    try {
        qt::HostUnit unit(file, intent);
        outcome.right = read.run(unit);
        unit.stack->commit();
    } catch (const std::exception& e) {
        outcome.threw = true;
        outcome.what = e.what();
    }
    return outcome;
}

}  // namespace

TEST(ReadErrorLoop, EveryFailingFileOperationOfAReadReachesTheHost) {
    qt::TempDir dir;
    const std::string file = dir.file("reads.qmz");
    const Items d;
    write(file, d);
    std::size_t runs = 0, failed = 0, readPast = 0;
    for (const Read& read : reads(d)) {
        for (const auto intent : {UserContext::ReadOnly, UserContext::ReadWrite}) {
            const std::string where = std::string(read.name) +
                                      (intent == UserContext::ReadOnly ? ", read-only"
                                                                       : ", read-write");
            qt::FailingFileOps counting(0, 0, false);
            const Outcome clean = runUnit(file, intent, read, counting);
            ASSERT_FALSE(clean.threw) << where << ": " << clean.what;
            ASSERT_TRUE(clean.right) << where;
            ASSERT_GE(counting.calls(), 3u) << where;
            for (const bool sticky : {false, true}) {
                for (std::size_t n = 1; n <= counting.calls(); ++n) {
                    qt::FailingFileOps failing(n, EIO, sticky);
                    const Outcome seen = runUnit(file, intent, read, failing);
                    ++runs;
                    const std::string at = where + (sticky ? ", sticky" : ", once") +
                                           ", call " + std::to_string(n) + " (" +
                                           failing.failedCall() + ")";
                    if (failing.failures() == 0) {
                        EXPECT_TRUE(!seen.threw && seen.right) << at << ": " << seen.what;
                        continue;
                    }
                    if (seen.threw) {
                        ++failed;
                        EXPECT_NE(seen.what.find("Input/output error"), std::string::npos)
                            << at << ": " << seen.what;
                        continue;
                    }
                    // Read past the failure (it did not repeat, or it hit what the unit may do
                    // without, such as the first unit's probe of the file system's clock or
                    // the descriptor's close after the read): only with the right values.
                    ++readPast;
                    EXPECT_TRUE(seen.right) << at << ": wrong values without an exception";
                }
            }
            // The file is as it was: a clean unit reads it right.
            qt::FailingFileOps after(0, 0, false);
            const Outcome again = runUnit(file, intent, read, after);
            EXPECT_TRUE(!again.threw && again.right) << where << ": " << again.what;
        }
    }
    std::printf("%zu failing units: %zu threw naming the failure, %zu read past it\n", runs,
                failed, readPast);
}

// What `qmx check` asks of every object (verify) and the sealing of an item: a read of the file
// that fails is said to have failed, with its reason, never taken for damage.
TEST(ReadErrorLoop, AFailedReadIsNeverCalledDamageByTheChecks) {
    qt::TempDir dir;
    const std::string file = dir.file("checks.qmz");
    const Items d;
    write(file, d);
    struct Check {
        const char* path;
        bool readOnly;
        std::function<int(int)> run;
    };
    std::vector<Check> checks;
    for (const char* path : {"/g", "/g/large", "/v/flat", "/v/packed", "/a/matrix", "/r/records"})
        checks.push_back({path, true, [path](int f) { return QMXLverifyObject(f, path); }});
    for (const char* path : {"/v/flat", "/v/appended"})
        checks.push_back({path, false, [path](int f) { return QMXLsealObject(f, path); }});
    std::size_t runs = 0;
    for (const Check& check : checks) {
        const auto once = [&](qt::FailingFileOps& ops, std::string& message) {
            const int f = check.readOnly ? QMXLopenFileReadOnly(file.c_str())
                                         : QMXLopenFile(file.c_str());
            EXPECT_GT(f, 0) << qt::lastError();
            int result = 0;
            {
                qt::ScopedFileOps layer(ops);
                result = check.run(f);
                message = qt::lastError();
            }
            QMXLcloseFile(f);
            return result;
        };
        std::string message;
        qt::FailingFileOps counting(0, 0, false);
        ASSERT_GE(once(counting, message), 0) << check.path << ": " << message;
        for (std::size_t n = 1; n <= counting.calls(); ++n) {
            qt::FailingFileOps failing(n, EIO, false);
            const int result = once(failing, message);
            ++runs;
            if (failing.failures() == 0 || result >= 0)
                continue;
            EXPECT_NE(message.find("Input/output error"), std::string::npos)
                << check.path << ", call " << n << ": " << message;
            EXPECT_EQ(message.find("damaged"), std::string::npos)
                << check.path << ", call " << n << ": " << message;
        }
    }
    EXPECT_GT(runs, 0u);
}
