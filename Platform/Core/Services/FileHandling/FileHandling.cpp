#include "FileName.h"
#include "FileUtilities.h"
#include "TransferFileHandle.h"

#include <sys/stat.h>

#include <map>
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
    if (name.empty() || ::stat(name.toString().c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) return acceptDirectories;
    return true;
}

bool FileUtilities::isReadOnly(const FileName& name) {
    struct stat st {};
    if (name.empty() || ::stat(name.toString().c_str(), &st) != 0) return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
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

TransferFileHandle::TransferFileHandle(const FileName& name, int mode) : m_name(name), m_mode(mode) {
    std::lock_guard<std::mutex> guard(transferMutex());
    ++transfers()[m_name.toString()];
}

TransferFileHandle::~TransferFileHandle() {
    std::lock_guard<std::mutex> guard(transferMutex());
    auto it = transfers().find(m_name.toString());
    if (it != transfers().end() && --it->second == 0) transfers().erase(it);
}

int TransferFileHandle::isInTransfer(const FileName& name) {
    std::lock_guard<std::mutex> guard(transferMutex());
    auto it = transfers().find(name.toString());
    return it == transfers().end() ? 0 : it->second;
}

}  // namespace Quellmar
