#ifndef QUELLMAR_QMXFILE_FILEOPS_H
#define QUELLMAR_QMXFILE_FILEOPS_H

// The system calls of the journaled driver, behind one small interface. The library always uses
// the real POSIX calls; a test puts its own layer in place to record, drop or fail them (a
// simulated power loss, a full disk, an I/O error). Every call has the POSIX contract: a result
// of -1 with errno set on failure.

#include <sys/stat.h>
#include <sys/types.h>

namespace Quellmar::qmxfile {

class FileOps {
public:
    virtual ~FileOps() = default;
    virtual int open(const char* path, int flags, mode_t mode = 0) = 0;
    virtual int close(int fd) = 0;
    virtual ssize_t pread(int fd, void* buffer, size_t size, off_t offset) = 0;
    virtual ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) = 0;
    virtual int fdatasync(int fd) = 0;
    // Also the directory sync: fsync of a descriptor opened with O_DIRECTORY.
    virtual int fsync(int fd) = 0;
    virtual int ftruncate(int fd, off_t length) = 0;
    virtual int flock(int fd, int operation) = 0;
    virtual int fstat(int fd, struct stat* st) = 0;
    virtual int stat(const char* path, struct stat* st) = 0;
    virtual int unlink(const char* path) = 0;
    virtual int rename(const char* from, const char* to) = 0;
};

// The real calls.
FileOps& posixFileOps();

// The calls in force: the real ones unless a test set its own.
FileOps& fileOps();

// For tests: every later call goes to ops; nullptr puts the real calls back. The caller keeps
// ops alive while it is in force and swaps only while no file is open through the driver.
void setFileOps(FileOps* ops);

// Changes with every setFileOps: what was learnt about files through one layer (their states,
// how their times behave) may not hold through the next.
unsigned long fileOpsGeneration();

}  // namespace Quellmar::qmxfile

#endif
