// Objects the library makes once and keeps (the blob and string element types, the scalar
// space of checksum attributes, the compact layout list) and the process's checksum thread,
// made to fail as they are made. The HDF5 calls and pthread_create are interposed in this
// executable: each interposer forwards to the real function, with an argument the real one
// refuses when told to fail, so the failure and HDF5's error stack are the real ones.
//
// The objects are made on first use in a process, so each case runs in a child that first
// shuts HDF5 down (the library makes them again after a shutdown) and then fails them.
#include "ChildProcess.h"
#include "ConcurrentCrc.h"
#include "TestFiles.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <thread>

namespace {

struct Faults {
    std::atomic<bool> scalarSpace{false}, opaqueType{false}, stringType{false},
        compactLayout{false}, threads{false};
    std::atomic<int> scalarSpaceCalls{0}, opaqueTypeCalls{0}, stringTypeCalls{0},
        compactLayoutCalls{0}, threadCalls{0};
    void reset() {
        for (auto* flag : {&scalarSpace, &opaqueType, &stringType, &compactLayout, &threads})
            *flag = false;
    }
};
Faults faults;

template <class F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" hid_t H5Screate(H5S_class_t type) {
    static const auto real = next<hid_t (*)(H5S_class_t)>("H5Screate");
    if (type != H5S_SCALAR)
        return real(type);
    ++faults.scalarSpaceCalls;
    return real(faults.scalarSpace ? H5S_NO_CLASS : type);
}

extern "C" hid_t H5Tcreate(H5T_class_t type, size_t size) {
    static const auto real = next<hid_t (*)(H5T_class_t, size_t)>("H5Tcreate");
    if (type != H5T_OPAQUE)
        return real(type, size);
    ++faults.opaqueTypeCalls;
    return real(faults.opaqueType ? H5T_NO_CLASS : type, size);
}

extern "C" hid_t H5Tcopy(hid_t type) {
    static const auto real = next<hid_t (*)(hid_t)>("H5Tcopy");
    if (type != H5T_C_S1)
        return real(type);
    ++faults.stringTypeCalls;
    return real(faults.stringType ? H5I_INVALID_HID : type);
}

extern "C" herr_t H5Pset_layout(hid_t list, H5D_layout_t layout) {
    static const auto real = next<herr_t (*)(hid_t, H5D_layout_t)>("H5Pset_layout");
    if (layout != H5D_COMPACT)
        return real(list, layout);
    ++faults.compactLayoutCalls;
    return real(faults.compactLayout ? H5I_INVALID_HID : list, layout);
}

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                              void* arg) {
    static const auto real =
        next<int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)>("pthread_create");
    ++faults.threadCalls;
    return faults.threads ? EAGAIN : real(thread, attr, start, arg);
}

