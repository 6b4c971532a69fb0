#ifndef QUELLMAR_QMXFILE_HANDLETABLE_H
#define QUELLMAR_QMXFILE_HANDLETABLE_H

#include "Hid.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Quellmar::qmxfile {

enum class Kind { File, Group, Dataset, Datatype };

// What a file handle knows about its file.
struct FileInfo {
    std::string name;  // as given at open, for QMXLgetFileName
    bool readOnly = false;
    bool native = false;                 // opened through the native entry points
    std::shared_ptr<void> headerChecks;  // what was found sound in the file (HeaderCheck.h)
};

struct Entry {
    Hid id;
    Kind kind = Kind::Group;
    int file = 0;  // handle of the owning file; the handle itself for files, 0 for datatypes
    int refs = 1;
    std::shared_ptr<const FileInfo> info;  // the owning file's
    // The object's attributes matched their checksum once; the library's own writes keep it
    // so while the handle lives, so it is not summed again on every call.
    bool attributesVerified = false;
};

// Maps the int handles of the C interface to HDF5 identifiers. Handle values come from a
// counter and are never reused, so a stale handle can only fail, never hit another object.
// Not locked itself: every caller holds the library lock.
class HandleTable {
public:
    static HandleTable& instance();

    // Takes ownership of id; 0 when the counter is exhausted.
    int add(Hid id, Kind kind, int file, std::shared_ptr<const FileInfo> info);
    Entry* find(int handle);
    // Drops one reference; the identifier closes at zero. Negative when HDF5 refused the close.
    herr_t drop(int handle);
    // Closes the handle whatever its reference count.
    herr_t closeNow(int handle);
    // Handles whose owning file is `file`, files excluded when objectsOnly.
    std::vector<int> handlesOfFile(int file, bool objectsOnly) const;
    std::vector<int> fileHandles() const;
    int size() const { return static_cast<int>(m_entries.size()); }
    int datatypeCount() const;
    // Closes everything: objects first, then files.
    void closeAll();

private:
    std::map<int, Entry> m_entries;
    int m_next = 1;
};

}  // namespace Quellmar::qmxfile

#endif
