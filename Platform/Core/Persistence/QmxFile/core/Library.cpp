#include "Library.h"

#include "HandleTable.h"
#include "JournalControl.h"

#include <hdf5.h>

#include <atomic>
#include <string_view>

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

#ifdef QMX_HDF5_PLUGIN_DIR
// HDF5_PLUGIN_PATH replaces HDF5's plugin directory; the distribution's filter plugins stay in
// reach whatever it names.
void addPluginDirectory(const char* directory) {
    unsigned count = 0;
    if (H5PLsize(&count) < 0)
        return;
    for (unsigned i = 0; i < count; ++i) {
        char path[4096] = {};
        if (H5PLget(i, path, sizeof path) > 0 && std::string_view(path) == directory)
            return;
    }
    H5PLappend(directory);
}
#endif

}  // namespace

std::recursive_mutex& libraryMutex() {
    static auto* mutex = new std::recursive_mutex;
    return *mutex;
}

void ensureInitialised() {
    if (g_initialised)
        return;
    g_initialised = true;
    H5open();
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
#ifdef QMX_HDF5_PLUGIN_DIR
    addPluginDirectory(QMX_HDF5_PLUGIN_DIR);
#endif
}

void releaseAtExit(void (*release)()) {
    g_exitRelease = release;
}

void beginProcessExit() {
    std::lock_guard lock(libraryMutex());
    if (g_exiting)
        return;
    // What a call kept open would keep its file from closing, and so from being written.
    if (g_exitRelease)
        g_exitRelease();
    g_exiting = true;
    HandleTable::instance().closeAll();
}

bool isExiting() {
    return g_exiting;
}
// One switch: the journal's syncs are what flushing buys.
bool flushingEnabled() {
    return journalSync();
}
void setFlushing(bool on) {
    setJournalSync(on);
}

}  // namespace Quellmar::qmxfile
