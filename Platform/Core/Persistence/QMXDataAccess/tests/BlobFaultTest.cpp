// Failures the file library seldom gives on demand, injected by interposing its functions in
// this executable: each interposer forwards to the real function, with a file handle of -1
// when told to fail, so the failure and its last error message are the library's own. The
// HDF5 calls that make the blob type and the checksum attributes' space are interposed the
// same way, with an argument HDF5 refuses.
#include "BlobHost.h"
#include "ChildProcess.h"
#include "DAOExceptions.h"
#include "QMXBlobDAO.h"
#include "QMXL.h"
#include "TempDir.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <hdf5.h>

namespace {

struct Faults {
    bool libraryVersion = false;
    bool read = false;
    bool blobType = false;
    bool scalarSpace = false;
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

extern "C" hid_t H5Tcreate(H5T_class_t type, size_t size) {
    static const auto real = next<hid_t (*)(H5T_class_t, size_t)>("H5Tcreate");
    return real(type == H5T_OPAQUE && faults.blobType ? H5T_NO_CLASS : type, size);
}

extern "C" hid_t H5Screate(H5S_class_t type) {
    static const auto real = next<hid_t (*)(H5S_class_t)>("H5Screate");
    return real(type == H5S_SCALAR && faults.scalarSpace ? H5S_NO_CLASS : type);
}

namespace Quellmar {
namespace {

using namespace testing;

class BlobFaults : public ::testing::Test {
protected:
    void SetUp() override { faults = Faults{}; }
    void TearDown() override { faults = Faults{}; }

    TempDir dir;
    Session session{dir.file("faults.qmz")};
    QMXBlobDAO& dao = session.blobs;
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

// The blob type and the checksum space are made once per process; a child that shuts HDF5
// down first makes them again, so their making can be failed. The host sees an exception with
// the library's message, no blob is left, and the same creation succeeds once the fault is gone.
TEST(BlobMadeOnce, FailedMakingIsAnExceptionAndTheNextCreateSucceeds) {
    for (bool Faults::*fault : {&Faults::blobType, &Faults::scalarSpace}) {
        const int failed = testing::runInChild(
            [fault] {
                const auto shutDown = next<herr_t (*)()>("H5close");
                if (!shutDown || shutDown() < 0)
                    return 90;
                TempDir dir;
                const std::string file = dir.file("made.qmz");
                int wrong = 0;
                {
                    Session s(file);
                    faults.*fault = true;
                    try {
                        s.blobs.create("", "b", transfer({1, 2, 3}));
                        wrong |= 1;
                    } catch (const DataAccessViolationException& e) {
                        if (std::string(e.what()).find("cannot") == std::string::npos ||
                            e.what() != QMXBaseDAO::getLastErrorMessage())
                            wrong |= 2;
                    }
                    if (s.blobs.exists("", "b"))
                        wrong |= 4;
                    faults.*fault = false;
                    s.blobs.create("", "b", transfer({1, 2, 3}));
                    s.stack->commit();
                }
                Session s(file, UserContext::ReadOnly);
                SerializationTransferObject back;
                s.blobs.read("", "b", back);
                if (!back.getBuffer() || *back.getBuffer() != Bytes{1, 2, 3})
                    wrong |= 8;
                return wrong;
            },
            testing::ChildEnd::QuickExit);
        EXPECT_EQ(failed, 0) << (fault == &Faults::blobType ? "blob type" : "checksum space")
                             << ": 1 no exception, 2 wrong message, 4 blob left, 8 not read back";
    }
}

}  // namespace
}  // namespace Quellmar
