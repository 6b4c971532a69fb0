#ifndef QUELLMAR_QMXFILE_STOREDFILE_H
#define QUELLMAR_QMXFILE_STOREDFILE_H

#include <hdf5.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Quellmar::qmxfile {

using Bytes = std::vector<unsigned char>;

// What a walk over stored metadata found wrong; thrown to the top, where it becomes the answer.
struct Damage {
    std::string what;
    // The bytes could not be read (an I/O error): no verdict on them, the read failed.
    bool unreadable = false;
};

std::uint64_t little(const unsigned char* p, std::size_t size);

// An open file's bytes as HDF5's file driver hands them to HDF5: through the journal (which
// holds a writer's unwritten pages) or straight from the POSIX descriptor. Reads are bounded
// by the file's length, so damaged addresses and sizes fail here instead of reading anything.
class StoredFile {
public:
    // The file that object lives in; nothing when it is not stored in a way this can read
    // (another driver, a user block, addresses wider than 64 bits).
    static std::optional<StoredFile> of(hid_t object);
    // The file under the journaled driver's handle, laid out as like (which of() made for an
    // earlier open of the same file: a file's layout never changes).
    static StoredFile journaled(void* handle, const StoredFile& like);

    std::size_t addressSize = 8;  // bytes of a file address
    std::size_t lengthSize = 8;   // bytes of a length or heap offset
    unsigned leafK = 4;           // symbol-table node capacity is twice this
    unsigned internalK = 16;      // group B-tree node capacity is twice this

    Bytes read(std::uint64_t address, std::uint64_t size, const char* what) const;
    // The same into the caller's buffer; false, saying why in `error` when given, when the
    // range lies outside the file or cannot be read.
    bool readInto(std::uint64_t address, std::size_t size, void* out,
                  std::string* error = nullptr) const;
    std::uint64_t length() const;
    bool inside(std::uint64_t address, std::uint64_t size) const {
        const std::uint64_t end = length();
        return address <= end && size <= end - address;
    }
    std::uint64_t address(const unsigned char* p) const { return little(p, addressSize); }
    std::uint64_t size(const unsigned char* p) const { return little(p, lengthSize); }
    // The "no address" value: all bits of an address set.
    bool undefined(std::uint64_t address) const {
        return addressSize >= 8 ? address == ~std::uint64_t{0}
                                : address == (std::uint64_t{1} << (8 * addressSize)) - 1;
    }

    // The journaled driver's handle of the file, null when it is not under that driver.
    const void* journaledHandle() const { return m_journal; }

private:
    int m_fd = -1;
    void* m_journal = nullptr;  // the journal driver's handle, when the file is under it
};

}  // namespace Quellmar::qmxfile

#endif