namespace Quellmar::testing {
namespace {

using qmxfile::ConcurrentCrc;

// Failed checks of a child, told on stderr; the child's exit code is their number.
class Checks {
public:
    bool operator()(bool ok, const std::string& what) {
        if (!ok) {
            std::fprintf(stderr, "child: %s\n", what.c_str());
            ++m_failed;
        }
        return ok;
    }
    int failed() const { return m_failed; }

private:
    int m_failed = 0;
};

// Runs `work` in a child whose HDF5 was shut down first, so the library makes its kept
// objects again; the child ends without closing anything.
int inFreshChild(const std::function<int()>& work) {
    return runInChild(
        [&] {
            faults.reset();
            if (H5close() < 0)
                return 90;
            return work();
        },
        ChildEnd::QuickExit);
}

// What every failed making must look like from the host: a negative result with a message,
// no item left behind, and the same call succeeding once the fault is gone.
struct Making {
    const char* name;
    std::atomic<bool> Faults::*fault;
    std::atomic<int> Faults::*calls;
    bool string;       // a string dataset instead of a blob
    size_t size;       // bytes written
    const char* told;  // in the message
};

int failedMakingLeavesNothing(const Making& m) {
    Checks check;
    TempDir dir;
    const std::string path = dir.file("made.qmz");
    const int file = QMXLcreateFile(path.c_str());
    if (!check(file > 0, "create file: " + lastError()))
        return check.failed();
    const std::string data = pattern(m.size, 3);
    const auto create = [&] {
        return m.string
                   ? QMXLcreateCompressedStringDataset(
                         file, "", "item", 0, 0, static_cast<long long>(data.size()), data.data())
                   : QMXLcreateCompressedOpaqueData(
                         file, "", "item", 0, 0, static_cast<long long>(data.size()), data.data());
    };

    faults.*m.fault = true;
    const int before = (faults.*m.calls).load();
    check(create() < 0, "the creation did not fail");
    check((faults.*m.calls).load() > before, "the interposer was not in the path");
    const std::string message = lastError();
    check(message.find(m.told) != std::string::npos, "message: '" + message + "'");
    check(QMXLexistsDataset(file, "/item") == 0, "the failed creation left an item");
    // A second try while the fault lasts fails the same way: nothing broken was kept.
    check(create() < 0, "the second creation did not fail");

    faults.*m.fault = false;
    check(create() == 1, "creation after the fault: " + lastError());
    check(QMXLverifyObject(file, "/item") == 1, "verify: " + lastError());
    check(QMXLcloseFile(file) >= 0, "close: " + lastError());

    const int again = QMXLopenFileReadOnly(path.c_str());
    if (!check(again > 0, "reopen: " + lastError()))
        return check.failed();
    long long size = -1;
    check((m.string ? QMXLgetSizeOfStringDataset(again, "", "item", &size)
                    : QMXLgetSizeOfOpaqueData(again, "", "item", &size)) == 1 &&
              size == static_cast<long long>(data.size()),
          "stored size " + std::to_string(size));
    std::string read(data.size(), '\0');
    check((m.string ? QMXLreadStringDataset(again, "", "item", read.data())
                    : QMXLreadOpaqueData(again, "", "item", read.data())) == 1 &&
              read == data,
          "the item does not read back");
    QMXLcloseFile(again);
    return check.failed();
}

constexpr Making kMakings[] = {
    {"BlobType", &Faults::opaqueType, &Faults::opaqueTypeCalls, false, 100,
     "cannot make the item type"},
    {"StringType", &Faults::stringType, &Faults::stringTypeCalls, true, 100,
     "cannot make the item type"},
    {"ChecksumSpace", &Faults::scalarSpace, &Faults::scalarSpaceCalls, false, 100, "cannot create"},
    {"CompactLayout", &Faults::compactLayout, &Faults::compactLayoutCalls, false, 100,
     "cannot create"},
};

class MadeOnce : public ::testing::TestWithParam<Making> {};

TEST_P(MadeOnce, FailedMakingFailsTheCallAndTheNextCallMakesIt) {
    EXPECT_EQ(inFreshChild([] { return failedMakingLeavesNothing(GetParam()); }), 0);
}

INSTANTIATE_TEST_SUITE_P(Kept, MadeOnce, ::testing::ValuesIn(kMakings),
                         [](const auto& info) { return std::string(info.param.name); });

// An update that lays the item out anew needs the type and the layout list too: when they
// cannot be made the old item stays as it was.
TEST(MadeOnceUpdate, FailedMakingKeepsTheOldItem) {
    EXPECT_EQ(inFreshChild([] {
                  Checks check;
                  TempDir dir;
                  const std::string path = dir.file("u.qmz");
                  const std::string old = pattern(50, 1), bigger = pattern(70, 2);
                  const int made = QMXLcreateFile(path.c_str());
                  check(made > 0 && QMXLcreateCompressedOpaqueData(made, "", "b", 0, 0, 50,
                                                                   old.data()) == 1,
                        "create: " + lastError());
                  check(QMXLcloseFile(made) >= 0, "close: " + lastError());
                  // The creation made the objects: a shutdown drops them, so the update makes
                  // them again.
                  H5close();
                  const int file = QMXLopenFile(path.c_str());
                  if (!check(file > 0, "reopen: " + lastError()))
                      return check.failed();
                  faults.opaqueType = true;
                  check(QMXLupdateOpaqueData(file, "", "b", 70, bigger.data()) < 0,
                        "the update without a type did not fail");
                  check(lastError().find("cannot make the item type") != std::string::npos,
                        "message: " + lastError());
                  faults.opaqueType = false;  // reads need the type too
                  check(readBlob(file, "", "b") == old, "the old item changed");
                  // The new layout of a small item needs the compact list.
                  faults.compactLayout = true;
                  check(QMXLupdateOpaqueData(file, "", "b", 70, bigger.data()) < 0,
                        "the update without a layout did not fail");
                  check(lastError().find("cannot update") != std::string::npos,
                        "message: " + lastError());
                  faults.compactLayout = false;
                  check(readBlob(file, "", "b") == old, "the old item changed");
                  check(QMXLverifyObject(file, "/b") == 1, "verify: " + lastError());
                  check(QMXLupdateOpaqueData(file, "", "b", 70, bigger.data()) == 1,
                        "the update after the faults: " + lastError());
                  check(readBlob(file, "", "b") == bigger, "the update is not there");
                  QMXLcloseFile(file);
                  return check.failed();
              }),
              0);
}

// ---- The checksum thread ---------------------------------------------------------------

std::vector<unsigned char> someBytes(size_t n) {
    std::vector<unsigned char> bytes(n);
    unsigned x = 12345;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<unsigned char>(x >> 16);
    }
    return bytes;
}

TEST(ChecksumThread, WhenItCannotStartTheCallerSumsInOrderAndALaterCallStartsIt) {
    EXPECT_EQ(
        runInChild(
            [] {
                Checks check;
                const auto bytes = someBytes((3u << 20) + 17);
                const std::uint32_t whole = crc32c::Extend(5, bytes.data(), bytes.size());
                faults.threads = true;
                const int tries = faults.threadCalls;
                {
                    ConcurrentCrc sum(5, ConcurrentCrc::Mode::Concurrent);
                    std::vector<std::thread::id> ran;
                    for (size_t at = 0; at < bytes.size(); at += 1u << 20) {
                        const size_t n = std::min<size_t>(bytes.size() - at, 1u << 20);
                        sum.add(
                            bytes.data() + at, n,
                            [&] { ran.push_back(std::this_thread::get_id()); },
                            [&] { ran.push_back(std::this_thread::get_id()); });
                    }
                    check(sum.value() == whole, "the sum differs from one sequential pass");
                    check(faults.threadCalls > tries, "no thread was asked for");
                    check(ran.size() == 8, "steps ran " + std::to_string(ran.size()) + " times");
                    for (const auto& id : ran)
                        check(id == std::this_thread::get_id(), "a step ran on another thread");
                }
                // The fault gone, the next range gets the thread.
                faults.threads = false;
                ConcurrentCrc sum(5, ConcurrentCrc::Mode::Concurrent);
                std::thread::id ran;
                sum.add(bytes.data(), bytes.size(), [&] { ran = std::this_thread::get_id(); }, {});
                check(sum.value() == whole, "the sum on the thread differs");
                check(ran != std::thread::id() && ran != std::this_thread::get_id(),
                      "the range was not summed on the checksum thread");
                return check.failed();
            },
            ChildEnd::QuickExit),
        0);
}

// The stored slice checksums of a large item written and read with the thread failing to
// start, as text.
int largeItemChecksum(bool threadFails, std::string& stored) {
    Checks check;
    ConcurrentCrc::setAutoWay(ConcurrentCrc::Mode::Concurrent);
    faults.threads = threadFails;
    TempDir dir;
    const std::string path = dir.file("large.qmz");
    const std::string data = pattern((5u << 20) + 3, 9);
    const int file = QMXLcreateFile(path.c_str());
    if (!check(file > 0, "create file: " + lastError()))
        return check.failed();
    check(QMXLcreateCompressedOpaqueData(file, "", "large", 0, 0,
                                         static_cast<long long>(data.size()), data.data()) == 1,
          "create: " + lastError());
    check(QMXLcloseFile(file) >= 0, "close: " + lastError());
    const int again = QMXLopenFileReadOnly(path.c_str());
    check(again > 0 && readBlob(again, "", "large") == data, "the item does not read back");
    check(QMXLverifyObject(again, "/large") == 1, "verify: " + lastError());
    QMXLcloseFile(again);
    check(!threadFails || faults.threadCalls > 0, "no thread was asked for");

    const std::vector<std::uint32_t> values = storedSlices(path, "/large");
    if (check(values.size() > 2, "no stored slice checksums"))
        for (std::uint32_t v : values)
            stored += std::to_string(v) + " ";
    return check.failed();
}

TEST(ChecksumThread, LargeItemsWithoutTheThreadStoreTheSameChecksum) {
    // Each way in its own child: the thread, once started, is kept by the process.
    std::string crcs[2];
    TempDir dir;
    for (int fails = 0; fails < 2; ++fails) {
        const std::string out = dir.file("crc" + std::to_string(fails));
        EXPECT_EQ(runInChild(
                      [&] {
                          std::string stored;
                          const int failed = largeItemChecksum(fails == 1, stored);
                          if (FILE* f = std::fopen(out.c_str(), "w")) {
                              std::fprintf(f, "%s", stored.c_str());
                              std::fclose(f);
                          }
                          return failed;
                      },
                      ChildEnd::QuickExit),
                  0)
            << (fails ? "thread failing" : "thread running");
        std::ifstream in(out);
        std::getline(in, crcs[fails]);
    }
    EXPECT_FALSE(crcs[0].empty());
    EXPECT_EQ(crcs[0], crcs[1]);
}

}  // namespace
}  // namespace Quellmar::testing
