// Attribute values for display. The file library lists names only, so the type is taken from
// the attribute names this library writes, and guessed (text, then integer) for others.
#ifndef QMX_TOOL_ATTRIBUTES_H
#define QMX_TOOL_ATTRIBUTES_H

#include <string>
#include <vector>

namespace Quellmar::qmx {

struct AttributeValue {
    enum class Type { Int, UInt64, String, Unreadable };
    std::string name;
    Type type = Type::Unreadable;
    long long integer = 0;
    unsigned long long unsignedInteger = 0;
    std::string text;

    std::string display() const;  // 3, 18446744073709551615, "abc", <unreadable>
    const char* typeName() const;
};

// Attributes of the group or dataset at path, in the file library's order. Returns false when
// the object cannot be opened or its attributes cannot be listed.
bool readAttributes(int file, const std::string& path, bool isGroup,
                    std::vector<AttributeValue>& out);

// Whether this library writes an attribute of that name (and so knows its type).
bool isLibraryAttribute(const std::string& name);

// Whether the library keeps an attribute of that name for itself: checksums and the root's
// format marks. The checks speak for them; listings leave them out unless asked.
bool isBookkeepingAttribute(const std::string& name);

// Quotes text for one line of terminal output: C escapes for control and non-ASCII bytes.
std::string quoteForTerminal(const std::string& text);

}  // namespace Quellmar::qmx

#endif
