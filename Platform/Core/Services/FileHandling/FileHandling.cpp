#include "FileName.h"
#include "FileUtilities.h"
#include "TransferFileHandle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

namespace Quellmar {

std::string FileName::baseName() const {
    const auto slash = m_path.find_last_of('/');
    return slash == std::string::npos ? m_path : m_path.substr(slash + 1);
}

std::string FileName::extension() const {
    const std::string base = baseName();
    const auto dot = base.find_last_of('.');
    return dot == std::string::npos ? std::string() : base.substr(dot + 1);
}

bool FileUtilities::exists(const FileName& name, bool acceptDirectories) {
    struct stat st {};
    if (name.empty() || ::stat(name.toString().c_str(), &st) != 0)
        return false;
    if (S_ISDIR(st.st_mode))
        return acceptDirectories;
    return true;
}

bool FileUtilities::isReadOnly(const FileName& name) {
    struct stat st {};
    if (name.empty() || ::stat(name.toString().c_str(), &st) != 0)
        return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

unsigned long FileUtilities::linkCount(const FileName& name) {
    struct stat st {};
    if (name.empty() || ::stat(name.toString().c_str(), &st) != 0)
        return 0;
    return static_cast<unsigned long>(st.st_nlink);
}

namespace {

// As many links as the kernel follows before it gives up with ELOOP.
constexpr int kMaxLinkHops = 40;

bool resolve(const std::string& path, std::string& out) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved)
        return false;
    out = resolved.get();
    return true;
}

// The target of the symbolic link at path, made relative to the link's directory; false when
// path is not a link.
bool linkTarget(const std::string& path, std::string& out) {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0)
            return false;
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    const auto slash = path.find_last_of('/');
    if (buffer.empty() || buffer[0] == '/' || slash == std::string::npos) {
        out = buffer;
    } else {
        out = path.substr(0, slash + 1) + buffer;
    }
    return true;
}

}  // namespace

std::string FileUtilities::canonicalPath(const FileName& name) {
    std::string path = name.toString();
    if (path.empty()) {
        errno = ENOENT;
        return {};
    }
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        std::string result;
        if (resolve(path, result))
            return result;
        if (errno != ENOENT)
            return {};
        // A dangling link: the file would be made where it points.
        if (linkTarget(path, result)) {
            path = result;
            continue;
        }
        const auto slash = path.find_last_of('/');
        const std::string dir = slash == std::string::npos ? "."
                                : slash == 0               ? "/"
                                                           : path.substr(0, slash);
        const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
        if (base.empty() || base == "." || base == "..") {
            errno = ENOENT;
            return {};
        }
        if (!resolve(dir, result))
            return {};
        return (result == "/" ? std::string() : result) + "/" + base;
    }
    errno = ELOOP;
    return {};
}

namespace {
std::mutex& transferMutex() {
    static std::mutex m;
    return m;
}
std::map<std::string, int>& transfers() {
    static std::map<std::string, int> t;
    return t;
}
}  // namespace

TransferFileHandle::TransferFileHandle(const FileName& name, int mode)
    : m_name(name), m_mode(mode) {
    std::lock_guard<std::mutex> guard(transferMutex());
    ++transfers()[m_name.toString()];
}

TransferFileHandle::~TransferFileHandle() {
    std::lock_guard<std::mutex> guard(transferMutex());
    auto it = transfers().find(m_name.toString());
    if (it != transfers().end() && --it->second == 0)
        transfers().erase(it);
}

int TransferFileHandle::isInTransfer(const FileName& name) {
    std::lock_guard<std::mutex> guard(transferMutex());
    auto it = transfers().find(name.toString());
    return it == transfers().end() ? 0 : it->second;
}

}  // namespace Quellmar
