#ifndef QUELLMAR_QMXBLOBDAO_H
#define QUELLMAR_QMXBLOBDAO_H

#include "QMXDataAccessExport.h"

#include "BlobDAO.h"
#include "QMXBaseDAO.h"
#include "SerializationTransferObject.h"

#include <memory>
#include <string>

namespace Quellmar {

class TransactionStack;

// Serialized objects kept as data items of object groups, plus the groups' bookkeeping
// attributes. Every public operation enlists its own file lock on the caller's transaction
// stack; the protected workers (capitalised) do the file work on an already locked file.
//
// The order of the virtual members below is part of the binary interface: the BlobDAO
// operations first, then the protected hooks root .. getSizeOfBlobData.
class QMX_DATAACCESS_API QMXBlobDAO : public BlobDAO, public virtual QMXBaseDAO {
public:
    QMXBlobDAO() = default;
    QMXBlobDAO(const QMXBlobDAO&) = default;
    QMXBlobDAO& operator=(const QMXBlobDAO&) = default;
    ~QMXBlobDAO() override;

    bool getQMVersionOfLibrary(int& version) override;
    bool getQMVersion(int& version) override;
    bool updateQMVersionToCurrent() override;
    void createGroup(const std::string& group, int version) override;
    void readGroupDataVersion(const std::string& group, int& version) override;
    void updateGroupDataVersion(const std::string& group, int version) override;
    bool exists(const std::string& group, const std::string& name) override;
    void create(const std::string& group, const std::string& name,
                const SerializationTransferObject& object) override;
    void read(const std::string& group, const std::string& name,
              SerializationTransferObject& object) override;
    void update(const std::string& group, const std::string& name,
                const SerializationTransferObject& object) override;
    void remove(const std::string& group, const std::string& name) override;
    void readGroupDataId(const std::string& group, std::string& id) override;
    void updateGroupDataId(const std::string& group, const std::string& id) override;
    void updateFileCreationSoftwareRevision(const std::string& group,
                                            const std::string& revision) override;
    void readFileCreationSoftwareRevision(const std::string& group, std::string& revision) override;
    void updateFileLastModifiedSoftwareRevision(const std::string& group,
                                                const std::string& revision) override;
    void readFileLastModifiedSoftwareRevision(const std::string& group,
                                              std::string& revision) override;
    void updateMaxIdentifierValue(const std::string& group, unsigned long long value,
                                  unsigned short high) override;
    void readMaxIdentifierValue(const std::string& group, unsigned long long& value,
                                unsigned short& high) override;
    void updateChainGangValue(const std::string& group, std::string value) override;
    void readChainGangValue(const std::string& group, std::string& value) override;

    bool existsGroup(const std::string& group);

protected:
    // Root group of every path this DAO builds.
    virtual std::string root();
    // Group name -> group path below root().
    virtual void getPath(const std::string& group, std::string& path);
    // Object name -> dataset name.
    virtual void getName(const std::string& name, std::string& datasetName);

    // Storage hooks: which kind of file-library data item holds an object's bytes. Each returns
    // the file library's result unchanged.
    virtual int createCompressedBlobData(int file, const char* group, const char* name,
                                         int compression, int chunk, long long size,
                                         const char* data);
    virtual int updateBlobData(int file, const char* group, const char* name, long long size,
                               const char* data);
    virtual int readBlobData(int file, const char* group, const char* name, char* buffer);
    virtual int getSizeOfBlobData(int file, const char* group, const char* name, long long* size);

    // Workers: file handle first, group path and dataset name already converted.
    void Create(int file, const std::string& group, const std::string& name,
                const SerializationTransferObject& object);
    void Read(int file, const std::string& group, const std::string& name,
              SerializationTransferObject& object);
    void Update(int file, const std::string& group, const std::string& name,
                const SerializationTransferObject& object);
    void Remove(int file, const std::string& group, const std::string& name);
    bool Exists(int file, const std::string& group, const std::string& name);
    bool ExistsGroup(int file, const std::string& group);
    void CreateGroup(int file, const std::string& group, int version);

    // Attribute workers (QMXBlobAttributes.cpp).
    void ReadGroupVersion(int file, const std::string& group, const std::string& attribute,
                          int& version);
    void UpdateGroupVersion(int file, const std::string& group, const std::string& attribute,
                            int version);
    void ReadGroupId(int file, const std::string& group, const std::string& attribute,
                     std::string& id);
    void UpdateGroupId(int file, const std::string& group, const std::string& attribute,
                       const std::string& id);
    void ReadChainGangValue(int file, const std::string& group, const std::string& attribute,
                            std::string& value);
    void UpdateChainGangValue(int file, const std::string& group, const std::string& attribute,
                              const std::string& value);
    void ReadMaxIdentifierValue(int file, const std::string& group,
                                const std::string& valueAttribute,
                                const std::string& highAttribute, unsigned long long& value,
                                unsigned short& high);
    void UpdateMaxIdentifierValue(int file, const std::string& group,
                                  const std::string& valueAttribute,
                                  const std::string& highAttribute, unsigned long long value,
                                  unsigned short high);
    void ReadFileCreationSoftwareRevision(int file, const std::string& group,
                                          std::string& revision);
    void UpdateFileCreationSoftwareRevision(int file, const std::string& group,
                                            const std::string& revision);
    void ReadFileLastModifiedSoftwareRevision(int file, const std::string& group,
                                              std::string& revision);
    void UpdateFileLastModifiedSoftwareRevision(int file, const std::string& group,
                                                const std::string& revision);

private:
    // Throws "No datasource defined!" when no storage is bound.
    void requireDataSource();
    // Frame steps 1 to 4: data-source check, error text, lock. Returns the stack the lock was
    // enlisted on; the caller keeps it until the operation ends.
    std::shared_ptr<TransactionStack> enlist(const std::string& errorText, bool exclusive);
};

}  // namespace Quellmar

#endif
