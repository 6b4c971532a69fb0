#ifndef QUELLMAR_SINGLEOBJECTINTERFACE_H
#define QUELLMAR_SINGLEOBJECTINTERFACE_H

#include "DataAccessInterfaceExport.h"

#include <string>

namespace Quellmar {

/// One stored object of type T and the bookkeeping attributes of the group that holds it.
template <class T>
class QMX_INTERFACE_API SingleObjectInterface {
public:
    /// An interface holds no state: construction does nothing.
    SingleObjectInterface() = default;
    /// Nothing to copy.
    SingleObjectInterface(const SingleObjectInterface&) = default;
    /// Nothing to assign.
    SingleObjectInterface& operator=(const SingleObjectInterface&) = default;
    /// Nothing to release.
    virtual ~SingleObjectInterface() = default;

    /// The format version this library writes, for the bound file; false when it cannot say.
    virtual bool getQMVersionOfLibrary(int& version) = 0;
    /// The format version the bound file carries; false when it cannot be read.
    virtual bool getQMVersion(int& version) = 0;
    /// Raises the bound file's format version to the library's; false when that failed.
    virtual bool updateQMVersionToCurrent() = 0;
    /// Makes the object's group an object group with data version `version`; an existing one
    /// is kept.
    virtual void createGroup(const int& version) = 0;
    /// Whether the object's group is an object group.
    virtual bool existsGroup() = 0;
    /// The group's data version; `version` is left as it is when none is stored.
    virtual void readGroupDataVersion(int& version) = 0;
    /// Stores the group's data version.
    virtual void updateGroupDataVersion(const int& version) = 0;
    /// The group's data identifier; `id` is left as it is when none is stored.
    virtual void readGroupDataId(std::string& id) = 0;
    /// Stores the group's data identifier.
    virtual void updateGroupDataId(const std::string& id) = 0;
    /// Stores the software revision that created the data.
    virtual void updateFileCreationSoftwareRevision(const std::string& revision) = 0;
    /// The software revision that created the data.
    virtual void readFileCreationSoftwareRevision(std::string& revision) = 0;
    /// Stores the software revision that last modified the data.
    virtual void updateFileLastModifiedSoftwareRevision(const std::string& revision) = 0;
    /// The software revision that last modified the data.
    virtual void readFileLastModifiedSoftwareRevision(std::string& revision) = 0;
    /// Stores the group's chain value.
    virtual void updateChainGangValue(std::string value) = 0;
    /// The group's chain value; `value` is left as it is when none is stored.
    virtual void readChainGangValue(std::string& value) = 0;
    /// Stores the group's maximum identifier value: 64 low bits and 16 high bits.
    virtual void updateMaxIdentifierValue(unsigned long long value, unsigned short high) = 0;
    /// The group's maximum identifier value; each part is left as it is when not stored.
    virtual void readMaxIdentifierValue(unsigned long long& value, unsigned short& high) = 0;
    /// Whether the object is stored.
    virtual bool exists() = 0;
    /// Stores the object; it must not be there yet.
    virtual void create(const T& object) = 0;
    /// Reads the stored object into `object`.
    virtual void read(T& object) = 0;
    /// Replaces the stored object.
    virtual void update(T& object) = 0;
    /// Removes the stored object.
    virtual void remove() = 0;
};

}  // namespace Quellmar

#endif
