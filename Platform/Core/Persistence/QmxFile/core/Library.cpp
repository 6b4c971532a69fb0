#include "Library.h"

#include "HandleTable.h"
#include "JournalControl.h"

#include <hdf5.h>

#include <atomic>

namespace Quellmar::qmxfile {

namespace {

std::atomic<bool> g_exiting{false};
bool g_initialised = false;
void (*g_exitRelease)() = nullptr;

// Constructed when the library is loaded. Its destructor runs when the library is
// finalised at exit, before HDF5 (which this library depends on) shuts down.
struct ExitGuard {
    ExitGuard() {
        std::lock_guard lock(libraryMutex());
        ensureInitialised();
    }
    ~ExitGuard() { beginProcessExit(); }
} g_exitGuard;

}  // namespace

std::recursive_mutex& libraryMutex() {
    static auto* mutex = new std::recursive_mutex;
    return *mutex;
}

void ensureInitialised() {
    if (g_initialised) return;
    g_initialised = true;
    H5open();
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

void releaseAtExit(void (*release)()) { g_exitRelease = release; }

void beginProcessExit() {
    std::lock_guard lock(libraryMutex());
    if (g_exiting) return;
    // What a call kept open would keep its file from closing, and so from being written.
    if (g_exitRelease) g_exitRelease();
    g_exiting = true;
    HandleTable::instance().closeAll();
}

bool isExiting() { return g_exiting; }
// One switch: the journal's syncs are what flushing buys.
bool flushingEnabled() { return journalSync(); }
void setFlushing(bool on) { setJournalSync(on); }

}  // namespace Quellmar::qmxfile
