// qmx ls: the tree of a container with what each entry holds.
#include "Attributes.h"
#include "Commands.h"
#include "Container.h"
#include "CrashGuard.h"
#include "ElementTypes.h"
#include "Describe.h"
#include "Json.h"
#include "Layout.h"
#include "QMXBlobDAO.h"

#include <iostream>

namespace Quellmar::qmx {
namespace {

struct Entry {
    Node node;
    Description description;
    std::vector<AttributeValue> attributes;
    bool attributesReadable = true;
    std::optional<StorageLayout> storage;  // datasets, with -l
};

// Tree drawing for every entry: the branch in front of its name and the bar column its
// attribute lines continue. Computed in two linear passes so that huge groups stay cheap.
struct Prefixes {
    std::vector<std::string> branch;
    std::vector<std::string> under;
};

Prefixes treePrefixes(const std::vector<Entry>& entries) {
    const std::size_t n = entries.size();
    std::vector<bool> hasNextSibling(n, false);
    std::vector<bool> seenAt;
    for (std::size_t i = n; i-- > 0;) {
        const auto d = static_cast<std::size_t>(entries[i].node.depth);
        if (seenAt.size() <= d)
            seenAt.resize(d + 1, false);
        hasNextSibling[i] = seenAt[d];
        seenAt[d] = true;
        seenAt.resize(d + 1);
    }
    Prefixes p;
    std::vector<bool> open;  // per depth: does the ancestor at that depth have a later sibling
    for (std::size_t i = 0; i < n; ++i) {
        const auto d = static_cast<std::size_t>(entries[i].node.depth);
        open.resize(d + 1);
        open[d] = hasNextSibling[i];
        std::string bars;
        for (std::size_t level = 1; level < d; ++level)
            bars += open[level] ? "|   " : "    ";
        const bool hasChild = i + 1 < n && entries[i + 1].node.depth > entries[i].node.depth;
        p.branch.push_back(d == 0 ? "" : bars + (hasNextSibling[i] ? "|-- " : "`-- "));
        p.under.push_back((d == 0 ? "" : bars + (hasNextSibling[i] ? "|   " : "    ")) +
                          (hasChild ? "|     " : "      "));
    }
    return p;
}

void printText(const std::string& file, const std::optional<int>& version,
               const std::vector<Entry>& entries, bool longFormat) {
    std::cout << file;
    if (version)
        std::cout << " (format version " << *version << ")";
    std::cout << "\n";
    const Prefixes prefixes = treePrefixes(entries);
    std::vector<std::string> left;
    std::size_t width = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Node& n = entries[i].node;
        left.push_back(prefixes.branch[i] + (n.depth == 0 ? n.path : n.name) +
                       (n.isGroup() && n.depth > 0 ? "/" : ""));
        width = std::max(width, left.back().size());
    }
    width = std::min<std::size_t>(width + 2, 48);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::cout << left[i];
        std::cout << std::string(left[i].size() < width ? width - left[i].size() : 2, ' ')
                  << entries[i].description.summary() << "\n";
        if (!longFormat)
            continue;
        const std::string& indent = prefixes.under[i];
        if (entries[i].storage)
            std::cout << indent << "layout: " << entries[i].storage->text() << "\n";
        if (!entries[i].attributesReadable)
            std::cout << indent << "(attributes unreadable)\n";
        for (const AttributeValue& a : entries[i].attributes)
            std::cout << indent << "@" << a.name << " = " << a.display() << "\n";
    }
}

Json attributesJson(const std::vector<AttributeValue>& attributes) {
    Json out = Json::object();
    for (const AttributeValue& a : attributes) {
        switch (a.type) {
            case AttributeValue::Type::Int:
                out[a.name] = a.integer;
                break;
            case AttributeValue::Type::UInt64:
                out[a.name] = a.unsignedInteger;
                break;
            case AttributeValue::Type::String:
                out[a.name] = a.text;
                break;
            case AttributeValue::Type::Unreadable:
                out[a.name] = nullptr;
                break;
        }
    }
    return out;
}

