#ifndef QUELLMAR_QMXFILE_POSIXFILE_H
#define QUELLMAR_QMXFILE_POSIXFILE_H

#include <string>
#include <sys/types.h>
#include <utility>

namespace Quellmar::qmxfile {

// Owns a POSIX file descriptor; closing it also drops any flock held through it.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now; false when close() reported an error.
    bool reset();

private:
    int m_fd = -1;
};

// Thin wrappers that retry on EINTR and loop over short transfers. All return false with errno
// set on failure.
bool readFully(int fd, void* buffer, size_t size, off_t offset, size_t* got = nullptr);
bool writeFully(int fd, const void* buffer, size_t size, off_t offset);
// flock without waiting; a file system without flock counts as locked.
bool tryLock(int fd, bool exclusive);
// Why tryLock failed on the file `name`, from its errno: another process holds the lock ("File
// <name> is in use by another process"), or the lock call itself failed.
std::string lockFailure(const std::string& name, int error);
bool syncData(int fd);
// Makes a directory entry change (create, unlink) of the file at path durable.
bool syncParentDirectory(const std::string& path);
bool fileExists(const std::string& path);
// Text of errno for messages.
std::string errnoText(int error);
// The message of a failed system call on a file: "cannot <action> <name>: <errnoText(error)>".
std::string cannot(const std::string& action, const std::string& name, int error);

}  // namespace Quellmar::qmxfile

#endif
