#include "PlainFile.h"

#include "Harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Quellmar::bench::plain {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw BenchFailure(what + " " + path + ": " + std::strerror(errno));
}

void putU64(std::string& out, std::uint64_t v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

std::uint64_t getU64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

File::File(const std::string& path, Mode mode) : m_path(path) {
    const int flags = mode == Read     ? O_RDONLY
                      : mode == Create ? O_WRONLY | O_CREAT | O_TRUNC
                                       : O_WRONLY | O_CREAT | O_APPEND;
    m_fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (m_fd < 0)
        fail("open", path);
}

File::~File() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void File::close() {
    const int fd = std::exchange(m_fd, -1);
    if (fd >= 0 && ::close(fd) != 0)
        fail("close", m_path);
}

void File::sync() {
    if (::fsync(m_fd) != 0)
        fail("fsync", m_path);
}

void File::write(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail("write", m_path);
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

void File::read(void* data, std::size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(m_fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail("read", m_path);
        if (n == 0)
            throw BenchFailure("read " + m_path + ": file too short");
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

void File::readAt(void* data, std::size_t size, std::uint64_t offset) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(m_fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail("pread", m_path);
        if (n == 0)
            throw BenchFailure("pread " + m_path + ": file too short");
        p += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
}

std::uint64_t File::size() const {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        fail("fstat", m_path);
    return static_cast<std::uint64_t>(st.st_size);
}

PackedWriter::PackedWriter(const std::string& path) : m_file(path, File::Create) {}

void PackedWriter::add(const std::string& name, const void* data, std::size_t size) {
    m_file.write(data, size);
    putU64(m_index, name.size());
    m_index += name;
    putU64(m_index, m_offset);
    putU64(m_index, size);
    m_offset += size;
    ++m_count;
}

void PackedWriter::finish() {
    // Trailer: where the index starts and how many entries it has.
    putU64(m_index, m_offset);
    putU64(m_index, m_count);
    m_file.write(m_index.data(), m_index.size());
    m_file.close();
}

PackedReader::PackedReader(const std::string& path) : m_file(path, File::Read) {
    const std::uint64_t size = m_file.size();
    if (size < 16)
        throw BenchFailure("packed file " + path + " has no trailer");
    unsigned char trailer[16];
    m_file.readAt(trailer, sizeof trailer, size - 16);
    const std::uint64_t start = getU64(trailer), count = getU64(trailer + 8);
    if (start > size - 16)
        throw BenchFailure("packed file " + path + " has a bad trailer");
    Bytes index(size - 16 - start);
    m_file.readAt(index.data(), index.size(), start);
    m_index.reserve(count);
    std::size_t at = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (at + 8 > index.size())
            throw BenchFailure("packed index of " + path + " is cut");
        const std::uint64_t len = getU64(&index[at]);
        if (at + 8 + len + 16 > index.size())
            throw BenchFailure("packed index of " + path + " is cut");
        std::string name(reinterpret_cast<const char*>(&index[at + 8]), len);
        at += 8 + len;
        m_index.emplace(std::move(name),
                        std::make_pair(getU64(&index[at]), getU64(&index[at + 8])));
        at += 16;
    }
}

bool PackedReader::read(const std::string& name, Bytes& out) {
    const auto it = m_index.find(name);
    if (it == m_index.end())
        return false;
    out.resize(it->second.second);
    m_file.readAt(out.data(), out.size(), it->second.first);
    return true;
}

void appendRecord(const std::string& path, const std::string& name, const void* data,
                  std::size_t size, bool synced) {
    // One write per record, so a record is never split between two appenders.
    std::string record;
    record.reserve(16 + name.size() + size);
    putU64(record, name.size());
    record += name;
    putU64(record, size);
    record.append(static_cast<const char*>(data), size);
    File file(path, File::Append);
    file.write(record.data(), record.size());
    if (synced)
        file.sync();
    file.close();
}

void syncFile(const std::string& path) {
    File file(path, File::Read);
    file.sync();
    file.close();
}

void forEachRecord(const std::string& path,
                   const std::function<void(const std::string&, const Bytes&)>& visit) {
    File file(path, File::Read);
    const std::uint64_t size = file.size();
    std::uint64_t at = 0;
    unsigned char header[8];
    Bytes data;
    while (at < size) {
        file.readAt(header, 8, at);
        if (getU64(header) > size)
            throw BenchFailure("record log " + path + " is damaged");
        std::string name(getU64(header), '\0');
        file.readAt(name.data(), name.size(), at + 8);
        file.readAt(header, 8, at + 8 + name.size());
        if (getU64(header) > size)
            throw BenchFailure("record log " + path + " is damaged");
        data.resize(getU64(header));
        file.readAt(data.data(), data.size(), at + 16 + name.size());
        visit(name, data);
        at += 16 + name.size() + data.size();
    }
}

}  // namespace Quellmar::bench::plain
