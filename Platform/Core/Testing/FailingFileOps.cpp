#include "FailingFileOps.h"

#include <cerrno>

namespace Quellmar::testing {

namespace {
qmxfile::FileOps& real() {
    return qmxfile::posixFileOps();
}
}  // namespace

bool FailingFileOps::failNow(const char* name) {
    const std::size_t call = ++m_calls;
    if (m_failAt == 0 || call < m_failAt || (!m_sticky && call != m_failAt))
        return false;
    if (m_failures++ == 0)
        m_failedCall = name;
    errno = m_error;
    return true;
}

int FailingFileOps::open(const char* path, int flags, mode_t mode) {
    return failNow("open") ? -1 : real().open(path, flags, mode);
}

int FailingFileOps::close(int fd) {
    // Linux releases the descriptor even when close reports an error.
    const int rc = real().close(fd);
    if (failNow("close"))
        return -1;
    return rc;
}

ssize_t FailingFileOps::pread(int fd, void* buffer, size_t size, off_t offset) {
    return failNow("pread") ? -1 : real().pread(fd, buffer, size, offset);
}

ssize_t FailingFileOps::pwrite(int fd, const void* buffer, size_t size, off_t offset) {
    return failNow("pwrite") ? -1 : real().pwrite(fd, buffer, size, offset);
}

int FailingFileOps::fdatasync(int fd) {
    return failNow("fdatasync") ? -1 : real().fdatasync(fd);
}
int FailingFileOps::fsync(int fd) {
    return failNow("fsync") ? -1 : real().fsync(fd);
}

int FailingFileOps::ftruncate(int fd, off_t length) {
    return failNow("ftruncate") ? -1 : real().ftruncate(fd, length);
}

int FailingFileOps::flock(int fd, int operation) {
    return failNow("flock") ? -1 : real().flock(fd, operation);
}

int FailingFileOps::fstat(int fd, struct stat* st) {
    return failNow("fstat") ? -1 : real().fstat(fd, st);
}

int FailingFileOps::stat(const char* path, struct stat* st) {
    return failNow("stat") ? -1 : real().stat(path, st);
}

int FailingFileOps::unlink(const char* path) {
    return failNow("unlink") ? -1 : real().unlink(path);
}

int FailingFileOps::rename(const char* from, const char* to) {
    return failNow("rename") ? -1 : real().rename(from, to);
}

}  // namespace Quellmar::testing
