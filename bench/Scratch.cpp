#include "Scratch.h"

#include "Harness.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace Quellmar::bench {

namespace fs = std::filesystem;

Scratch::Scratch(const std::string& given) : m_owned(given.empty()) {
    if (!m_owned) {
        fs::create_directories(given);
        m_path = given;
        return;
    }
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/qmx-bench-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data()))
        throw BenchFailure("cannot make a scratch directory from " + tmpl);
    m_path = buf.data();
}

Scratch::~Scratch() {
    std::error_code ec;
    if (m_owned) {
        fs::remove_all(m_path, ec);
        return;
    }
    for (const auto& entry : fs::directory_iterator(m_path, ec))
        if (entry.path().filename().string().rfind("bench-", 0) == 0)
            fs::remove_all(entry, ec);
}

std::string Scratch::fresh(const std::string& name) const {
    const std::string path = m_path + "/bench-" + name;
    removeFile(path);
    return path;
}

long long fileSize(const std::string& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec)
        throw BenchFailure("cannot stat " + path + ": " + ec.message());
    return static_cast<long long>(size);
}

double mib(long long bytes) {
    return double(bytes) / (1 << 20);
}

void removeFile(const std::string& path) {
    std::error_code ec;
    fs::remove(path, ec);
    // SQLite leaves a journal beside its file when interrupted.
    fs::remove(path + "-journal", ec);
}

}  // namespace Quellmar::bench
