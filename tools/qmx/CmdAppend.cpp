// qmx append: adds elements to a typed vector, or rows to an array, from text.
#include "Blobs.h"
#include "Commands.h"
#include "Container.h"
#include "CrashGuard.h"
#include "Describe.h"
#include "ElementTypes.h"
#include "Tree.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>

namespace Quellmar::qmx {
namespace {

std::string readText(const std::string& source) {
    if (source == "-") {
        std::string text{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
        if (std::cin.bad())
            throw Failure("error reading standard input");
        return text;
    }
    std::ifstream in(source, std::ios::binary);
    if (!in)
        throw Failure(source + ": " + std::strerror(errno));
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        throw Failure(source + ": read error");
    return text;
}

std::vector<std::string> tokens(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (true) {
        at = text.find_first_not_of(" \t\r\n,", at);
        if (at == std::string::npos)
            return out;
        const std::size_t end = text.find_first_of(" \t\r\n,", at);
        out.push_back(text.substr(at, end - at));
        at = end;
    }
}

// The stored type's range, for integers; the elements are handed over as 64-bit values and
// converted by the library, which would clip what does not fit instead of refusing it.
struct IntRange {
    long long low;
    unsigned long long high;
};

IntRange intRange(int type) {
    switch (type) {
        case VT_INT8:
            return {-128, 127};
        case VT_UINT8:
            return {0, 255};
        case VT_INT16:
            return {-32768, 32767};
        case VT_UINT16:
            return {0, 65535};
        case VT_INT32:
            return {std::numeric_limits<std::int32_t>::min(),
                    static_cast<unsigned long long>(std::numeric_limits<std::int32_t>::max())};
        case VT_UINT32:
            return {0, std::numeric_limits<std::uint32_t>::max()};
        case VT_INT64:
            return {std::numeric_limits<long long>::min(),
                    static_cast<unsigned long long>(std::numeric_limits<long long>::max())};
        default:  // VT_UINT64
            return {0, std::numeric_limits<unsigned long long>::max()};
    }
}

bool isFloat(int type) {
    return type == VT_FLOAT || type == VT_DOUBLE;
}
bool isUnsigned(int type) {
    return type == VT_UINT8 || type == VT_UINT16 || type == VT_UINT32 || type == VT_UINT64;
}

// The numbers in the representation they are appended in (double, int64 or uint64), packed.
struct Parsed {
    tagVectorDataTypes given = VT_DOUBLE;
    std::vector<unsigned char> bytes;
    int count = 0;
};

template <class T>
void put(Parsed& p, T value) {
    const auto* raw = reinterpret_cast<const unsigned char*>(&value);
    p.bytes.insert(p.bytes.end(), raw, raw + sizeof value);
}

Parsed parseElements(const std::vector<std::string>& words, int type) {
    Parsed p;
    p.given = isFloat(type) ? VT_DOUBLE : isUnsigned(type) ? VT_UINT64 : VT_INT64;
    const IntRange range = intRange(type);
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        const char* begin = w.data();
        const char* end = w.data() + w.size();
        std::from_chars_result r{};
        bool fits = true;
        if (isFloat(type)) {
            double v = 0;
            r = std::from_chars(begin, end, v);
            fits = type == VT_DOUBLE || !std::isfinite(v) ||
                   std::fabs(v) <= std::numeric_limits<float>::max();
            put(p, v);
        } else if (isUnsigned(type)) {
            unsigned long long v = 0;
            // A negative integer is a number that does not fit, not a malformed one.
            const bool negative = w.size() > 1 && w[0] == '-';
            r = std::from_chars(begin + (negative ? 1 : 0), end, v);
            fits = !negative && v <= range.high;
            put(p, v);
        } else {
            long long v = 0;
            r = std::from_chars(begin, end, v);
            fits = v >= range.low && (v < 0 || static_cast<unsigned long long>(v) <= range.high);
            put(p, v);
        }
        if (r.ec == std::errc::result_out_of_range || (r.ec == std::errc() && r.ptr == end && !fits))
            throw Failure("element " + std::to_string(i + 1) + ": '" + w + "' does not fit " +
                          elementTypeName(type));
        if (r.ec != std::errc() || r.ptr != end)
            throw Failure("element " + std::to_string(i + 1) + ": '" + w + "' is not " +
                          (isFloat(type) ? "a number" : "an integer"));
        if (p.count == std::numeric_limits<int>::max())
            throw Failure("more elements than one append takes");
        ++p.count;
    }
    return p;
}

int runAppend(const Args& args) {
    const std::string& file = args.positional(0);
    const std::string group = groupPath(args.positional(1));
    const std::string& name = args.positional(2);
    const std::string source = args.positionalOr(3, "-");
    const std::string path = joinPath(group, name);
    requireAddressable(file, path, name);
    const std::vector<std::string> words = tokens(readText(source));

    Container container(file, Access::Write, args.has("--native"));
    Inspector inspector(container);
    const int kind = inspector.kindOf(path);
    if (kind == kNoEntry)
        throw Failure(file + ": " + path + ": no such vector or array");
    if (kind == QMXL_KIND_UNKNOWN)
        throw Failure(file + ": " + path + ": cannot be opened (damaged?)");
    if (kind == QMXL_KIND_COMPOUND)
        throw Failure(file + ": " + path +
                      ": is a compound vector; qmx appends numbers to typed vectors and arrays");
    if (kind != QMXL_KIND_TYPED)
        throw Failure(file + ": " + path + ": is " + kindPhrase(kind) + ", not a vector");
    crashGuardAt(path);

    const Description d = inspector.describe(Node{path, group, name, kind, 1});
    if (!d.problem.empty())
        throw Failure(file + ": " + path + ": " + d.problem);
    if (words.empty())
        throw Failure(file + ": " + path + ": nothing to append (the input holds no numbers)");
    Parsed parsed;
    try {
        parsed = parseElements(words, d.elementType);
    } catch (const Failure& e) {
        throw Failure(file + ": " + path + ": " + e.what());
    }

    const int cols = d.isArray ? d.cols : 1;
    if (parsed.count % cols != 0)
        throw Failure(file + ": " + path + ": " + std::to_string(parsed.count) +
                      " numbers do not make whole rows of " + std::to_string(cols));
    const int rows = parsed.count / cols;
    try {
        if (d.isArray) {
            QMXArrayDAO arrays;
            container.bind(arrays);
            arrays.appendRows(daoGroup(group), name, parsed.given, rows, cols,
                              parsed.bytes.data());
        } else {
            QMXVectorDAO vectors;
            container.bind(vectors);
            vectors.append(daoGroup(group), name, parsed.given, rows, parsed.bytes.data());
        }
        container.flush();
    } catch (const std::exception& e) {
        container.revert();
        throw Failure(file + ": " + path + ": " + e.what());
    }
    const char* unit = d.isArray ? " rows" : " elements";
    std::cout << "appended " << rows << (rows == 1 ? (d.isArray ? " row" : " element") : unit)
              << " to " << path << ": " << d.rows << " -> " << static_cast<long long>(d.rows) + rows << unit << "\n";
    return kExitOk;
}

}  // namespace

Command appendCommand() {
    return {"append",
            "FILE PATH NAME [IN]",
            "Add elements to a vector, or rows to an array, from text.",
            "Reads numbers from IN (standard input when IN is missing or \"-\"), separated by\n"
            "blanks, commas or line breaks, as 'qmx cat' prints them, and appends them to the\n"
            "typed vector NAME in the group PATH without rewriting what is stored. An array\n"
            "takes whole rows: the count must be a multiple of its columns; \"Rows\" grows with\n"
            "them. Every number must fit the stored element type. Compound vectors are not\n"
            "appended to by qmx.",
            {nativeOption(), verboseOption()},
            3,
            4,
            runAppend};
}

}  // namespace Quellmar::qmx
