#include "StoredFile.h"

#include "Hid.h"
#include "JournalDriver.h"
#include "PosixFile.h"

#include <cerrno>
#include <sys/stat.h>

namespace Quellmar::qmxfile {

std::uint64_t little(const unsigned char* p, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value |= std::uint64_t{p[i]} << (8 * i);
    return value;
}

std::optional<StoredFile> StoredFile::of(hid_t object) {
    Hid file(H5Iget_file_id(object));
    if (!file)
        return std::nullopt;
    Hid creation(H5Fget_create_plist(file.get()));
    StoredFile stored;
    hsize_t userBlock = 0;
    if (!creation || H5Pget_sizes(creation.get(), &stored.addressSize, &stored.lengthSize) < 0 ||
        H5Pget_sym_k(creation.get(), &stored.internalK, &stored.leafK) < 0 ||
        H5Pget_userblock(creation.get(), &userBlock) < 0 || userBlock != 0 ||
        stored.addressSize > 8 || stored.lengthSize > 8 || stored.addressSize < 2 ||
        stored.lengthSize < 2)
        return std::nullopt;
    // Only drivers whose handle is the POSIX descriptor of the whole file.
    Hid access(H5Fget_access_plist(file.get()));
    const hid_t driver = access ? H5Pget_driver(access.get()) : H5I_INVALID_HID;
    void* handle = nullptr;
    if (driver < 0 || (driver != H5FD_SEC2 && driver != journalDriverId()) ||
        H5Fget_vfd_handle(file.get(), access.get(), &handle) < 0 || !handle)
        return std::nullopt;
    stored.m_fd = *static_cast<int*>(handle);
    if (driver != H5FD_SEC2)
        stored.m_journal = handle;
    return stored;
}

StoredFile StoredFile::journaled(void* handle, const StoredFile& like) {
    StoredFile stored = like;
    stored.m_fd = *static_cast<int*>(handle);
    stored.m_journal = handle;
    return stored;
}

std::uint64_t StoredFile::length() const {
    if (m_journal)
        return journaledLength(m_journal);
    struct stat status;
    return fstat(m_fd, &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

Bytes StoredFile::read(std::uint64_t address, std::uint64_t size, const char* what) const {
    if (!inside(address, size))
        throw Damage{std::string(what) + " lies outside the file"};
    Bytes bytes(static_cast<std::size_t>(size));
    std::string why;
    if (!readInto(address, bytes.size(), bytes.data(), &why))
        throw Damage{std::string("cannot read ") + what + (why.empty() ? "" : ": " + why), true};
    return bytes;
}

bool StoredFile::readInto(std::uint64_t address, std::size_t size, void* out,
                          std::string* error) const {
    if (!inside(address, size)) {
        if (error)
            *error = "the range lies outside the file";
        return false;
    }
    if (m_journal)
        return readJournaled(m_journal, address, size, out, error);
    std::size_t got = 0;
    const bool read = readFully(m_fd, out, size, static_cast<off_t>(address), &got);
    if (read && got == size)
        return true;
    if (error)
        *error = read ? "the file ends early" : errnoText(errno);
    return false;
}

}  // namespace Quellmar::qmxfile
