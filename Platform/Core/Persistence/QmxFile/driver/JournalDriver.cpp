#include "JournalDriver.h"

#include "JournalControl.h"
#include "JournaledFile.h"

#include <H5FDpublic.h>
#include <H5FDsec2.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>
#include <utility>
#include <sys/types.h>
#include <unordered_map>

namespace Quellmar::qmxfile {
namespace {

std::atomic<hid_t> s_driverId{H5I_INVALID_HID};
std::mutex s_registerLock;
thread_local int t_keeping = 0;               // KeepFailures scopes open on this thread
thread_local bool t_commitRequested = false;  // commitFileNow is flushing
thread_local std::string t_keptFailure;

// Open files by the handle HDF5 hands out for them, for readers of the stored metadata.
std::mutex s_openLock;
std::unordered_map<const void*, JournaledFile*>& openFiles() {
    static auto* files = new std::unordered_map<const void*, JournaledFile*>;
    return *files;
}

// The largest address an off_t can reach, as for sec2.
constexpr haddr_t kMaxAddress = (static_cast<haddr_t>(1) << (8 * sizeof(off_t) - 1)) - 1;

// What HDF5 holds for an open file: its public part first, then ours.
struct DriverFile {
    H5FD_t pub;
    JournaledFile* file;
    haddr_t eoa;
    bool lostWrites;  // a failure was kept from HDF5 during a close: never commit
};

JournaledFile& impl(const H5FD_t* f) {
    return *reinterpret_cast<const DriverFile*>(f)->file;
}
DriverFile& outer(H5FD_t* f) {
    return *reinterpret_cast<DriverFile*>(f);
}

void report(const char* function, hid_t minor, const std::string& message) {
    setLastJournalError(message);
    H5Epush2(H5E_DEFAULT, __FILE__, function, __LINE__, H5E_ERR_CLS, H5E_VFL, minor, "%s",
             message.c_str());
}

bool overflows(haddr_t addr, size_t size, haddr_t eoa) {
    return addr == HADDR_UNDEF || addr > kMaxAddress || size > kMaxAddress - addr ||
           addr + size > eoa;
}

unsigned openFlags(unsigned flags) {
    return ((flags & H5F_ACC_RDWR) ? kOpenReadWrite : 0u) |
           ((flags & H5F_ACC_TRUNC) ? kOpenTruncate : 0u) |
           ((flags & H5F_ACC_EXCL) ? kOpenExclusive : 0u) |
           ((flags & H5F_ACC_CREAT) ? kOpenCreate : 0u);
}

H5FD_t* driverOpen(const char* name, unsigned flags, hid_t, haddr_t maxaddr) {
    if (!name || !*name) {
        report(__func__, H5E_BADVALUE, "invalid file name");
        return nullptr;
    }
    if (maxaddr == 0 || maxaddr == HADDR_UNDEF || maxaddr > kMaxAddress) {
        report(__func__, H5E_BADRANGE, "bogus maximum address");
        return nullptr;
    }
    try {
        std::string error;
        std::unique_ptr<JournaledFile> file = JournaledFile::open(name, openFlags(flags), error);
        if (!file) {
            report(__func__, H5E_CANTOPENFILE, error);
            return nullptr;
        }
        auto* result = new DriverFile{};
        {
            std::lock_guard<std::mutex> guard(s_openLock);
            openFiles()[file->descriptor()] = file.get();
        }
        result->file = file.release();
        result->eoa = 0;
        result->lostWrites = false;
        setLastJournalError("");
        return &result->pub;
    } catch (const std::bad_alloc&) {
        report(__func__, H5E_CANTALLOC, "out of memory opening a file");
        return nullptr;
    }
}

// A failure while the file is being flushed or closed is kept for the caller, not given to HDF5.
herr_t failOrRecord(H5FD_t* f, const char* function, hid_t minor, const std::string& message) {
    if (t_keeping > 0) {
        outer(f).lostWrites = true;
        if (t_keptFailure.empty())
            t_keptFailure = message;
        return 0;
    }
    report(function, minor, message);
    return -1;
}

herr_t driverClose(H5FD_t* f) {
    DriverFile* d = &outer(f);
    if (d->lostWrites) {
        // Left uncommitted: the journal in place rolls the session back at the next open.
        if (t_keptFailure.empty())
            t_keptFailure = "an earlier write to the file failed";
        setLastJournalError(t_keptFailure);
    } else if (!d->file->commit()) {
        t_keptFailure = d->file->error();
        setLastJournalError(t_keptFailure);
    } else {
        d->file->keepRemembered();
    }
    {
        std::lock_guard<std::mutex> guard(s_openLock);
        openFiles().erase(d->file->descriptor());
    }
    delete d->file;
    delete d;
    // Success even when the commit failed: the state is gone, and HDF5 would close it again.
    return 0;
}

int driverCompare(const H5FD_t* a, const H5FD_t* b) {
    const JournaledFile& x = impl(a);
    const JournaledFile& y = impl(b);
    if (x.device() != y.device())
        return x.device() < y.device() ? -1 : 1;
    if (x.inode() != y.inode())
        return x.inode() < y.inode() ? -1 : 1;
    return 0;
}

herr_t driverQuery(const H5FD_t*, unsigned long* flags) {
    // Not POSIX_COMPAT_HANDLE: writes past the driver would bypass the journal.
    if (flags) {
        *flags = H5FD_FEAT_AGGREGATE_METADATA | H5FD_FEAT_ACCUMULATE_METADATA |
                 H5FD_FEAT_DATA_SIEVE | H5FD_FEAT_AGGREGATE_SMALLDATA;
    }
    return 0;
}

haddr_t driverGetEoa(const H5FD_t* f, H5FD_mem_t) {
    return reinterpret_cast<const DriverFile*>(f)->eoa;
}

herr_t driverSetEoa(H5FD_t* f, H5FD_mem_t, haddr_t addr) {
    outer(f).eoa = addr;
    return 0;
}

haddr_t driverGetEof(const H5FD_t* f, H5FD_mem_t) {
    return impl(f).eof();
}

herr_t driverGetHandle(H5FD_t* f, hid_t, void** handle) {
    if (!handle) {
        report(__func__, H5E_BADVALUE, "file handle not valid");
        return -1;
    }
    *handle = outer(f).file->descriptor();
    return 0;
}

herr_t driverRead(H5FD_t* f, H5FD_mem_t, hid_t, haddr_t addr, size_t size, void* buffer) {
    if (overflows(addr, size, outer(f).eoa)) {
        report(__func__, H5E_OVERFLOW, "address overflow reading the file");
        return -1;
    }
    try {
        if (outer(f).file->read(addr, size, buffer))
            return 0;
        report(__func__, H5E_READERROR, outer(f).file->error());
    } catch (const std::bad_alloc&) {
        report(__func__, H5E_CANTALLOC, "out of memory reading the file");
    }
    return -1;
}

herr_t driverWrite(H5FD_t* f, H5FD_mem_t, hid_t, haddr_t addr, size_t size, const void* buffer) {
    if (overflows(addr, size, outer(f).eoa)) {
        report(__func__, H5E_OVERFLOW, "address overflow writing the file");
        return -1;
    }
    try {
        if (outer(f).file->write(addr, size, buffer))
            return 0;
        return failOrRecord(f, __func__, H5E_WRITEERROR, outer(f).file->error());
    } catch (const std::bad_alloc&) {
        return failOrRecord(f, __func__, H5E_CANTALLOC, "out of memory writing the file");
    }
}

herr_t driverFlush(H5FD_t* f, hid_t, hbool_t) {
    try {
        const bool commit = std::exchange(t_commitRequested, false);
        if (commit && outer(f).lostWrites)
            return failOrRecord(f, __func__, H5E_WRITEERROR, "an earlier write to the file failed");
        if (commit ? outer(f).file->commit() : outer(f).file->flush())
            return 0;
        return failOrRecord(f, __func__, H5E_WRITEERROR, outer(f).file->error());
    } catch (const std::bad_alloc&) {
        return failOrRecord(f, __func__, H5E_CANTALLOC, "out of memory flushing the file");
    }
}

herr_t driverTruncate(H5FD_t* f, hid_t, hbool_t) {
    DriverFile& d = outer(f);
    if (d.eoa == d.file->eof())
        return 0;
    try {
        if (d.file->truncate(d.eoa))
            return 0;
        return failOrRecord(f, __func__, H5E_SEEKERROR, d.file->error());
    } catch (const std::bad_alloc&) {
        return failOrRecord(f, __func__, H5E_CANTALLOC, "out of memory truncating the file");
    }
}

herr_t driverLock(H5FD_t* f, hbool_t rw) {
    if (outer(f).file->lock(rw != 0))
        return 0;
    report(__func__, H5E_CANTLOCKFILE, outer(f).file->error());
    return -1;
}

herr_t driverUnlock(H5FD_t* f) {
    if (outer(f).file->unlock())
        return 0;
    report(__func__, H5E_CANTUNLOCKFILE, outer(f).file->error());
    return -1;
}

herr_t driverTerminate() {
    s_driverId = H5I_INVALID_HID;
    return 0;
}

H5FD_class_t makeClass() {
    H5FD_class_t c{};
    c.name = "qmx_journal";
    c.maxaddr = kMaxAddress;
    c.fc_degree = H5F_CLOSE_WEAK;
    c.terminate = driverTerminate;
    c.open = driverOpen;
    c.close = driverClose;
    c.cmp = driverCompare;
    c.query = driverQuery;
    c.get_eoa = driverGetEoa;
    c.set_eoa = driverSetEoa;
    c.get_eof = driverGetEof;
    c.get_handle = driverGetHandle;
    c.read = driverRead;
    c.write = driverWrite;
    c.flush = driverFlush;
    c.truncate = driverTruncate;
    c.lock = driverLock;
    c.unlock = driverUnlock;
    const H5FD_mem_t map[] = H5FD_FLMAP_DICHOTOMY;
    for (int i = 0; i < H5FD_MEM_NTYPES; ++i)
        c.fl_map[i] = map[i];
    return c;
}

const H5FD_class_t s_class = makeClass();

}  // namespace

hid_t journalDriverId() {
    std::lock_guard<std::mutex> guard(s_registerLock);
    hid_t id = s_driverId.load();
    if (id < 0 || H5Iis_valid(id) <= 0) {
        id = H5FDregister(&s_class);
        s_driverId = id;
    }
    return id;
}

herr_t setContainerDriver(hid_t fapl) {
    if (!journalEnabled())
        return H5Pset_fapl_sec2(fapl);
    const hid_t id = journalDriverId();
    if (id < 0)
        return -1;
    return H5Pset_driver(fapl, id, nullptr);
}

bool commitFileNow(hid_t file, std::string& error) {
    unsigned intent = 0;
    if (H5Fget_intent(file, &intent) < 0) {
        error = "cannot tell how the file is open";
        return false;
    }
    if ((intent & H5F_ACC_RDWR) == 0)
        return true;
    // HDF5's flush writes its metadata and then flushes the driver, which commits on request.
    herr_t flushed;
    {
        const KeepFailures keep;
        takeKeptFailure();
        t_commitRequested = true;
        flushed = H5Fflush(file, H5F_SCOPE_LOCAL);
        t_commitRequested = false;
    }
    error = takeKeptFailure();
    if (flushed < 0 && error.empty())
        error = "HDF5 could not flush the file";
    return error.empty();
}

KeepFailures::KeepFailures() {
    ++t_keeping;
}
KeepFailures::~KeepFailures() {
    --t_keeping;
}

std::string takeKeptFailure() {
    return std::exchange(t_keptFailure, std::string());
}

bool readJournaled(const void* handle, std::uint64_t addr, std::size_t size, void* out,
                  std::string* error) {
    std::lock_guard<std::mutex> guard(s_openLock);
    const auto found = openFiles().find(handle);
    if (found != openFiles().end() && found->second->read(addr, size, out))
        return true;
    if (error)
        *error = found != openFiles().end() ? found->second->error() : "the file is not open";
    return false;
}

std::shared_ptr<void> rememberedOf(const void* handle, const std::shared_ptr<void>& otherwise) {
    std::lock_guard<std::mutex> guard(s_openLock);
    const auto found = openFiles().find(handle);
    if (found == openFiles().end())
        return otherwise;
    std::shared_ptr<void>& slot = found->second->remembered();
    if (!slot)
        slot = otherwise;
    return slot;
}

std::string journaledFailure(const void* handle) {
    std::lock_guard<std::mutex> guard(s_openLock);
    const auto found = openFiles().find(handle);
    return found == openFiles().end() ? std::string() : found->second->failure();
}

std::uint64_t journaledLength(const void* handle) {
    std::lock_guard<std::mutex> guard(s_openLock);
    const auto found = openFiles().find(handle);
    return found == openFiles().end() ? 0 : found->second->eof();
}

}  // namespace Quellmar::qmxfile
