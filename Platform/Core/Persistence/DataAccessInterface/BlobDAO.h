#ifndef QUELLMAR_BLOBDAO_H
#define QUELLMAR_BLOBDAO_H

#include "DataAccessInterfaceExport.h"

#include "SerializationTransferObject.h"

#include <string>

namespace Quellmar {

// Serialized objects addressed by group and object name, with the bookkeeping attributes of
// their groups and the container's format version.
class QMX_INTERFACE_API BlobDAO {
public:
    BlobDAO() = default;
    BlobDAO(const BlobDAO&) = default;
    BlobDAO& operator=(const BlobDAO&) = default;
    virtual ~BlobDAO() = default;

    virtual bool getQMVersionOfLibrary(int& version) = 0;
    virtual bool getQMVersion(int& version) = 0;
    virtual bool updateQMVersionToCurrent() = 0;
    virtual void createGroup(const std::string& group, int version) = 0;
    virtual void readGroupDataVersion(const std::string& group, int& version) = 0;
    virtual void updateGroupDataVersion(const std::string& group, int version) = 0;
    virtual bool exists(const std::string& group, const std::string& name) = 0;
    virtual void create(const std::string& group, const std::string& name,
                        const SerializationTransferObject& object) = 0;
    virtual void read(const std::string& group, const std::string& name,
                      SerializationTransferObject& object) = 0;
    virtual void update(const std::string& group, const std::string& name,
                        const SerializationTransferObject& object) = 0;
    virtual void remove(const std::string& group, const std::string& name) = 0;
    virtual void readGroupDataId(const std::string& group, std::string& id) = 0;
    virtual void updateGroupDataId(const std::string& group, const std::string& id) = 0;
    virtual void updateFileCreationSoftwareRevision(const std::string& group,
                                                    const std::string& revision) = 0;
    virtual void readFileCreationSoftwareRevision(const std::string& group,
                                                  std::string& revision) = 0;
    virtual void updateFileLastModifiedSoftwareRevision(const std::string& group,
                                                        const std::string& revision) = 0;
    virtual void readFileLastModifiedSoftwareRevision(const std::string& group,
                                                      std::string& revision) = 0;
    virtual void updateMaxIdentifierValue(const std::string& group, unsigned long long value,
                                          unsigned short high) = 0;
    virtual void readMaxIdentifierValue(const std::string& group, unsigned long long& value,
                                        unsigned short& high) = 0;
    virtual void updateChainGangValue(const std::string& group, std::string value) = 0;
    virtual void readChainGangValue(const std::string& group, std::string& value) = 0;
};

}  // namespace Quellmar

#endif
