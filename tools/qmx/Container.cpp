#include "Container.h"

#include "Cli.h"
#include "Diagnostics.h"
#include "Handle.h"
#include "UserContext.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace Quellmar::qmx {
namespace {

const char kHdf5Signature[8] = {'\x89', 'H', 'D', 'F', '\r', '\n', '\x1a', '\n'};

// HDF5 looks for its superblock at 0, 512, 1024, 2048, ... (a user block may precede it).
bool hasHdf5Signature(const std::string& path, long long size) {
    std::ifstream in(path, std::ios::binary);
    for (long long offset = 0; offset + 8 <= size; offset = offset == 0 ? 512 : offset * 2) {
        char buf[8] = {};
        in.seekg(offset);
        if (!in.read(buf, sizeof buf))
            return false;
        if (std::memcmp(buf, kHdf5Signature, sizeof buf) == 0)
            return true;
    }
    return false;
}

// Why the library refused the file, asked of the file library directly.
std::string explainRefusal(const std::string& path, bool native, const std::string& thrown) {
    const std::string logged = lastLibraryError();
    if (logged.find("readonly file") != std::string::npos)
        return "the file is read-only; cannot open it for writing";
    FileHandle probe(native ? QMXLopenNativeHDF5ReadOnly(path.c_str())
                            : QMXLopenFileReadOnly(path.c_str()));
    if (!probe.valid()) {
        const std::string why = fileLibraryError();
        return "not readable as an HDF5 file (damaged or truncated?)" +
               (why.empty() ? std::string() : ": " + why);
    }
    if (!native && QMXLisQMZFileNoLock(probe.get()) == 0)
        return "a plain HDF5 file, not a QMZ container (use --native to open it)";
    if (!logged.empty())
        return logged;
    const std::string why = fileLibraryError();
    return why.empty() ? thrown : thrown + ": " + why;
}

}  // namespace

void probeFile(const std::string& path, Access access) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if ((access == Access::Create || access == Access::Replace) && errno == ENOENT)
            return;
        throw Failure(path + ": " + std::strerror(errno));
    }
    if (access == Access::Create)
        throw Failure(path + ": already exists (use --force to replace it)");
    if (access == Access::Replace) {
        if (S_ISDIR(st.st_mode))
            throw Failure(path + ": is a directory");
        return;
    }
    if (S_ISDIR(st.st_mode))
        throw Failure(path + ": is a directory");
    if (!S_ISREG(st.st_mode))
        throw Failure(path + ": not a regular file");
    // The library refuses such a file; said here plainly rather than as an unreadable file.
    if (st.st_nlink > 1)
        throw Failure(path + ": has " + std::to_string(st.st_nlink) +
                      " hard links; a container must have one name (its journal could not be found "
                      "from the others)");
    {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            throw Failure(path + ": cannot read: " + std::strerror(errno));
    }
    if (st.st_size == 0)
        throw Failure(path + ": empty file, not a container");
    if (!hasHdf5Signature(path, st.st_size))
        throw Failure(path + ": not a QMZ container (no HDF5 signature)");
}

Container::Container(const std::string& path, Access access, bool native)
    : m_path(path), m_stack(TransactionStack::create()) {
    probeFile(path, access);
    const bool creating = access == Access::Create || access == Access::Replace;
    m_descriptor = std::make_shared<DataSourceDescriptor>(path, false, creating, native);
    const UserContext context(
        m_stack, access == Access::Read ? UserContext::ReadOnly : UserContext::ReadWrite);
    try {
        QMXGenericDAOFactory factory(m_descriptor, &context);
        m_storage = factory.getStorage();
    } catch (const std::exception& e) {
        m_stack->revert();
        if (creating)
            throw Failure(path + ": cannot create: " + e.what());
        throw Failure(path + ": " + explainRefusal(path, native, e.what()));
    }
    if (!m_storage || m_storage->getHandleToStorage() <= 0) {
        m_stack->revert();
        throw Failure(path + ": the library did not open the file");
    }
}

Container::~Container() {
    m_stack->commit();
}

int Container::file() const {
    return m_storage->getHandleToStorage();
}

void Container::revert() {
    m_stack->revert();
}

void Container::flush() {
    if (m_storage->commit() != 1) {
        const std::string why = fileLibraryError();
        throw Failure(m_path + ": changes could not be written" + (why.empty() ? "" : ": " + why));
    }
}

}  // namespace Quellmar::qmx
