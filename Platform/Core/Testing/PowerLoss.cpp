#include "PowerLoss.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace Quellmar::testing {
namespace {

constexpr std::uint64_t kSector = 512;

qmxfile::FileOps& real() {
    return qmxfile::posixFileOps();
}

void writeWhole(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

}  // namespace

std::vector<unsigned char> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>());
}

PowerLossRecorder::PowerLossRecorder(std::string dir) : m_dir(std::move(dir)) {}

std::vector<DiskOperation> PowerLossRecorder::operations() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_operations;
}

std::size_t PowerLossRecorder::count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_operations.size();
}

std::string PowerLossRecorder::entryOf(const char* path) const {
    const std::string p(path);
    const auto slash = p.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : p.substr(0, slash);
    if (dir != m_dir)
        return {};
    return p.substr(slash + 1);
}

bool PowerLossRecorder::isDirectory(const char* path) const {
    return std::string(path) == m_dir;
}

void PowerLossRecorder::record(DiskOperation op) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_operations.push_back(std::move(op));
}

std::uint64_t PowerLossRecorder::identify(int fd, bool created) {
    struct stat st {};
    if (real().fstat(fd, &st) != 0)
        throw std::runtime_error("fstat failed while recording");
    std::lock_guard<std::mutex> guard(m_lock);
    const auto key = std::make_pair(st.st_dev, st.st_ino);
    auto found = m_files.find(key);
    // A new file may reuse the inode of a removed one: it gets an id of its own.
    if (created || found == m_files.end()) {
        m_files[key] = m_nextFile;
        return m_nextFile++;
    }
    return found->second;
}

int PowerLossRecorder::open(const char* path, int flags, mode_t mode) {
    if (isDirectory(path)) {
        const int fd = real().open(path, flags, mode);
        if (fd >= 0) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_open[fd] = Open{0, true};
        }
        return fd;
    }
    const std::string entry = entryOf(path);
    if (entry.empty())
        return real().open(path, flags, mode);
    struct stat st {};
    const bool existed = real().stat(path, &st) == 0;
    const int fd = real().open(path, flags, mode);
    if (fd < 0)
        return fd;
    const bool created = !existed && (flags & O_CREAT) != 0;
    const std::uint64_t file = identify(fd, created);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_open[fd] = Open{file, false};
    }
    if (created) {
        DiskOperation op;
        op.kind = DiskOperation::Create;
        op.file = file;
        op.name = entry;
        record(std::move(op));
    } else if ((flags & O_TRUNC) != 0 && (flags & O_ACCMODE) != O_RDONLY) {
        DiskOperation op;
        op.kind = DiskOperation::Truncate;
        op.file = file;
        op.length = 0;
        record(std::move(op));
    }
    return fd;
}

int PowerLossRecorder::close(int fd) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_open.erase(fd);
    }
    return real().close(fd);
}

ssize_t PowerLossRecorder::pread(int fd, void* buffer, size_t size, off_t offset) {
    return real().pread(fd, buffer, size, offset);
}

ssize_t PowerLossRecorder::pwrite(int fd, const void* buffer, size_t size, off_t offset) {
    const ssize_t n = real().pwrite(fd, buffer, size, offset);
    if (n <= 0)
        return n;
    std::unique_lock<std::mutex> guard(m_lock);
    const auto found = m_open.find(fd);
    if (found == m_open.end() || found->second.directory)
        return n;
    DiskOperation op;
    op.kind = DiskOperation::Write;
    op.file = found->second.file;
    op.offset = static_cast<std::uint64_t>(offset);
    const auto* in = static_cast<const unsigned char*>(buffer);
    op.bytes = std::make_shared<const std::vector<unsigned char>>(in, in + n);
    m_operations.push_back(std::move(op));
    return n;
}

void PowerLossRecorder::sync(int fd) {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_open.find(fd);
    if (found == m_open.end())
        return;
    DiskOperation op;
    op.kind = found->second.directory ? DiskOperation::SyncDirectory : DiskOperation::SyncFile;
    op.file = found->second.file;
    m_operations.push_back(std::move(op));
}

int PowerLossRecorder::fdatasync(int fd) {
    const int rc = real().fdatasync(fd);
    if (rc == 0)
        sync(fd);
    return rc;
}

int PowerLossRecorder::fsync(int fd) {
    const int rc = real().fsync(fd);
    if (rc == 0)
        sync(fd);
    return rc;
}

