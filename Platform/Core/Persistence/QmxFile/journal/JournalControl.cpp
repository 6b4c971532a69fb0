#include "JournalControl.h"

#include <atomic>

namespace Quellmar::qmxfile {

namespace {

std::atomic<bool> s_enabled{true};
std::atomic<bool> s_sync{true};
thread_local std::string t_lastError;

}  // namespace

void setJournalEnabled(bool on) {
    s_enabled = on;
}
bool journalEnabled() {
    return s_enabled;
}
std::string lastJournalError() {
    return t_lastError;
}
void setLastJournalError(const std::string& message) {
    t_lastError = message;
}
bool journalSync() {
    return s_sync;
}
void setJournalSync(bool on) {
    s_sync = on;
}

}  // namespace Quellmar::qmxfile
