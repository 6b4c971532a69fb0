#include "ContainerWalk.h"

#include "QMXLLists.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace Quellmar::fuzz {
namespace {

// Owner of an object handle the file library hands out.
class Handle {
public:
    explicit Handle(int id) : m_id(id) {}
    ~Handle() {
        if (m_id > 0)
            QMXLcloseObject(m_id);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    int get() const { return m_id; }

private:
    int m_id;
};

std::string lastError() {
    char* message = nullptr;
    if (QMXLgetLastErrorMessage(&message) < 0 || !message)
        return "(no message)";
    std::string text = message;
    QMXLreleaseString(&message);
    return text;
}

// The record of the seed containers: int32 "id", float64 "value", int8[8] "tag".
constexpr long long kRecordSize = 24;

int recordType() {
    const int type = QMXLcreateCompoundType(0, kRecordSize, 0);
    if (type > 0) {
        QMXLaddField(type, "id", 0, QMXL_INT32);
        QMXLaddField(type, "value", 8, QMXL_FLOAT64);
        QMXLaddArray(type, "tag", 16, QMXL_INT8, 8);
    }
    return type;
}

std::string join(const std::string& group, const std::string& name) {
    return group == "/" ? "/" + name : group + "/" + name;
}

class Walker {
public:
    Walker(int file, const WalkLimits& limits)
        : m_file(file), m_limits(limits), m_record(recordType()) {}

    void group(const std::string& path, int depth) {
        if (depth > m_limits.maxDepth)
            return;
        ++m_result.groups;
        attributes(path);
        // Also reads the group's stored member index byte by byte.
        if (QMXLverifyObject(m_file, path.c_str()) < 0)
            fail(path, "damaged: " + lastError());
        QMXLGroupListing list;
        if (QMXLlistGroup(m_file, path.c_str(), &list.count, &list.names, &list.kinds) < 0) {
            fail(path, "cannot list group: " + lastError());
            return;
        }
        for (int i = 0; i < list.count && m_items < m_limits.maxItems; ++i, ++m_items) {
            if (!list.names || !list.names[i])
                continue;
            const std::string name = list.names[i];
            const int kind = list.kinds ? list.kinds[i] : QMXL_KIND_UNKNOWN;
            const std::string child = join(path, name);
            switch (kind) {
                case QMXL_KIND_GROUP:
                case QMXL_KIND_OBJECT_GROUP:
                    group(child, depth + 1);
                    break;
                case QMXL_KIND_OPAQUE:
                case QMXL_KIND_STRING:
                case QMXL_KIND_TYPED:
                case QMXL_KIND_COMPOUND:
                    item(path, name, kind);
                    attributes(child);
                    break;
                default:
                    break;
            }
        }
    }

    WalkResult result() { return std::move(m_result); }

private:
    void item(const std::string& group, const std::string& name, int kind) {
        const std::string path = join(group, name);
        long long bytes = -1;
        int sized = -1;
        if (kind == QMXL_KIND_OPAQUE)
            sized = QMXLgetSizeOfOpaqueData(m_file, group.c_str(), name.c_str(), &bytes);
        else if (kind == QMXL_KIND_STRING)
            sized = QMXLgetSizeOfStringDataset(m_file, group.c_str(), name.c_str(), &bytes);
        else
            sized = QMXLgetSizeOfDataset(m_file, group.c_str(), name.c_str(), &bytes);
        if (sized < 0 || bytes < 0)
            return fail(path, "cannot size: " + lastError());
        if (bytes > m_limits.maxItemBytes)
            return fail(path, "implausible size");
        // Compounds are read as records of the seeds' type; members are matched by name, so
        // any stored compound converts, into at most that many bytes per element.
        if (kind == QMXL_KIND_COMPOUND) {
            long long count = 0;
            int type = 0;
            if (QMXLgetDatasetInfo(m_file, group.c_str(), name.c_str(), &count, &type) < 0 ||
                count < 0)
                return fail(path, "cannot count: " + lastError());
            if (count > m_limits.maxItemBytes / kRecordSize)
                return fail(path, "implausible count");
            bytes = std::max(bytes, count * kRecordSize);
        }
        // One spare byte: string reads may terminate the text.
        std::unique_ptr<char[]> buffer(new char[static_cast<std::size_t>(bytes) + 1]);
        int read = -1;
        if (kind == QMXL_KIND_OPAQUE)
            read = QMXLreadOpaqueData(m_file, group.c_str(), name.c_str(), buffer.get());
        else if (kind == QMXL_KIND_STRING)
            read = QMXLreadStringDataset(m_file, group.c_str(), name.c_str(), buffer.get());
        else if (kind == QMXL_KIND_TYPED)
            read = QMXLreadTypedDataset(m_file, group.c_str(), name.c_str(), QMXL_AS_STORED,
                                        buffer.get());
        else
            read = QMXLreadObjectDataset(m_file, group.c_str(), name.c_str(), m_record.get(),
                                         buffer.get());
        if (read < 0)
            return fail(path, "cannot read: " + lastError());
        ++m_result.itemsRead;
    }

    void attributes(const std::string& path) {
        QMXLNameList list;
        if (QMXLlistAttributes(m_file, path.c_str(), &list.count, &list.names) < 0)
            return;
        Handle dataset(path == "/" ? -1 : QMXLopenDataset(m_file, path.c_str()));
        Handle group(dataset.get() > 0 ? -1 : QMXLopenGroup(m_file, path.c_str()));
        const int handle = dataset.get() > 0 ? dataset.get() : group.get();
        if (handle <= 0)
            return;
        for (int i = 0; i < list.count; ++i) {
            if (!list.names || !list.names[i])
                continue;
            const char* name = list.names[i];
            char* text = nullptr;
            if (QMXLgetStringAttribute(handle, name, &text) >= 0) {
                std::free(text);
                ++m_result.attributesRead;
                continue;
            }
            std::free(text);
            unsigned long long wide = 0;
            int narrow = 0;
            if (QMXLreadUInt64Attribute(handle, name, &wide) >= 0 ||
                QMXLreadAttribute(handle, name, &narrow) >= 0)
                ++m_result.attributesRead;
        }
    }

    void fail(const std::string& path, const std::string& why) {
        ++m_result.itemsFailed;
        m_result.failures.push_back(path + ": " + why);
    }

    int m_file;
    WalkLimits m_limits;
    Handle m_record;
    int m_items = 0;
    WalkResult m_result;
};

}  // namespace

WalkResult walkContainer(int file, const WalkLimits& limits) {
    Walker walker(file, limits);
    walker.group("/", 0);
    return walker.result();
}

}  // namespace Quellmar::fuzz
