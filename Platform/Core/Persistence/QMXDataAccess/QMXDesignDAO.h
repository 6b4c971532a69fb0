#ifndef QUELLMAR_QMXDESIGNDAO_H
#define QUELLMAR_QMXDESIGNDAO_H

#include "QMXDataAccessExport.h"

#include "QMXBlobDAO.h"
#include "SerializationTransferObject.h"
#include "SingleObjectInterface.h"

#include <string>

namespace Quellmar {

/// One serialized object stored under the root group "/Design", and the attributes of that
/// group. Every operation forwards to the blob DAO with the group "." (the root itself);
/// subclasses name the object.
class QMX_DATAACCESS_API QMXDesignBaseDAO
    : public virtual SingleObjectInterface<SerializationTransferObject>,
      public virtual QMXBlobDAO {
public:
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXDesignBaseDAO() = default;
    QMXDesignBaseDAO(const QMXDesignBaseDAO&) = default;
    QMXDesignBaseDAO& operator=(const QMXDesignBaseDAO&) = default;
    ///@}
    /// Drops the storage and stack bindings.
    ~QMXDesignBaseDAO() override;

    /// "/Design", the root group of every path of a design DAO.
    static std::string defaultRoot();

    ///@{
    /// Shared by both interfaces, so either one reaches the blob DAO's implementation: each
    /// runs the QMXBlobDAO operation of the same name on the group "." (the root "/Design"
    /// itself) and, for the object operations, the object datasetName(). Locks, failure texts
    /// and exceptions are that operation's.
    bool getQMVersionOfLibrary(int& version) override;
    bool getQMVersion(int& version) override;
    bool updateQMVersionToCurrent() override;

    void createGroup(const int& version) override;
    bool existsGroup() override;
    void readGroupDataVersion(int& version) override;
    void updateGroupDataVersion(const int& version) override;
    void readGroupDataId(std::string& id) override;
    void updateGroupDataId(const std::string& id) override;
    void updateFileCreationSoftwareRevision(const std::string& revision) override;
    void readFileCreationSoftwareRevision(std::string& revision) override;
    void updateFileLastModifiedSoftwareRevision(const std::string& revision) override;
    void readFileLastModifiedSoftwareRevision(std::string& revision) override;
    void updateChainGangValue(std::string value) override;
    void readChainGangValue(std::string& value) override;
    void updateMaxIdentifierValue(unsigned long long value, unsigned short high) override;
    void readMaxIdentifierValue(unsigned long long& value, unsigned short& high) override;
    bool exists() override;
    void create(const SerializationTransferObject& object) override;
    void read(SerializationTransferObject& object) override;
    void update(SerializationTransferObject& object) override;
    void remove() override;
    ///@}

    ///@{
    /// The blob interface stays usable on a design DAO, below "/Design".
    using QMXBlobDAO::create;
    using QMXBlobDAO::createGroup;
    using QMXBlobDAO::exists;
    using QMXBlobDAO::existsGroup;
    using QMXBlobDAO::read;
    using QMXBlobDAO::readChainGangValue;
    using QMXBlobDAO::readFileCreationSoftwareRevision;
    using QMXBlobDAO::readFileLastModifiedSoftwareRevision;
    using QMXBlobDAO::readGroupDataId;
    using QMXBlobDAO::readGroupDataVersion;
    using QMXBlobDAO::readMaxIdentifierValue;
    using QMXBlobDAO::remove;
    using QMXBlobDAO::update;
    using QMXBlobDAO::updateChainGangValue;
    using QMXBlobDAO::updateFileCreationSoftwareRevision;
    using QMXBlobDAO::updateFileLastModifiedSoftwareRevision;
    using QMXBlobDAO::updateGroupDataId;
    using QMXBlobDAO::updateGroupDataVersion;
    using QMXBlobDAO::updateMaxIdentifierValue;
    ///@}

protected:
    std::string root() override;
    /// Name of the one object this DAO stands for.
    virtual std::string datasetName() = 0;
};

/// A design DAO for the object of a fixed name.
class QMX_DATAACCESS_API QMXDesignDatasetDAO : public QMXDesignBaseDAO {
public:
    /// The design object `datasetName`; nothing is bound and the file is not touched.
    explicit QMXDesignDatasetDAO(const std::string& datasetName);
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXDesignDatasetDAO(const QMXDesignDatasetDAO&) = default;
    ///@}
    ~QMXDesignDatasetDAO() override;

protected:
    std::string datasetName() override;

private:
    const std::string m_datasetName;
};

}  // namespace Quellmar

#endif
