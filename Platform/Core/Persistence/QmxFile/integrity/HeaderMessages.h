#ifndef QUELLMAR_QMXFILE_HEADERMESSAGES_H
#define QUELLMAR_QMXFILE_HEADERMESSAGES_H

#include "StoredFile.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace Quellmar::qmxfile {

// Reads the body of one object header message, never past its end: a field that would lie
// beyond it is damage.
class Cursor {
public:
    Cursor(const unsigned char* data, std::size_t size, const char* what)
        : m_data(data), m_size(size), m_what(what) {}
    const unsigned char* take(std::size_t size);
    std::uint64_t number(std::size_t size) { return little(take(size), size); }
    std::size_t left() const { return m_size - m_at; }
    const char* what() const { return m_what; }

private:
    const unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
    const char* m_what;
};

struct SymbolTable {
    std::uint64_t tree;
    std::uint64_t heap;
};

// What an object's header says about the object, as far as other checks need it.
struct HeaderFacts {
    std::optional<SymbolTable> symbolTable;    // a group of the kind this library writes
    std::optional<std::uint64_t> elements;     // the dataspace's element count
    std::optional<std::uint64_t> typeSize;     // the datatype's size in bytes
    std::optional<std::uint64_t> compactSize;  // a compact layout's stored data
    std::optional<std::uint64_t> chunkIndex;   // a chunked layout's version-1 B-tree
    unsigned chunkRank = 0;                    // its dimensions, the element size included
    bool linkInfo = false;                     // a group of the newer kind, whose links...
    std::vector<std::vector<unsigned char>> links;  // ...are these message bodies
};

// Checks the header of the object at an address (a committed datatype, for shared messages)
// and answers its facts.
using SharedHeaderCheck = std::function<HeaderFacts(std::uint64_t address)>;

// Checks one message body of the given type and adds what it learns to facts. Types this
// library cannot meet in a header (or never reads) are checked for size only.
void checkMessage(unsigned type, bool shared, Cursor body, const StoredFile& file,
                  HeaderFacts& facts, const SharedHeaderCheck& sharedHeader);

// Checks the link messages of a header once all of it is known. HDF5 decodes them only in a
// group that carries a link info message; anywhere else they are never read, so they cannot
// be damage that matters (a dataset whose fill value message became a link message reads as
// before).
void checkLinks(const HeaderFacts& facts, const StoredFile& file);

}  // namespace Quellmar::qmxfile

#endif
