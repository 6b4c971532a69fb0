// A file layer for tests that counts the journaled driver's system calls and makes one of them
// fail: the n-th call only, or the n-th and every later one (a disk that stays full or broken).
#ifndef QUELLMAR_TESTING_FAILINGFILEOPS_H
#define QUELLMAR_TESTING_FAILINGFILEOPS_H

#include "FileOps.h"

#include <atomic>
#include <cstddef>
#include <string>

namespace Quellmar::testing {

class FailingFileOps final : public qmxfile::FileOps {
public:
    // failAt counts from 1; 0 fails nothing (a counting run).
    FailingFileOps(std::size_t failAt, int error, bool sticky)
        : m_failAt(failAt), m_error(error), m_sticky(sticky) {}

    std::size_t calls() const { return m_calls; }
    std::size_t failures() const { return m_failures; }
    // Name of the first call that was made to fail, empty when none was.
    const std::string& failedCall() const { return m_failedCall; }

    int open(const char* path, int flags, mode_t mode) override;
    int close(int fd) override;
    ssize_t pread(int fd, void* buffer, size_t size, off_t offset) override;
    ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) override;
    int fdatasync(int fd) override;
    int fsync(int fd) override;
    int ftruncate(int fd, off_t length) override;
    int flock(int fd, int operation) override;
    int fstat(int fd, struct stat* st) override;
    int stat(const char* path, struct stat* st) override;
    int unlink(const char* path) override;
    int rename(const char* from, const char* to) override;

private:
    // True when this call is to fail; errno is then set.
    bool failNow(const char* name);

    std::size_t m_failAt;
    int m_error;
    bool m_sticky;
    std::atomic<std::size_t> m_calls{0};
    std::atomic<std::size_t> m_failures{0};
    std::string m_failedCall;
};

// Puts a file layer in force for one scope; the real calls come back at its end.
class ScopedFileOps {
public:
    explicit ScopedFileOps(qmxfile::FileOps& ops) { qmxfile::setFileOps(&ops); }
    ~ScopedFileOps() { qmxfile::setFileOps(nullptr); }
    ScopedFileOps(const ScopedFileOps&) = delete;
    ScopedFileOps& operator=(const ScopedFileOps&) = delete;
};

}  // namespace Quellmar::testing

#endif
