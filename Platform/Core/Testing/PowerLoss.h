// Power-loss simulation for the journaled driver. PowerLossRecorder is a file layer that does
// every call for real and records, for the files of one directory, each change that a power
// failure could undo: writes, truncations, syncs, and the directory entries made by create,
// unlink and rename. DiskModel replays that record and says what a disk would hold had the
// power failed after any prefix of it:
//  - file contents are durable once the file was synced (fdatasync or fsync);
//  - directory entries are durable once the directory was synced;
//  - LossMode::DropUnsynced: everything not durable is gone;
//  - LossMode::TornWrite: as DropUnsynced, except that the last write reached the disk in part:
//    of its 512-byte sectors, the even ones hold the new bytes and the odd ones the old (zeros
//    past the old end), as a drive that reorders and tears an unsynced page may leave it.
#ifndef QUELLMAR_TESTING_POWERLOSS_H
#define QUELLMAR_TESTING_POWERLOSS_H

#include "FileOps.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Quellmar::testing {

struct DiskOperation {
    enum Kind { Create, Write, Truncate, SyncFile, SyncDirectory, Unlink, Rename };
    Kind kind = Write;
    std::uint64_t file = 0;    // which file (ids are never reused, unlike inode numbers)
    std::string name;          // Create, Unlink, Rename: the entry; Rename: the old name
    std::string newName;       // Rename
    std::uint64_t offset = 0;  // Write
    std::uint64_t length = 0;  // Truncate
    std::shared_ptr<const std::vector<unsigned char>> bytes;  // Write
};

class PowerLossRecorder final : public qmxfile::FileOps {
public:
    // Records the changes to the entries of directory dir (given without a trailing '/'), which
    // must be empty when the recording starts.
    explicit PowerLossRecorder(std::string dir);

    // The operations so far; a crash point is a prefix length, 0 to size().
    std::vector<DiskOperation> operations() const;
    std::size_t count() const;

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
    struct Open {
        std::uint64_t file = 0;
        bool directory = false;
    };
    // The entry name of path when it lies in the recorded directory, else empty.
    std::string entryOf(const char* path) const;
    bool isDirectory(const char* path) const;
    void record(DiskOperation op);
    std::uint64_t identify(int fd, bool created);
    void sync(int fd);

    std::string m_dir;
    mutable std::mutex m_lock;
    std::vector<DiskOperation> m_operations;
    std::map<int, Open> m_open;                                // descriptors we follow
    std::map<std::pair<dev_t, ino_t>, std::uint64_t> m_files;  // inode -> file id
    std::uint64_t m_nextFile = 1;
};

enum class LossMode { DropUnsynced, TornWrite };

class DiskModel {
public:
    void apply(const DiskOperation& op);
    // Changes whenever what a power loss would leave (in DropUnsynced mode) changes.
    std::uint64_t durableVersion() const { return m_durableVersion; }
    // Writes the files a power loss would leave into dir (which must be empty). In TornWrite
    // mode, lastWrite is the write to tear (the last operation applied).
    void materialise(const std::string& dir, LossMode mode, const DiskOperation* lastWrite) const;

private:
    using Bytes = std::vector<unsigned char>;
    std::map<std::uint64_t, Bytes> m_current;
    std::map<std::uint64_t, Bytes> m_durable;
    std::map<std::string, std::uint64_t> m_names;         // entries as the process sees them
    std::map<std::string, std::uint64_t> m_durableNames;  // entries that survive a power loss
    std::uint64_t m_durableVersion = 0;
};

// Reads a file's bytes, empty when it does not exist.
std::vector<unsigned char> fileBytes(const std::string& path);

}  // namespace Quellmar::testing

#endif