int PowerLossRecorder::ftruncate(int fd, off_t length) {
    const int rc = real().ftruncate(fd, length);
    if (rc != 0)
        return rc;
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_open.find(fd);
    if (found == m_open.end() || found->second.directory)
        return rc;
    DiskOperation op;
    op.kind = DiskOperation::Truncate;
    op.file = found->second.file;
    op.length = static_cast<std::uint64_t>(length);
    m_operations.push_back(std::move(op));
    return rc;
}

int PowerLossRecorder::flock(int fd, int operation) {
    return real().flock(fd, operation);
}
int PowerLossRecorder::fstat(int fd, struct stat* st) {
    return real().fstat(fd, st);
}
int PowerLossRecorder::stat(const char* path, struct stat* st) {
    return real().stat(path, st);
}

int PowerLossRecorder::unlink(const char* path) {
    const int rc = real().unlink(path);
    const std::string entry = entryOf(path);
    if (rc == 0 && !entry.empty()) {
        DiskOperation op;
        op.kind = DiskOperation::Unlink;
        op.name = entry;
        record(std::move(op));
    }
    return rc;
}

int PowerLossRecorder::rename(const char* from, const char* to) {
    const int rc = real().rename(from, to);
    const std::string a = entryOf(from), b = entryOf(to);
    if (rc == 0 && !a.empty() && !b.empty()) {
        DiskOperation op;
        op.kind = DiskOperation::Rename;
        op.name = a;
        op.newName = b;
        record(std::move(op));
    } else if (rc == 0 && (!a.empty() || !b.empty())) {
        throw std::logic_error("a rename across the recorded directory cannot be modelled");
    }
    return rc;
}

void DiskModel::apply(const DiskOperation& op) {
    switch (op.kind) {
        case DiskOperation::Create:
            m_names[op.name] = op.file;
            m_current[op.file].clear();
            m_durable[op.file].clear();
            break;
        case DiskOperation::Write: {
            Bytes& bytes = m_current[op.file];
            const std::uint64_t end = op.offset + op.bytes->size();
            if (bytes.size() < end)
                bytes.resize(end, 0);
            std::copy(op.bytes->begin(), op.bytes->end(),
                      bytes.begin() + static_cast<std::ptrdiff_t>(op.offset));
            break;
        }
        case DiskOperation::Truncate:
            m_current[op.file].resize(op.length, 0);
            break;
        case DiskOperation::SyncFile:
            if (m_durable[op.file] != m_current[op.file]) {
                m_durable[op.file] = m_current[op.file];
                ++m_durableVersion;
            }
            break;
        case DiskOperation::SyncDirectory:
            if (m_durableNames != m_names) {
                m_durableNames = m_names;
                ++m_durableVersion;
            }
            break;
        case DiskOperation::Unlink:
            m_names.erase(op.name);
            break;
        case DiskOperation::Rename: {
            const auto found = m_names.find(op.name);
            if (found != m_names.end()) {
                m_names[op.newName] = found->second;
                m_names.erase(op.name);
            }
            break;
        }
    }
}

void DiskModel::materialise(const std::string& dir, LossMode mode,
                            const DiskOperation* lastWrite) const {
    for (const auto& [name, file] : m_durableNames) {
        const auto found = m_durable.find(file);
        Bytes bytes = found == m_durable.end() ? Bytes() : found->second;
        if (mode == LossMode::TornWrite && lastWrite && lastWrite->kind == DiskOperation::Write &&
            lastWrite->file == file) {
            const Bytes& data = *lastWrite->bytes;
            const std::uint64_t end = lastWrite->offset + data.size();
            if (bytes.size() < end)
                bytes.resize(end, 0);
            for (std::uint64_t pos = lastWrite->offset; pos < end;) {
                const std::uint64_t sectorEnd = std::min(end, (pos / kSector + 1) * kSector);
                if ((pos / kSector) % 2 == 0)
                    std::copy(
                        data.begin() + static_cast<std::ptrdiff_t>(pos - lastWrite->offset),
                        data.begin() + static_cast<std::ptrdiff_t>(sectorEnd - lastWrite->offset),
                        bytes.begin() + static_cast<std::ptrdiff_t>(pos));
                pos = sectorEnd;
            }
        }
        writeWhole(dir + "/" + name, bytes);
    }
}

}  // namespace Quellmar::testing
