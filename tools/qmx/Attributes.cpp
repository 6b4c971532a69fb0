#include "Attributes.h"

#include "Handle.h"

#include <cstdio>
#include <cstdlib>
#include <set>

namespace Quellmar::qmx {
namespace {

const std::set<std::string>& intNames() {
    static const std::set<std::string> names = {"Version",
                                                "MaximumIdentifierValueHigh",
                                                "CreationRevision",
                                                "LastModifiedRevision",
                                                "Rows",
                                                "Cols",
                                                "Compound"};
    return names;
}

const std::set<std::string>& stringNames() {
    static const std::set<std::string> names = {"Id", "HashValue", "CreationRevisionString",
                                                "LastModifiedRevisionString"};
    return names;
}

bool readString(int object, const std::string& name, AttributeValue& v) {
    char* text = nullptr;
    if (QMXLgetStringAttribute(object, name.c_str(), &text) < 0 || !text) {
        std::free(text);
        return false;
    }
    v.type = AttributeValue::Type::String;
    v.text = text;
    std::free(text);
    return true;
}

bool readInt(int object, const std::string& name, AttributeValue& v) {
    int value = 0;
    if (QMXLreadAttribute(object, name.c_str(), &value) < 0)
        return false;
    v.type = AttributeValue::Type::Int;
    v.integer = value;
    return true;
}

bool readUInt64(int object, const std::string& name, AttributeValue& v) {
    unsigned long long value = 0;
    if (QMXLreadUInt64Attribute(object, name.c_str(), &value) < 0)
        return false;
    v.type = AttributeValue::Type::UInt64;
    v.unsignedInteger = value;
    return true;
}

AttributeValue readOne(int object, const std::string& name) {
    AttributeValue v;
    v.name = name;
    if (intNames().count(name)) {
        readInt(object, name, v);
    } else if (name == "MaximumIdentifierValue") {
        readUInt64(object, name, v);
    } else if (stringNames().count(name)) {
        readString(object, name, v);
    } else if (!readString(object, name, v)) {
        // A 32-bit read clips large unsigned values, so non-negative ones are read again wide.
        if (readInt(object, name, v)) {
            if (v.integer >= 0)
                readUInt64(object, name, v);
        } else {
            readUInt64(object, name, v);
        }
    }
    return v;
}

}  // namespace

bool isLibraryAttribute(const std::string& name) {
    return intNames().count(name) || stringNames().count(name) || name == "MaximumIdentifierValue";
}

bool isBookkeepingAttribute(const std::string& name) {
    static const std::set<std::string> names = {"QMZ_CRC32C",      "QMZ_SLICE_CRC32C",
                                                "QMZ_ATTR_CRC32C", "QMZ_CHECKSUMS",
                                                "QMZ_FORMAT",      "QMZ_FORMAT_VERSION"};
    return names.count(name) != 0;
}

std::string quoteForTerminal(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string AttributeValue::display() const {
    switch (type) {
        case Type::Int:
            return std::to_string(integer);
        case Type::UInt64:
            return std::to_string(unsignedInteger);
        case Type::String:
            return quoteForTerminal(text);
        case Type::Unreadable:
            break;
    }
    // An array of the library's own, shown by what it is rather than as a failure.
    if (name == "QMZ_SLICE_CRC32C")
        return "<a checksum per slice>";
    return "<unreadable>";
}

const char* AttributeValue::typeName() const {
    switch (type) {
        case Type::Int:
            return "int32";
        case Type::UInt64:
            return "uint64";
        case Type::String:
            return "string";
        case Type::Unreadable:
            break;
    }
    return "unknown";
}

bool readAttributes(int file, const std::string& path, bool isGroup,
                    std::vector<AttributeValue>& out) {
    out.clear();
    std::vector<std::string> names;
    if (!listAttributes(file, path, names))
        return false;
    if (names.empty())
        return true;
    ObjectHandle object(isGroup ? QMXLopenGroup(file, path.c_str())
                                : QMXLopenDataset(file, path.c_str()));
    if (!object.valid())
        return false;
    for (const std::string& name : names)
        out.push_back(readOne(object.get(), name));
    return true;
}

}  // namespace Quellmar::qmx
