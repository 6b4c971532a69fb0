// Owners of what the file library hands out to the tool: object handles, strings, name lists.
#ifndef QMX_TOOL_HANDLE_H
#define QMX_TOOL_HANDLE_H

#include "QMXL.h"

#include <string>
#include <vector>

namespace Quellmar::qmx {

// One reference to a file-library object (group, dataset, datatype); dropped on destruction.
class ObjectHandle {
public:
    explicit ObjectHandle(int handle = -1) : m_handle(handle) {}
    ~ObjectHandle() { reset(); }
    ObjectHandle(const ObjectHandle&) = delete;
    ObjectHandle& operator=(const ObjectHandle&) = delete;
    ObjectHandle(ObjectHandle&& other) noexcept : m_handle(other.m_handle) { other.m_handle = -1; }

    int get() const { return m_handle; }
    bool valid() const { return m_handle > 0; }
    void reset() {
        if (m_handle > 0)
            QMXLcloseObject(m_handle);
        m_handle = -1;
    }

private:
    int m_handle;
};

// A file handle of the file library; closed on destruction.
class FileHandle {
public:
    explicit FileHandle(int handle = -1) : m_handle(handle) {}
    ~FileHandle() {
        if (m_handle > 0)
            QMXLcloseFile(m_handle);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int get() const { return m_handle; }
    bool valid() const { return m_handle > 0; }

private:
    int m_handle;
};

// A string the file library allocated.
class LibraryString {
public:
    LibraryString() = default;
    ~LibraryString() {
        if (m_text)
            QMXLreleaseString(&m_text);
    }
    LibraryString(const LibraryString&) = delete;
    LibraryString& operator=(const LibraryString&) = delete;

    char** out() { return &m_text; }
    const char* get() const { return m_text; }

private:
    char* m_text = nullptr;
};

// A group's members as QMXLlistGroup hands them out.
struct GroupMember {
    std::string name;
    int kind;
};

// Members of the group at path, in name order. Returns false (and leaves members empty) when
// the file library cannot list the group.
bool listGroup(int file, const std::string& path, std::vector<GroupMember>& members);
// Attribute names of the object at path.
bool listAttributes(int file, const std::string& path, std::vector<std::string>& names);

}  // namespace Quellmar::qmx

#endif
