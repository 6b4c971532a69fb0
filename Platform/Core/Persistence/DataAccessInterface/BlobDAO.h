#ifndef QUELLMAR_BLOBDAO_H
#define QUELLMAR_BLOBDAO_H

#include "DataAccessInterfaceExport.h"

#include "SerializationTransferObject.h"

#include <string>

namespace Quellmar {

/// Serialized objects addressed by group and object name, with the bookkeeping attributes of
/// their groups and the container's format version.
class QMX_INTERFACE_API BlobDAO {
public:
    ///@{
    /// An interface holds no state: construction, copies and destruction do nothing.
    BlobDAO() = default;
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    BlobDAO(const BlobDAO&) = default;
    BlobDAO& operator=(const BlobDAO&) = default;
    virtual ~BlobDAO() = default;
    ///@}
    ///@}

    /// The format version this library writes, for the bound file; false when it cannot say.
    virtual bool getQMVersionOfLibrary(int& version) = 0;
    /// The format version the bound file carries; false when it cannot be read.
    virtual bool getQMVersion(int& version) = 0;
    /// Raises the bound file's format version to the library's; false when that failed.
    virtual bool updateQMVersionToCurrent() = 0;
    /// Makes `group` an object group with data version `version`; an existing one is kept.
    virtual void createGroup(const std::string& group, int version) = 0;
    /// The data version of `group` ("Version"); `version` is left as it is when none is stored.
    virtual void readGroupDataVersion(const std::string& group, int& version) = 0;
    /// Stores the data version of `group`.
    virtual void updateGroupDataVersion(const std::string& group, int version) = 0;
    /// Whether an object is stored under `name` in `group`.
    virtual bool exists(const std::string& group, const std::string& name) = 0;
    /// Stores a new object under `name` in `group`.
    virtual void create(const std::string& group, const std::string& name,
                        const SerializationTransferObject& object) = 0;
    /// Reads the object stored under `name` in `group` into `object`'s buffer.
    virtual void read(const std::string& group, const std::string& name,
                      SerializationTransferObject& object) = 0;
    /// Replaces the bytes of the object stored under `name` in `group`.
    virtual void update(const std::string& group, const std::string& name,
                        const SerializationTransferObject& object) = 0;
    /// Removes the object stored under `name` in `group`.
    virtual void remove(const std::string& group, const std::string& name) = 0;
    /// The data identifier of `group` ("Id"); `id` is left as it is when none is stored.
    virtual void readGroupDataId(const std::string& group, std::string& id) = 0;
    /// Stores the data identifier of `group`.
    virtual void updateGroupDataId(const std::string& group, const std::string& id) = 0;
    /// Stores the software revision that created the data of `group`.
    virtual void updateFileCreationSoftwareRevision(const std::string& group,
                                                    const std::string& revision) = 0;
    /// The software revision that created the data of `group`.
    virtual void readFileCreationSoftwareRevision(const std::string& group,
                                                  std::string& revision) = 0;
    /// Stores the software revision that last modified the data of `group`.
    virtual void updateFileLastModifiedSoftwareRevision(const std::string& group,
                                                        const std::string& revision) = 0;
    /// The software revision that last modified the data of `group`.
    virtual void readFileLastModifiedSoftwareRevision(const std::string& group,
                                                      std::string& revision) = 0;
    /// Stores the maximum identifier value of `group`: 64 low bits and 16 high bits.
    virtual void updateMaxIdentifierValue(const std::string& group, unsigned long long value,
                                          unsigned short high) = 0;
    /// The maximum identifier value of `group`; each part is left as it is when not stored.
    virtual void readMaxIdentifierValue(const std::string& group, unsigned long long& value,
                                        unsigned short& high) = 0;
    /// Stores the chain value of `group` ("HashValue").
    virtual void updateChainGangValue(const std::string& group, std::string value) = 0;
    /// The chain value of `group`; `value` is left as it is when none is stored.
    virtual void readChainGangValue(const std::string& group, std::string& value) = 0;
};

}  // namespace Quellmar

#endif
