#ifndef QUELLMAR_MUTEX_H
#define QUELLMAR_MUTEX_H

#include <mutex>

namespace Quellmar::synchronization {

/// A mutex that is recursive or not, chosen at construction.
class Mutex {
public:
    /// A recursive mutex (the owning thread may lock it again) or a plain one.
    explicit Mutex(bool recursive) : m_recursive(recursive) {}
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    ///@}

    /// Blocks until the calling thread holds the mutex.
    void lock() {
        if (m_recursive)
            m_rmutex.lock();
        else
            m_mutex.lock();
    }
    /// Releases one hold of the calling thread.
    void unlock() {
        if (m_recursive)
            m_rmutex.unlock();
        else
            m_mutex.unlock();
    }
    /// Takes the mutex if it is free (or, recursive, held by this thread); false otherwise.
    bool tryLock() { return m_recursive ? m_rmutex.try_lock() : m_mutex.try_lock(); }
    /// Whether the mutex was made recursive.
    bool isRecursive() const { return m_recursive; }

private:
    const bool m_recursive;
    std::mutex m_mutex;
    std::recursive_mutex m_rmutex;
};

/// Holds a Mutex for the lifetime of the scope.
class ScopedLock {
public:
    /// Locks `mutex`; the destructor unlocks it.
    explicit ScopedLock(Mutex& mutex) : m_mutex(mutex) { m_mutex.lock(); }
    ~ScopedLock() { m_mutex.unlock(); }
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;
    ///@}

private:
    Mutex& m_mutex;
};

}  // namespace Quellmar::synchronization

#endif
