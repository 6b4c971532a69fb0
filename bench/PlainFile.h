#ifndef QUELLMAR_BENCH_PLAINFILE_H
#define QUELLMAR_BENCH_PLAINFILE_H

#include "Patterns.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>

namespace Quellmar::bench::plain {

// A POSIX file descriptor, closed on destruction.
class File {
public:
    enum Mode { Read, Create, Append };
    File(const std::string& path, Mode mode);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    void write(const void* data, std::size_t size);
    void read(void* data, std::size_t size);  // exactly `size` bytes or throws
    void readAt(void* data, std::size_t size, std::uint64_t offset);
    std::uint64_t size() const;
    void sync();  // fsync: the bytes are on the disk
    // Closes now and reports a failing close.
    void close();

private:
    int m_fd = -1;
    std::string m_path;
};

// The physical floor for named small objects: their bytes one after another in one file,
// then a name index. Written by PackedWriter, found again by PackedReader.
class PackedWriter {
public:
    explicit PackedWriter(const std::string& path);
    void add(const std::string& name, const void* data, std::size_t size);
    void finish();  // writes the index and closes

private:
    File m_file;
    std::uint64_t m_offset = 0;
    std::string m_index;
    std::uint64_t m_count = 0;
};

class PackedReader {
public:
    explicit PackedReader(const std::string& path);
    // Resizes `out` to the object's size and reads it; false when there is no such name.
    bool read(const std::string& name, Bytes& out);

private:
    File m_file;
    std::unordered_map<std::string, std::pair<std::uint64_t, std::uint64_t>> m_index;
};

// One record appended per call: how a log-style store commits single objects; `synced`
// syncs the file before returning.
void appendRecord(const std::string& path, const std::string& name, const void* data,
                  std::size_t size, bool synced = false);
// fsync of a file another API wrote.
void syncFile(const std::string& path);
// Every record of such a log, in order.
void forEachRecord(const std::string& path,
                   const std::function<void(const std::string&, const Bytes&)>& visit);

}  // namespace Quellmar::bench::plain

#endif
