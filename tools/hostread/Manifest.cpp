#include "Manifest.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace Quellmar::hostread {
namespace {

// Vector type codes and member type codes as the interface library numbers them.
constexpr ElementType kTypes[] = {
    {"int8", 19, 20, 1},  {"uint8", 16, 16, 1}, {"int16", 5, 5, 2}, {"uint16", 15, 15, 2},
    {"int32", 0, 0, 4},   {"uint32", 1, 1, 4},  {"int64", 7, 7, 8}, {"uint64", 8, 8, 8},
    {"float32", 2, 2, 4}, {"float64", 3, 3, 8},
};

const char* kindWord(EntryKind kind) {
    switch (kind) {
        case EntryKind::Group:
            return "group";
        case EntryKind::Blob:
            return "blob";
        case EntryKind::Design:
            return "design";
        case EntryKind::Vector:
            return "vector";
        case EntryKind::CompoundVector:
            return "cvector";
        case EntryKind::Array:
            return "array";
        case EntryKind::CompoundArray:
            return "carray";
    }
    return "?";
}

class LineReader {
public:
    LineReader(int number, const std::string& line) : m_number(number) {
        std::istringstream in(line);
        m_words.assign(std::istream_iterator<std::string>(in),
                       std::istream_iterator<std::string>());
    }
    bool empty() const { return m_words.empty(); }
    std::size_t left() const { return m_words.size() - m_next; }
    std::string word(const char* what) {
        if (m_next >= m_words.size())
            fail(std::string("missing ") + what);
        return m_words[m_next++];
    }
    long long number(const char* what) {
        const std::string text = word(what);
        std::size_t used = 0;
        long long value = -1;
        try {
            value = std::stoll(text, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used != text.size() || value < 0)
            fail(std::string("bad ") + what + " '" + text + "'");
        return value;
    }
    const ElementType* type() {
        const std::string text = word("type");
        const ElementType* t = elementTypeByName(text);
        if (!t)
            fail("unknown type '" + text + "'");
        return t;
    }
    bool storage() {
        const std::string text = word("storage kind");
        if (text != "opaque" && text != "string")
            fail("storage kind must be opaque or string");
        return text == "string";
    }
    Member member() {
        const std::string text = word("member");
        const auto colon = text.find(':');
        if (colon == std::string::npos || colon == 0)
            fail("member must be name:type");
        Member m;
        m.name = text.substr(0, colon);
        std::string type = text.substr(colon + 1);
        const auto bracket = type.find('[');
        if (bracket != std::string::npos) {
            if (type.back() != ']')
                fail("bad member count in '" + text + "'");
            const std::string count = type.substr(bracket + 1, type.size() - bracket - 2);
            std::size_t used = 0;
            try {
                m.count = std::stoull(count, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != count.size() || m.count == 0)
                fail("bad member count in '" + text + "'");
            type = type.substr(0, bracket);
        }
        m.type = elementTypeByName(type);
        if (!m.type)
            fail("unknown member type '" + type + "'");
        return m;
    }
    [[noreturn]] void fail(const std::string& why) const {
        throw ParseError("manifest line " + std::to_string(m_number) + ": " + why);
    }

private:
    int m_number;
    std::vector<std::string> m_words;
    std::size_t m_next = 0;
};

Entry parseEntry(LineReader& in) {
    Entry e;
    const std::string kind = in.word("kind");
    if (kind == "group") {
        e.kind = EntryKind::Group;
        e.stringData = in.storage();
        e.group = in.word("group");
    } else if (kind == "blob") {
        e.kind = EntryKind::Blob;
        e.stringData = in.storage();
        e.group = in.word("group");
        e.name = in.word("name");
        e.rows = in.number("size");
    } else if (kind == "design") {
        e.kind = EntryKind::Design;
        e.name = in.word("name");
        e.rows = in.number("size");
    } else if (kind == "vector" || kind == "array") {
        e.kind = kind == "vector" ? EntryKind::Vector : EntryKind::Array;
        e.group = in.word("group");
        e.name = in.word("name");
        e.type = in.type();
        e.rows = in.number("rows");
        if (e.kind == EntryKind::Array)
            e.cols = in.number("cols");
    } else if (kind == "cvector" || kind == "carray") {
        e.kind = kind == "cvector" ? EntryKind::CompoundVector : EntryKind::CompoundArray;
        e.group = in.word("group");
        e.name = in.word("name");
        e.rows = in.number("rows");
        if (e.kind == EntryKind::CompoundArray)
            e.cols = in.number("cols");
        if (in.left() == 0)
            in.fail("a compound needs members");
        while (in.left() > 0)
            e.members.push_back(in.member());
    } else {
        in.fail("unknown entry kind '" + kind + "'");
    }
    if (in.left() > 0)
        in.fail("unexpected '" + in.word("") + "'");
    return e;
}

}  // namespace

const ElementType* elementTypeByName(const std::string& name) {
    for (const ElementType& t : kTypes)
        if (name == t.name)
            return &t;
    return nullptr;
}

const ElementType* elementTypeByVectorType(int vectorType) {
    for (const ElementType& t : kTypes)
        if (t.vectorType == vectorType)
            return &t;
    return nullptr;
}

const ElementType* elementTypeByMemberType(int memberType) {
    for (const ElementType& t : kTypes)
        if (t.memberType == memberType)
            return &t;
    return nullptr;
}

std::string Entry::key() const {
    std::string k = kindWord(kind);
    if (kind == EntryKind::Design)
        return k + " " + name;
    if (kind == EntryKind::Group)
        return k + " " + group;
    return k + " " + group + "/" + name;
}

std::vector<Entry> parseManifest(const std::string& text) {
    std::vector<Entry> entries;
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const auto hash = line.find('#');
        if (hash != std::string::npos)
            line.resize(hash);
        LineReader reader(number, line);
        if (!reader.empty())
            entries.push_back(parseEntry(reader));
    }
    return entries;
}

std::vector<Entry> readManifest(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw ParseError("cannot read manifest " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return parseManifest(text.str());
}

std::string formatManifest(const std::vector<Entry>& entries) {
    std::ostringstream out;
    for (const Entry& e : entries) {
        out << kindWord(e.kind);
        if (e.kind == EntryKind::Group || e.kind == EntryKind::Blob)
            out << ' ' << (e.stringData ? "string" : "opaque");
        if (e.kind != EntryKind::Design)
            out << ' ' << e.group;
        if (e.kind != EntryKind::Group)
            out << ' ' << e.name;
        if (e.type)
            out << ' ' << e.type->name;
        if (e.kind != EntryKind::Group)
            out << ' ' << e.rows;
        if (e.kind == EntryKind::Array || e.kind == EntryKind::CompoundArray)
            out << ' ' << e.cols;
        for (const Member& m : e.members) {
            out << ' ' << m.name << ':' << m.type->name;
            if (m.count != 1)
                out << '[' << m.count << ']';
        }
        out << '\n';
    }
    return out.str();
}

std::size_t packedRecordSize(const std::vector<Member>& members) {
    std::size_t size = 0;
    for (const Member& m : members)
        size += m.type->size * m.count;
    return size;
}

}  // namespace Quellmar::hostread
