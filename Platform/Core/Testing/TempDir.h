#ifndef QUELLMAR_TESTING_TEMPDIR_H
#define QUELLMAR_TESTING_TEMPDIR_H

#include <string>

namespace Quellmar::testing {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
// Tests run in parallel, so every test makes its own.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Size of a file in bytes, -1 when it does not exist.
long long fileSize(const std::string& path);
// Writes bytes to a file, replacing it.
void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);

}  // namespace Quellmar::testing

#endif
