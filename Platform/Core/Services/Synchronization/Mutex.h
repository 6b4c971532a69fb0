#ifndef QUELLMAR_MUTEX_H
#define QUELLMAR_MUTEX_H

#include <mutex>

namespace Quellmar::synchronization {

// A mutex that is recursive or not, chosen at construction.
class Mutex {
public:
    explicit Mutex(bool recursive) : m_recursive(recursive) {}
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() {
        if (m_recursive)
            m_rmutex.lock();
        else
            m_mutex.lock();
    }
    void unlock() {
        if (m_recursive)
            m_rmutex.unlock();
        else
            m_mutex.unlock();
    }
    bool tryLock() { return m_recursive ? m_rmutex.try_lock() : m_mutex.try_lock(); }
    bool isRecursive() const { return m_recursive; }

private:
    const bool m_recursive;
    std::mutex m_mutex;
    std::recursive_mutex m_rmutex;
};

// Holds a Mutex for the lifetime of the scope.
class ScopedLock {
public:
    explicit ScopedLock(Mutex& mutex) : m_mutex(mutex) { m_mutex.lock(); }
    ~ScopedLock() { m_mutex.unlock(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    Mutex& m_mutex;
};

}  // namespace Quellmar::synchronization

#endif
