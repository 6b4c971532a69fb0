#include "PosixFile.h"

#include "FileOps.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Quellmar::qmxfile {

bool UniqueFd::reset() {
    if (m_fd < 0)
        return true;
    // Linux releases the descriptor even when close() fails, so it is never retried.
    const int rc = fileOps().close(std::exchange(m_fd, -1));
    return rc == 0 || errno == EINTR;
}

bool readFully(int fd, void* buffer, size_t size, off_t offset, size_t* got) {
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < size) {
        const ssize_t n =
            fileOps().pread(fd, out + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;  // end of file
        done += static_cast<size_t>(n);
    }
    if (got)
        *got = done;
    return true;
}

bool writeFully(int fd, const void* buffer, size_t size, off_t offset) {
    const auto* in = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < size) {
        const ssize_t n =
            fileOps().pwrite(fd, in + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool tryLock(int fd, bool exclusive) {
    for (;;) {
        if (fileOps().flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0)
            return true;
        if (errno == EINTR)
            continue;
        return errno == ENOSYS;
    }
}

std::string lockFailure(const std::string& name, int error) {
    if (error == EWOULDBLOCK)
        return "File " + name + " is in use by another process";
    return "cannot lock " + name + ": " + errnoText(error);
}

bool syncData(int fd) {
    for (;;) {
        if (fileOps().fdatasync(fd) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

bool syncParentDirectory(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
    UniqueFd fd(fileOps().open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return false;
    for (;;) {
        if (fileOps().fsync(fd.get()) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return fileOps().stat(path.c_str(), &st) == 0;
}

std::string errnoText(int error) {
    char buffer[256];
    // The GNU variant may return a static string instead of filling the buffer.
    return ::strerror_r(error, buffer, sizeof buffer);
}

std::string cannot(const std::string& action, const std::string& name, int error) {
    return "cannot " + action + " " + name + ": " + errnoText(error);
}

}  // namespace Quellmar::qmxfile
