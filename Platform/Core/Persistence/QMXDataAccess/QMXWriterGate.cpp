#include "QMXWriterGate.h"

#include "DAOExceptions.h"

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace Quellmar {

namespace {

struct Holder {
    std::thread::id thread;
    int depth = 0;
};

std::mutex s_gateLock;
std::condition_variable s_gateOpened;
std::map<std::string, Holder> s_holders;
std::atomic<long long> s_waitMs{5000};

}  // namespace

void QMXWriterGate::setWaitLimit(std::chrono::milliseconds limit) {
    s_waitMs = limit.count() < 0 ? 0 : limit.count();
}

std::chrono::milliseconds QMXWriterGate::waitLimit() {
    return std::chrono::milliseconds(s_waitMs.load());
}

std::string QMXWriterGate::keyOf(const std::string& fileName) {
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0)
        return "name:" + fileName;
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

void QMXWriterGate::enter(const std::string& key, const std::string& fileName) {
    const std::thread::id self = std::this_thread::get_id();
    const std::chrono::milliseconds limit = waitLimit();
    std::unique_lock<std::mutex> guard(s_gateLock);
    const auto free = [&] {
        auto found = s_holders.find(key);
        return found == s_holders.end() || found->second.thread == self;
    };
    if (!s_gateOpened.wait_for(guard, limit, free))
        throw DataSourceException(
            "File " + fileName +
            " is being written by another unit of work in this process; gave up after " +
            std::to_string(limit.count()) + " ms");
    Holder& holder = s_holders[key];
    holder.thread = self;
    ++holder.depth;
}

void QMXWriterGate::leave(const std::string& key) {
    {
        std::lock_guard<std::mutex> guard(s_gateLock);
        auto found = s_holders.find(key);
        // Not checked against the calling thread: a unit may end on another thread than the one
        // that began it, and the storage leaves only what it entered.
        if (found == s_holders.end())
            return;
        if (--found->second.depth > 0)
            return;
        s_holders.erase(found);
    }
    s_gateOpened.notify_all();
}

}  // namespace Quellmar