void printJson(const std::string& file, const std::optional<int>& version,
               const std::vector<Entry>& entries, bool longFormat) {
    Json objects = Json::array();
    for (const Entry& e : entries) {
        const Description& d = e.description;
        Json o = {{"path", e.node.path}, {"kind", d.label}};
        if (d.design)
            o["design"] = true;
        if (d.version)
            o["version"] = *d.version;
        if (d.bytes >= 0)
            o["bytes"] = d.bytes;
        if (d.rows >= 0) {
            if (d.isArray) {
                o["rows"] = d.rows;
                o["cols"] = d.cols;
            } else {
                o["count"] = d.rows;
            }
            if (d.members.empty()) {
                o["elementType"] = elementTypeName(d.elementType);
            } else {
                Json members = Json::array();
                for (const CompoundMember& m : d.members)
                    members.push_back(
                        {{"name", m.name}, {"type", elementTypeName(m.type)}, {"count", m.count}});
                o["members"] = std::move(members);
            }
        }
        if (!d.problem.empty())
            o["problem"] = d.problem;
        if (longFormat && e.storage) {
            o["layout"] = e.storage->layout;
            o["chunk"] = e.storage->chunk;
            o["compressor"] = e.storage->compressor;
            o["level"] = e.storage->level;
        }
        if (longFormat)
            o["attributes"] = attributesJson(e.attributes);
        objects.push_back(std::move(o));
    }
    writeJson(
        std::cout,
        {{"file", file}, {"formatVersion", orNull(version)}, {"objects", std::move(objects)}});
}

int runLs(const Args& args) {
    const std::string& path = args.positional(0);
    const std::string start = groupPath(args.positionalOr(1, "/"));
    const bool longFormat = args.has("--long");
    Container container(path, Access::Read, args.has("--native"));
    Inspector inspector(container);

    const int startKind = inspector.kindOf(start);
    if (startKind == kNoEntry)
        throw Failure(path + ": " + start + ": no such group or object");

    int problems = 0;
    const auto onProblem = [&](const std::string& where, const std::string& what) {
        std::cerr << "qmx ls: " << where << ": " << what << "\n";
        ++problems;
    };
    std::vector<Entry> entries;
    for (Node& node : listTree(container.file(), start, startKind, onProblem)) {
        crashGuardAt(node.path);
        Entry e{node, inspector.describe(node), {}, true, std::nullopt};
        if (longFormat) {
            e.storage = storageLayout(container.file(), node);
            e.attributesReadable =
                readAttributes(container.file(), node.path, node.isGroup(), e.attributes);
            if (!args.has("--all"))
                std::erase_if(e.attributes, [](const AttributeValue& a) {
                    return isBookkeepingAttribute(a.name);
                });
        }
        entries.push_back(std::move(e));
    }

    QMXBlobDAO blobs;
    container.bind(blobs);
    std::optional<int> version;
    if (int v = 0; blobs.getQMVersion(v))
        version = v;

    if (args.has("--json"))
        printJson(path, version, entries, longFormat);
    else
        printText(path, version, entries, longFormat);
    return problems ? kExitProblem : kExitOk;
}

}  // namespace

Command lsCommand() {
    return {"ls",
            "FILE [GROUP]",
            "List the tree of a container: groups, objects, vectors and arrays.",
            "Shows every group (object groups with their \"Version\"), every object with its size\n"
            "and kind (opaque or string), vectors with element type and count, arrays with rows x\n"
            "cols, compound vectors with their members, and the design group \"/Design\".\n"
            "GROUP limits the listing to one group (default: the whole file). -l also shows how\n"
            "each item is stored: its layout (compact, contiguous, chunked, or extendible once\n"
            "appended to), elements a chunk, and its compressor and level. The checksum and\n"
            "format attributes the library keeps for itself are left out unless --all is given;\n"
            "'qmx check' verifies them.",
            {{"-l", "--long", "", "also show every attribute with its value"},
             {"-a", "--all", "", "with -l, also the checksum and format attributes of the library"},
             {"", "--json", "", "write the listing as JSON"},
             nativeOption(),
             verboseOption()},
            1,
            2,
            runLs};
}

}  // namespace Quellmar::qmx
