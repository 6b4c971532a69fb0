// qmx cat: a vector or array as text, one row a line.
#include "Blobs.h"
#include "Commands.h"
#include "Container.h"
#include "CrashGuard.h"
#include "ElementTypes.h"
#include "Describe.h"
#include "Tree.h"
#include "Vectors.h"

#include <iostream>

namespace Quellmar::qmx {
namespace {

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (const char c : text)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

void printTyped(const VectorData& v, bool csv) {
    const std::size_t size = v.elementBytes();
    const char* separator = csv ? "," : " ";
    std::size_t k = 0;
    std::string line;
    for (int r = 0; r < v.info.rows; ++r) {
        line.clear();
        for (int c = 0; c < v.info.cols; ++c, ++k) {
            if (c)
                line += separator;
            line += formatElement(v.readType, v.bytes.data() + k * size);
        }
        std::cout << line << '\n';
    }
}

void printCompound(const VectorData& v, bool csv, bool isArray) {
    // Arrays of records: each record on its own line, led by its row and column.
    if (csv) {
        std::string header = isArray ? "row,col" : "";
        for (const CompoundMember& m : v.members) {
            for (unsigned long long i = 0; i < m.count; ++i) {
                if (!header.empty())
                    header += ',';
                header += csvField(m.count == 1 ? m.name : m.name + "[" + std::to_string(i) + "]");
            }
        }
        std::cout << header << '\n';
    }
    const std::size_t size = v.layout.size;
    for (std::size_t k = 0; k < v.elementCount(); ++k) {
        std::vector<std::string> cells;
        if (isArray) {
            const auto cols = static_cast<std::size_t>(v.info.cols);
            cells.push_back(std::to_string(static_cast<long long>(k / cols) + v.firstRow));
            cells.push_back(std::to_string(k % cols));
        }
        for (std::string& f : formatRecord(v.members, v.layout, v.bytes.data() + k * size)) {
            // An array member's elements become columns of their own in CSV.
            if (csv)
                for (char& c : f)
                    if (c == ' ')
                        c = ',';
            cells.push_back(std::move(f));
        }
        std::string line;
        for (std::size_t i = 0; i < cells.size(); ++i)
            line += (i ? (csv ? "," : "\t") : "") + cells[i];
        std::cout << line << '\n';
    }
}

int runCat(const Args& args) {
    const std::string& file = args.positional(0);
    const std::string group = groupPath(args.positional(1));
    const std::string& name = args.positional(2);
    const std::string path = joinPath(group, name);
    std::optional<RowRange> range;
    if (const auto text = args.value("--range"))
        range = parseRowRange("--range", *text);

    Container container(file, Access::Read, args.has("--native"));
    Inspector inspector(container);
    const int kind = inspector.kindOf(path);
    if (kind == kNoEntry)
        throw Failure(file + ": " + path + ": no such vector or array");
    if (kind == QMXL_KIND_UNKNOWN)
        throw Failure(file + ": " + path + ": cannot be opened (damaged?)");
    if (kind != QMXL_KIND_TYPED && kind != QMXL_KIND_COMPOUND)
        throw Failure(
            file + ": " + path + ": is " + kindPhrase(kind) + ", not a vector" +
            (kind == QMXL_KIND_OPAQUE || kind == QMXL_KIND_STRING ? " (use 'qmx get')" : ""));
    requireAddressable(file, path, name);
    crashGuardAt(path);

    VectorReaders readers;
    container.bind(readers.vectors);
    container.bind(readers.arrays);
    const Description d = inspector.describe(Node{path, group, name, kind, 1});
    VectorData v;
    try {
        v = readVector(readers, container.file(), group, name, kind == QMXL_KIND_COMPOUND,
                       plausibleReadLimit(file), range);
    } catch (const Failure& e) {
        throw Failure(file + ": " + e.what());
    }
    if (kind == QMXL_KIND_COMPOUND)
        printCompound(v, args.has("--csv"), d.isArray);
    else
        printTyped(v, args.has("--csv"));
    return kExitOk;
}

}  // namespace

Command catCommand() {
    return {"cat",
            "FILE PATH NAME",
            "Print a vector or array as text, one row a line.",
            "PATH is the group holding the vector (\"results\" or \"/results/mesh\"), NAME the "
            "vector.\n"
            "Numbers are written so that they read back to the same value. A vector prints one\n"
            "element a line, an array one row a line. Records of a compound vector print one a\n"
            "line, members separated by tabs (array members by spaces); records of a compound\n"
            "array are led by their row and column.\n"
            "--range FIRST:COUNT prints only the elements FIRST to FIRST + COUNT - 1 of a vector,\n"
            "the rows FIRST to FIRST + COUNT - 1 of an array; only they are read from the file.",
            {{"", "--csv", "", "comma-separated values; compound vectors get a header line"},
             {"", "--range", "FIRST:COUNT", "only COUNT elements (rows of an array) from FIRST"},
             nativeOption(),
             verboseOption()},
            3,
            3,
            runCat};
}

}  // namespace Quellmar::qmx
