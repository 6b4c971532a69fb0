#include "Discover.h"

#include "QMXLLists.h"

#include <string>

namespace Quellmar::hostread {
namespace {

// The host's name of a group: its path without the leading '/'.
std::string daoGroup(const std::string& path) {
    return path.size() > 1 ? path.substr(1) : std::string();
}

bool hostName(const std::string& name) {
    // The manifest is whitespace separated; such names are simply not asked for.
    return !name.empty() && name.find_first_of(" \t\n\r#") == std::string::npos;
}

class Discoverer {
public:
    Discoverer(int file, const DiscoverLimits& limits) : m_file(file), m_limits(limits) {}

    void walk(const std::string& path, int depth, bool objectGroup) {
        if (depth > m_limits.maxDepth)
            return;
        QMXLGroupListing list;
        if (QMXLlistGroup(m_file, path.c_str(), &list.count, &list.names, &list.kinds) < 0 ||
            !list.names || !list.kinds)
            return;
        const bool design = path == "/Design";
        bool strings = false;
        for (int i = 0; i < list.count && full() == false; ++i) {
            if (!list.names[i] || !hostName(list.names[i]))
                continue;
            const std::string name = list.names[i];
            const std::string child = path == "/" ? "/" + name : path + "/" + name;
            switch (list.kinds[i]) {
                case QMXL_KIND_GROUP:
                    walk(child, depth + 1, false);
                    break;
                case QMXL_KIND_OBJECT_GROUP:
                    walk(child, depth + 1, true);
                    break;
                case QMXL_KIND_OPAQUE:
                case QMXL_KIND_STRING:
                    strings = strings || list.kinds[i] == QMXL_KIND_STRING;
                    blob(path, name, list.kinds[i] == QMXL_KIND_STRING, design);
                    break;
                case QMXL_KIND_TYPED:
                    typed(path, name);
                    break;
                case QMXL_KIND_COMPOUND:
                    compound(path, name);
                    break;
                default:
                    break;
            }
        }
        if (objectGroup && !design && path != "/") {
            Entry e;
            e.kind = EntryKind::Group;
            e.stringData = strings;
            e.group = daoGroup(path);
            m_entries.push_back(e);
        }
    }

    std::vector<Entry> entries() { return std::move(m_entries); }

private:
    bool full() const { return static_cast<int>(m_entries.size()) >= m_limits.maxEntries; }

    void blob(const std::string& path, const std::string& name, bool strings, bool design) {
        Entry e;
        e.kind = design ? EntryKind::Design : EntryKind::Blob;
        e.stringData = strings;
        e.group = design ? std::string() : daoGroup(path);
        e.name = name;
        // A design object is found through the opaque calls only.
        if (design && strings)
            return;
        m_entries.push_back(e);
    }

    void typed(const std::string& path, const std::string& name) {
        long long count = 0;
        int type = -1;
        if (QMXLgetDatasetInfo(m_file, path.c_str(), name.c_str(), &count, &type) < 0)
            return;
        const ElementType* t = elementTypeByVectorType(type);
        if (!t)
            return;
        Entry e;
        e.kind = EntryKind::Array;  // the array DAO answers the shape of vectors too
        e.group = daoGroup(path);
        e.name = name;
        e.type = t;
        m_entries.push_back(e);
    }

    void compound(const std::string& path, const std::string& name) {
        QMXLCompoundMembers list;
        if (QMXLgetCompoundMembers(m_file, path.c_str(), name.c_str(), &list.count, &list.names,
                                   &list.types, &list.counts) < 0 ||
            list.count <= 0 || !list.names || !list.types || !list.counts)
            return;
        Entry e;
        e.kind = EntryKind::CompoundArray;
        e.group = daoGroup(path);
        e.name = name;
        for (int i = 0; i < list.count; ++i) {
            Member m;
            m.name = list.names[i] ? list.names[i] : "";
            m.type = elementTypeByMemberType(list.types[i]);
            m.count = list.counts[i] > 0 ? static_cast<unsigned long long>(list.counts[i]) : 1;
            // A record the host cannot lay out is not read (a damaged count could ask for
            // gigabytes per record).
            if (!m.type || !hostName(m.name) || m.count > 4096)
                return;
            e.members.push_back(m);
        }
        m_entries.push_back(e);
    }

    int m_file;
    DiscoverLimits m_limits;
    std::vector<Entry> m_entries;
};

}  // namespace

std::vector<Entry> discoverEntries(int file, const DiscoverLimits& limits) {
    Discoverer d(file, limits);
    d.walk("/", 0, false);
    return d.entries();
}

}  // namespace Quellmar::hostread
