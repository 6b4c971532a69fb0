// Failures the file library seldom gives on demand, injected by interposing its functions in
// this executable: each interposer forwards to the real function, with a file handle of -1
// when told to fail, so the failure and its last error message are the library's own.
#include "BlobHost.h"
#include "DAOExceptions.h"
#include "QMXBlobDAO.h"
#include "QMXL.h"
#include "TempDir.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

namespace {

struct Faults {
    bool libraryVersion = false;
    bool read = false;
    int libraryVersionCalls = 0;
    int updateVersionCalls = 0;
    int readCalls = 0;
};
Faults faults;

template <class F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int QMXLgetQMVersionOfLibraryByFileHandle(int file, int* version) {
    static const auto real = next<int (*)(int, int*)>("QMXLgetQMVersionOfLibraryByFileHandle");
    ++faults.libraryVersionCalls;
    return real(faults.libraryVersion ? -1 : file, version);
}

extern "C" int QMXLupdateQMVersionOfFile(int file, int version) {
    static const auto real = next<int (*)(int, int)>("QMXLupdateQMVersionOfFile");
    ++faults.updateVersionCalls;
    return real(file, version);
}

extern "C" int QMXLreadOpaqueData(int file, const char* group, const char* name, char* buffer) {
    static const auto real =
        next<int (*)(int, const char*, const char*, char*)>("QMXLreadOpaqueData");
    ++faults.readCalls;
    return real(faults.read ? -1 : file, group, name, buffer);
}

namespace Quellmar {
namespace {

using testing::Bytes;
using testing::Session;
using testing::TempDir;
using testing::transfer;

class BlobFaults : public ::testing::Test {
protected:
    void SetUp() override {
        faults = Faults{};
        session.bind(dao);
    }
    void TearDown() override { faults = Faults{}; }

    TempDir dir;
    Session session{dir.file("faults.qmz")};
    QMXBlobDAO dao;
};

TEST_F(BlobFaults, NoVersionIsWrittenWhenTheLibraryVersionIsUnknown) {
    int before = -1;
    ASSERT_TRUE(dao.getQMVersion(before));
    faults.libraryVersion = true;
    int library = 12345;
    EXPECT_FALSE(dao.getQMVersionOfLibrary(library));
    EXPECT_FALSE(dao.updateQMVersionToCurrent());
    EXPECT_EQ(faults.libraryVersionCalls, 2);  // the interposers are really in the path
    EXPECT_EQ(faults.updateVersionCalls, 0);
    faults.libraryVersion = false;
    int after = -1;
    ASSERT_TRUE(dao.getQMVersion(after));
    EXPECT_EQ(after, before);
    EXPECT_TRUE(dao.updateQMVersionToCurrent());
    EXPECT_EQ(faults.updateVersionCalls, 1);
}

TEST_F(BlobFaults, FailedReadKeepsTheNewBufferFromTheTransferObject) {
    dao.create("", "o", transfer({1, 2, 3}));
    faults.read = true;
    SerializationTransferObject none;
    try {
        dao.read("", "o", none);
        ADD_FAILURE() << "read did not throw";
    } catch (const DataAccessViolationException& e) {
        EXPECT_FALSE(std::string(e.what()).empty());
        EXPECT_EQ(e.what(), QMXBaseDAO::getLastErrorMessage());
    }
    EXPECT_EQ(faults.readCalls, 1);
    EXPECT_FALSE(none.getBuffer());

    // A vector already held is sized for the read but stays the caller's.
    auto held = std::make_shared<Bytes>(Bytes{9});
    SerializationTransferObject some(held);
    EXPECT_THROW(dao.read("", "o", some), DataAccessViolationException);
    EXPECT_EQ(some.getBuffer(), held);
    EXPECT_EQ(held->size(), 3u);

    faults.read = false;
    dao.read("", "o", some);
    EXPECT_EQ(*held, (Bytes{1, 2, 3}));
}

}  // namespace
}  // namespace Quellmar
