// The message bodies of object headers, checked before HDF5 decodes them. HDF5 1.10 decodes
// them trusting every size they state: a name without its terminator is copied with strdup, an
// attribute's value is copied for as many bytes as its type and shape say, a compact dataset's
// data for as many as its layout says. Each check below keeps every field inside its message.
#include "HeaderMessages.h"

#include <cstring>
#include <string>

namespace Quellmar::qmxfile {

const unsigned char* Cursor::take(std::size_t size) {
    if (size > left())
        throw Damage{std::string(m_what) + " runs past the end of its message"};
    const unsigned char* at = m_data + m_at;
    m_at += size;
    return at;
}

namespace {

// Message types of the HDF5 file format.
enum : unsigned {
    kDataspace = 0x01,
    kLinkInfo = 0x02,
    kDatatype = 0x03,
    kFillOld = 0x04,
    kFill = 0x05,
    kLink = 0x06,
    kExternalFiles = 0x07,
    kLayout = 0x08,
    kGroupInfo = 0x0A,
    kPipeline = 0x0B,
    kAttribute = 0x0C,
    kComment = 0x0D,
    kOldTime = 0x0E,
    kSymbolTable = 0x11,
    kTime = 0x12,
    kAttributeInfo = 0x15,
    kRefCount = 0x16,
};

constexpr unsigned kMaxRank = 32;         // dataspace and array ranks
constexpr unsigned kMaxLayoutRank = 33;   // a chunk's dimensions and the element size
constexpr unsigned kMaxTypeNesting = 16;  // compound, array, enum and vlen types inside others
constexpr unsigned kMaxFilters = 32;

std::size_t padded8(std::size_t size) {
    return (size + 7) / 8 * 8;
}

std::uint64_t times(std::uint64_t a, std::uint64_t b, const char* what) {
    if (a != 0 && b > ~std::uint64_t{0} / a)
        throw Damage{std::string(what) + " overflows"};
    return a * b;
}

// A NUL-terminated name at the cursor: its length without the terminator.
std::size_t terminatedName(Cursor& c, const char* what) {
    const std::size_t left = c.left();
    const unsigned char* start = c.take(0);
    const void* end = std::memchr(start, 0, left);
    if (!end)
        throw Damage{std::string(what) + " has no terminator inside its message"};
    return static_cast<std::size_t>(static_cast<const unsigned char*>(end) - start);
}

void checkAddress(const StoredFile& file, std::uint64_t address, std::uint64_t size,
                  const char* what) {
    if (file.undefined(address))
        return;
    if (!file.inside(address, size))
        throw Damage{std::string(what) + " lies outside the file"};
}

struct Type {
    std::uint64_t size;
    unsigned cls;
};

Type checkDatatype(Cursor& c, unsigned depth);

// Bits of a number type (integer, bitfield, float) lie inside its size.
void checkBits(std::uint64_t bits, std::uint64_t first, std::uint64_t count, const char* what) {
    if (count == 0 || first > bits || count > bits - first)
        throw Damage{std::string("a datatype's ") + what + " lies outside its size"};
}

void checkCompound(Cursor& c, unsigned version, std::uint32_t flags, std::uint64_t size,
                   unsigned depth) {
    const unsigned members = flags & 0xffff;
    std::size_t offsetBytes = 1;  // version 3: as few bytes as the record's size needs
    while (offsetBytes < 4 && (size >> (8 * offsetBytes)) != 0)
        ++offsetBytes;
    for (unsigned m = 0; m < members; ++m) {
        const std::size_t name = terminatedName(c, "a compound member's name");
        c.take(version >= 3 ? name + 1 : padded8(name + 1));
        const std::uint64_t offset = c.number(version >= 3 ? offsetBytes : 4);
        std::uint64_t count = 1;
        if (version == 1) {  // an old array member: rank, reserved, permutation, reserved, 4 sizes
            const unsigned char* dims = c.take(28);
            if (dims[0] > 4)
                throw Damage{"a compound member has more than four dimensions"};
            for (unsigned d = 0; d < dims[0]; ++d)
                count = times(count, little(dims + 12 + 4 * d, 4), "a compound member's size");
        }
        const Type member = checkDatatype(c, depth + 1);
        const std::uint64_t bytes = times(member.size, count, "a compound member's size");
        if (offset > size || bytes > size - offset)
            throw Damage{"a compound member lies outside its record"};
    }
}

Type checkDatatype(Cursor& c, unsigned depth) {
    if (depth > kMaxTypeNesting)
        throw Damage{"a datatype nests too deeply"};
    const unsigned char* head = c.take(8);
    const unsigned cls = head[0] & 0x0f;
    const unsigned version = head[0] >> 4;
    const std::uint32_t flags = static_cast<std::uint32_t>(little(head + 1, 3));
    const std::uint64_t size = little(head + 4, 4);
    if (version < 1 || version > 4)
        throw Damage{"a datatype has unknown version " + std::to_string(version)};
    if (size == 0)
        throw Damage{"a datatype has size 0"};
    const std::uint64_t bits = 8 * size;
    switch (cls) {
        case 0:    // integer
        case 4: {  // bitfield
            const unsigned char* p = c.take(4);
            checkBits(bits, little(p, 2), little(p + 2, 2), "precision");
            break;
        }
        case 1: {  // floating point
            const unsigned char* p = c.take(12);
            checkBits(bits, little(p, 2), little(p + 2, 2), "precision");
            checkBits(bits, p[4], p[5], "exponent");
            checkBits(bits, p[6], p[7], "mantissa");
            checkBits(bits, (flags >> 8) & 0xff, 1, "sign");
            break;
        }
        case 2:
            c.take(2);
            break;  // time
        case 3:
            break;  // string
        case 5:
            c.take(flags & 0xff);
            break;  // opaque: the tag, copied with its length
        case 6:
            checkCompound(c, version, flags, size, depth);
            break;
        case 7:
            break;  // reference
        case 8: {   // enumeration
            const Type base = checkDatatype(c, depth + 1);
            if (base.cls != 0 || base.size != size)
                throw Damage{"an enumeration's base type does not match it"};
            const unsigned members = flags & 0xffff;
            for (unsigned m = 0; m < members; ++m) {
                const std::size_t name = terminatedName(c, "an enumeration name");
                c.take(version >= 3 ? name + 1 : padded8(name + 1));
            }
            c.take(static_cast<std::size_t>(times(members, size, "an enumeration's values")));
            break;
        }
        case 9:
            checkDatatype(c, depth + 1);
            break;  // variable length: the base type
        case 10: {  // array
            if (version < 2)
                throw Damage{"an array datatype has version 1"};
            const unsigned rank = c.take(1)[0];
            if (version == 2)
                c.take(3);
            if (rank == 0 || rank > kMaxRank)
                throw Damage{"an array datatype has rank " + std::to_string(rank)};
            std::uint64_t count = 1;
            const unsigned char* dims = c.take(4 * rank);
            for (unsigned d = 0; d < rank; ++d)
                count = times(count, little(dims + 4 * d, 4), "an array's size");
            if (version == 2)
                c.take(4 * rank);  // permutation
            const Type base = checkDatatype(c, depth + 1);
            if (times(base.size, count, "an array's size") != size)
                throw Damage{"an array datatype's size does not match its elements"};
            break;
        }
        default:
            throw Damage{"a datatype has unknown class " + std::to_string(cls)};
    }
    return {size, cls};
}

struct Space {
    std::uint64_t elements;
};

Space checkDataspace(Cursor& c, const StoredFile& file) {
    const unsigned char* head = c.take(2);
    const unsigned version = head[0];
    const unsigned rank = head[1];
    unsigned flags = 0;
    bool simple = rank > 0;
    bool null = false;
    if (version == 1) {
        flags = c.take(1)[0];
        c.take(5);
    } else if (version == 2) {
        flags = c.take(1)[0];
        const unsigned kind = c.take(1)[0];
        if (kind > 2 || (kind != 1 && rank != 0))
            throw Damage{"a dataspace's kind does not match its rank"};
        simple = kind == 1;
        null = kind == 2;
    } else {
        throw Damage{"a dataspace has unknown version " + std::to_string(version)};
    }
    if (rank > kMaxRank)
        throw Damage{"a dataspace has rank " + std::to_string(rank)};
    const unsigned char* dims = c.take(rank * file.lengthSize);
    const unsigned char* maxima = (flags & 1) ? c.take(rank * file.lengthSize) : nullptr;
    std::uint64_t elements = 1;
    for (unsigned d = 0; d < rank; ++d) {
        const std::uint64_t size = file.size(dims + d * file.lengthSize);
        if (maxima) {
            const std::uint64_t most = file.size(maxima + d * file.lengthSize);
            const bool unlimited = most == ~std::uint64_t{0} >> (64 - 8 * file.lengthSize);
            if (!unlimited && size > most)
                throw Damage{"a dataspace is larger than its maximum"};
        }
        elements = times(elements, size, "a dataspace's element count");
    }
    if (null)
        elements = 0;
    else if (!simple)
        elements = 1;
    return {elements};
}

// A shared message: the address of the header that holds the message itself.
std::uint64_t checkShared(Cursor& c, const StoredFile& file) {
    const unsigned version = c.take(1)[0];
    if (version == 1) {
        c.take(7);  // unused kind and reserved bytes
        c.take(file.lengthSize);
    } else if (version == 2 || version == 3) {
        const unsigned kind = c.take(1)[0];
        if (kind == 1)
            throw Damage{
                "a message is kept in the file's shared message table, which this library does not "
                "read"};
    } else {
        throw Damage{"a shared message has unknown version " + std::to_string(version)};
    }
    const std::uint64_t address = file.address(c.take(file.addressSize));
    if (file.undefined(address) || !file.inside(address, 1))
        throw Damage{"a shared message lies outside the file"};
    return address;
}

void checkLayout(Cursor& c, const StoredFile& file, HeaderFacts& facts) {
    const unsigned version = c.take(1)[0];
    if (version == 1 || version == 2) {
        const unsigned char* head = c.take(7);
        const unsigned rank = head[0];
        const unsigned cls = head[1];
        if (rank == 0 || rank > kMaxLayoutRank)
            throw Damage{"a layout has " + std::to_string(rank) + " dimensions"};
        if (cls > 2)
            throw Damage{"a layout has unknown class " + std::to_string(cls)};
        const std::uint64_t address = cls == 0 ? 0 : file.address(c.take(file.addressSize));
        const unsigned char* dims = c.take(4 * rank);
        if (cls == 0) {
            const std::uint64_t size = c.number(4);
            c.take(static_cast<std::size_t>(size));
            facts.compactSize = size;
        } else if (cls == 1) {
            std::uint64_t size = 1;
            for (unsigned d = 0; d < rank; ++d)
                size = times(size, little(dims + 4 * d, 4), "a layout's size");
            checkAddress(file, address, size, "a dataset's contiguous data");
        } else {
            c.take(4);  // element size
            checkAddress(file, address, 1, "a dataset's chunk index");
            if (!file.undefined(address))
                facts.chunkIndex = address;
            facts.chunkRank = rank;
        }
        return;
    }
    if (version != 3 && version != 4)
        throw Damage{"a layout has unknown version " + std::to_string(version)};
    const unsigned cls = c.take(1)[0];
    if (cls == 0) {
        const std::uint64_t size = c.number(2);
        c.take(static_cast<std::size_t>(size));
        facts.compactSize = size;
    } else if (cls == 1) {
        const std::uint64_t address = file.address(c.take(file.addressSize));
        const std::uint64_t size = file.size(c.take(file.lengthSize));
        checkAddress(file, address, size, "a dataset's contiguous data");
    } else if (cls == 2 && version == 3) {
        const unsigned rank = c.take(1)[0];
        if (rank == 0 || rank > kMaxLayoutRank)
            throw Damage{"a layout has " + std::to_string(rank) + " dimensions"};
        const std::uint64_t address = file.address(c.take(file.addressSize));
        const unsigned char* dims = c.take(4 * rank);
        for (unsigned d = 0; d < rank; ++d)
            if (little(dims + 4 * d, 4) == 0)
                throw Damage{"a chunk has a dimension of size 0"};
        checkAddress(file, address, 1, "a dataset's chunk index");
        if (!file.undefined(address))
            facts.chunkIndex = address;
        facts.chunkRank = rank;
    } else if (cls == 2) {  // version 4: the newer chunk indexes, checked for their address only
        const unsigned flags = c.take(1)[0];
        const unsigned rank = c.take(1)[0];
        const unsigned width = c.take(1)[0];
        if (rank == 0 || rank > kMaxLayoutRank)
            throw Damage{"a layout has " + std::to_string(rank) + " dimensions"};
        if (width == 0 || width > 8)
            throw Damage{"a layout's dimension sizes are " + std::to_string(width) + " bytes wide"};
        c.take(rank * width);
        const unsigned index = c.take(1)[0];
        switch (index) {
            case 1:
                if (flags & 2)
                    c.take(file.lengthSize + 4);
                break;
            case 2:
                break;
            case 3:
                c.take(1);
                break;
            case 4:
                c.take(5);
                break;
            case 5:
                c.take(6);
                break;
            default:
                throw Damage{"a layout has unknown chunk index " + std::to_string(index)};
        }
        checkAddress(file, file.address(c.take(file.addressSize)), 1, "a dataset's chunk index");
    } else if (cls == 3 && version == 4) {  // virtual: the global heap holding the mapping
        checkAddress(file, file.address(c.take(file.addressSize)), 1,
                     "a virtual dataset's mapping");
        c.take(4);
    } else {
        throw Damage{"a layout has unknown class " + std::to_string(cls)};
    }
}

void checkAttribute(Cursor& c, const StoredFile& file, const SharedHeaderCheck& sharedHeader) {
    const unsigned version = c.take(1)[0];
    if (version < 1 || version > 3)
        throw Damage{"an attribute has unknown version " + std::to_string(version)};
    // Version 1 has a reserved byte here that HDF5 skips: a damaged one is harmless, and it
    // must not be taken for flags.
    const unsigned stored = c.take(1)[0];
    const unsigned flags = version == 1 ? 0 : stored;
    if ((flags & ~3u) != 0)
        throw Damage{"an attribute has unknown flags"};
    const std::size_t nameSize = static_cast<std::size_t>(c.number(2));
    const std::size_t typeSize = static_cast<std::size_t>(c.number(2));
    const std::size_t spaceSize = static_cast<std::size_t>(c.number(2));
    if (version == 3)
        c.take(1);  // character set of the name
    auto part = [&](std::size_t size) { return c.take(version == 1 ? padded8(size) : size); };
    const unsigned char* name = part(nameSize);
    if (nameSize == 0 || std::memchr(name, 0, nameSize) != name + nameSize - 1)
        throw Damage{"an attribute's name does not end where its size says"};
    Cursor typeBytes(part(typeSize), typeSize, "an attribute's datatype");
    std::uint64_t elementSize = 0;
    if (flags & 1) {
        const HeaderFacts committed = sharedHeader(checkShared(typeBytes, file));
        if (!committed.typeSize)
            throw Damage{"an attribute's shared datatype names no datatype"};
        elementSize = *committed.typeSize;
    } else {
        elementSize = checkDatatype(typeBytes, 0).size;
    }
    Cursor spaceBytes(part(spaceSize), spaceSize, "an attribute's dataspace");
    if (flags & 2)
        throw Damage{"an attribute's dataspace is shared, which HDF5 never writes"};
    const Space space = checkDataspace(spaceBytes, file);
    const std::uint64_t data = times(space.elements, elementSize, "an attribute's value size");
    if (data > c.left())
        throw Damage{"an attribute's value runs past the end of its message"};
}

void checkFill(Cursor& c) {
    const unsigned version = c.take(1)[0];
    bool hasValue = false;
    if (version == 1 || version == 2) {
        const unsigned char* p = c.take(3);  // allocation time, fill time, defined
        hasValue = p[2] != 0;
    } else if (version == 3) {
        const unsigned flags = c.take(1)[0];
        hasValue = (flags & 0x20) != 0;
    } else {
        throw Damage{"a fill value has unknown version " + std::to_string(version)};
    }
    if (!hasValue)
        return;
    const std::int64_t size = static_cast<std::int32_t>(c.number(4));
    if (size > 0)
        c.take(static_cast<std::size_t>(size));
}

void checkPipeline(Cursor& c) {
    const unsigned version = c.take(1)[0];
    if (version != 1 && version != 2)
        throw Damage{"a filter pipeline has unknown version " + std::to_string(version)};
    const unsigned filters = c.take(1)[0];
    if (filters > kMaxFilters)
        throw Damage{"a filter pipeline lists " + std::to_string(filters) + " filters"};
    if (version == 1)
        c.take(6);
    for (unsigned f = 0; f < filters; ++f) {
        const std::uint64_t id = c.number(2);
        const std::size_t nameSize =
            version == 1 || id >= 256 ? static_cast<std::size_t>(c.number(2)) : 0;
        c.take(2);  // flags
        const std::size_t values = static_cast<std::size_t>(c.number(2));
        if (nameSize > 0) {
            const unsigned char* name = c.take(nameSize);
            if (!std::memchr(name, 0, nameSize))
                throw Damage{"a filter's name has no terminator"};
        }
        c.take(4 * values);
        if (version == 1 && values % 2)
            c.take(4);
    }
}

void checkLink(Cursor& c, const StoredFile& file) {
    if (c.take(1)[0] != 1)
        throw Damage{"a link has an unknown version"};
    const unsigned flags = c.take(1)[0];
    if (flags & ~0x1fu)
        throw Damage{"a link has unknown flags"};
    const unsigned kind = (flags & 0x08) ? c.take(1)[0] : 0;
    if (flags & 0x04)
        c.take(8);  // creation order
    if (flags & 0x10)
        c.take(1);  // character set
    const std::uint64_t nameSize = c.number(std::size_t{1} << (flags & 3));
    if (nameSize == 0)
        throw Damage{"a link has an empty name"};
    c.take(static_cast<std::size_t>(nameSize));
    if (kind == 0) {
        const std::uint64_t address = file.address(c.take(file.addressSize));
        if (file.undefined(address) || !file.inside(address, 1))
            throw Damage{"a link points outside the file"};
    } else {
        c.take(static_cast<std::size_t>(c.number(2)));
    }
}

// Link and attribute info: the addresses of the dense storage (not itself read here).
void checkDenseInfo(Cursor& c, const StoredFile& file, std::size_t orderBytes) {
    if (c.take(1)[0] != 0)
        throw Damage{"a link or attribute index has an unknown version"};
    const unsigned flags = c.take(1)[0];
    if (flags & 1)
        c.take(orderBytes);
    const int addresses = (flags & 2) ? 3 : 2;
    for (int a = 0; a < addresses; ++a)
        checkAddress(file, file.address(c.take(file.addressSize)), 1,
                     "a dense link or attribute index");
}

}  // namespace

void checkMessage(unsigned type, bool shared, Cursor body, const StoredFile& file,
                  HeaderFacts& facts, const SharedHeaderCheck& sharedHeader) {
    if (shared) {
        const std::uint64_t address = checkShared(body, file);
        const HeaderFacts committed = sharedHeader(address);
        if (type == kDatatype)
            facts.typeSize = committed.typeSize;
        return;
    }
    switch (type) {
        case kDataspace:
            facts.elements = checkDataspace(body, file).elements;
            break;
        case kDatatype:
            facts.typeSize = checkDatatype(body, 0).size;
            break;
        case kLinkInfo:
            checkDenseInfo(body, file, 8);
            facts.linkInfo = true;
            break;
        case kAttributeInfo:
            checkDenseInfo(body, file, 2);
            break;
        case kFillOld:
            body.take(static_cast<std::size_t>(body.number(4)));
            break;
        case kFill:
            checkFill(body);
            break;
        case kLink: {
            const std::size_t size = body.left();
            const unsigned char* bytes = body.take(size);
            facts.links.emplace_back(bytes, bytes + size);
            break;
        }
        case kExternalFiles: {
            body.take(4);
            body.take(2);
            const std::size_t used = static_cast<std::size_t>(body.number(2));
            checkAddress(file, file.address(body.take(file.addressSize)), 1,
                         "an external file list");
            body.take(static_cast<std::size_t>(
                times(used, 3 * file.lengthSize, "an external file list")));
            break;
        }
        case kLayout:
            checkLayout(body, file, facts);
            break;
        case kGroupInfo: {
            body.take(1);
            const unsigned flags = body.take(1)[0];
            body.take(((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0));
            break;
        }
        case kPipeline:
            checkPipeline(body);
            break;
        case kAttribute:
            checkAttribute(body, file, sharedHeader);
            break;
        case kComment:
            terminatedName(body, "a comment");
            break;
        case kOldTime:
            body.take(14);
            break;
        case kTime:
            body.take(8);
            break;
        case kRefCount:
            body.take(5);
            break;
        case kSymbolTable: {
            const std::uint64_t tree = file.address(body.take(file.addressSize));
            const std::uint64_t heap = file.address(body.take(file.addressSize));
            if (!file.inside(tree, 1) || !file.inside(heap, 1))
                throw Damage{"a group's member index lies outside the file"};
            if (facts.symbolTable)
                throw Damage{"the header holds two symbol tables"};
            facts.symbolTable = SymbolTable{tree, heap};
            break;
        }
        default:
            break;  // not decoded by the calls this library makes, or unknown to HDF5 too
    }
}

void checkLinks(const HeaderFacts& facts, const StoredFile& file) {
    if (!facts.linkInfo)
        return;
    for (const std::vector<unsigned char>& link : facts.links) {
        Cursor body(link.data(), link.size(), "a link message");
        checkLink(body, file);
    }
}

}  // namespace Quellmar::qmxfile
