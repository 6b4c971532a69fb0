#include "HandleTable.h"

#include <climits>

namespace Quellmar::qmxfile {

HandleTable& HandleTable::instance() {
    // Never destroyed: static destructors of hosts may still close handles at exit.
    static HandleTable* table = new HandleTable;
    return *table;
}

int HandleTable::add(Hid id, Kind kind, int file, std::shared_ptr<const FileInfo> info) {
    if (m_next == INT_MAX)
        return 0;
    const int handle = m_next++;
    Entry& e = m_entries[handle];
    e.id = std::move(id);
    e.kind = kind;
    e.file = kind == Kind::File ? handle : file;
    e.refs = 1;
    e.info = std::move(info);
    return handle;
}

Entry* HandleTable::find(int handle) {
    auto it = m_entries.find(handle);
    return it == m_entries.end() ? nullptr : &it->second;
}

herr_t HandleTable::drop(int handle) {
    auto it = m_entries.find(handle);
    if (it == m_entries.end())
        return -1;
    if (--it->second.refs > 0)
        return 0;
    return closeNow(handle);
}

herr_t HandleTable::closeNow(int handle) {
    auto it = m_entries.find(handle);
    if (it == m_entries.end())
        return -1;
    Hid id = std::move(it->second.id);
    m_entries.erase(it);
    return id.close();
}

std::vector<int> HandleTable::handlesOfFile(int file, bool objectsOnly) const {
    std::vector<int> out;
    for (const auto& [handle, e] : m_entries)
        if (e.file == file && !(objectsOnly && e.kind == Kind::File))
            out.push_back(handle);
    return out;
}

std::vector<int> HandleTable::fileHandles() const {
    std::vector<int> out;
    for (const auto& [handle, e] : m_entries)
        if (e.kind == Kind::File)
            out.push_back(handle);
    return out;
}

int HandleTable::datatypeCount() const {
    int count = 0;
    for (const auto& [handle, e] : m_entries)
        if (e.kind == Kind::Datatype)
            ++count;
    return count;
}

void HandleTable::closeAll() {
    std::vector<int> files;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it->second.kind == Kind::File) {
            ++it;
            continue;
        }
        Hid id = std::move(it->second.id);
        it = m_entries.erase(it);
        id.close();
    }
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        Hid id = std::move(it->second.id);
        it = m_entries.erase(it);
        id.close();
    }
}

}  // namespace Quellmar::qmxfile
