#ifndef QUELLMAR_BENCH_SCRATCH_H
#define QUELLMAR_BENCH_SCRATCH_H

#include <string>

namespace Quellmar::bench {

// The directory the contenders write their files to. A directory made here is removed with its
// contents at the end; a given one is only emptied of the files made in it.
class Scratch {
public:
    explicit Scratch(const std::string& given);
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    // A path in the directory; any file already there is removed, so every run starts afresh.
    std::string fresh(const std::string& name) const;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    bool m_owned;
};

// Size of a file in bytes; throws BenchFailure when it cannot be read.
long long fileSize(const std::string& path);
// Bytes in MiB.
double mib(long long bytes);
void removeFile(const std::string& path);

}  // namespace Quellmar::bench

#endif
