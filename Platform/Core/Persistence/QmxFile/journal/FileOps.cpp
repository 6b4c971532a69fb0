#include "FileOps.h"

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace Quellmar::qmxfile {
namespace {

class PosixFileOps final : public FileOps {
public:
    int open(const char* path, int flags, mode_t mode) override {
        return ::open(path, flags, mode);
    }
    int close(int fd) override { return ::close(fd); }
    ssize_t pread(int fd, void* buffer, size_t size, off_t offset) override {
        return ::pread(fd, buffer, size, offset);
    }
    ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) override {
        return ::pwrite(fd, buffer, size, offset);
    }
    int fdatasync(int fd) override { return ::fdatasync(fd); }
    int fsync(int fd) override { return ::fsync(fd); }
    int ftruncate(int fd, off_t length) override { return ::ftruncate(fd, length); }
    int flock(int fd, int operation) override { return ::flock(fd, operation); }
    int fstat(int fd, struct stat* st) override { return ::fstat(fd, st); }
    int stat(const char* path, struct stat* st) override { return ::stat(path, st); }
    int unlink(const char* path) override { return ::unlink(path); }
    int rename(const char* from, const char* to) override { return std::rename(from, to); }
};

PosixFileOps s_posix;
std::atomic<FileOps*> s_current{&s_posix};
std::atomic<unsigned long> s_generation{0};

}  // namespace

FileOps& posixFileOps() {
    return s_posix;
}
FileOps& fileOps() {
    return *s_current.load(std::memory_order_acquire);
}
void setFileOps(FileOps* ops) {
    s_current.store(ops ? ops : &s_posix, std::memory_order_release);
    ++s_generation;
}

unsigned long fileOpsGeneration() {
    return s_generation.load();
}

}  // namespace Quellmar::qmxfile
