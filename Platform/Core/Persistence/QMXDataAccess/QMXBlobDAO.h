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

/// Serialized objects kept as data items of object groups, plus the groups' bookkeeping
/// attributes. Every public operation enlists its own file lock on the caller's transaction
/// stack; the protected workers (capitalised) do the file work on an already locked file.
///
/// Every public operation first throws DataSourceException "No datasource defined!" when no
/// storage is bound, then sets its failure text on the stack (getContext(): the host's, or a
/// new one when it is gone) and pushes a file lock, shared for reads and exclusive for writes.
/// A lock the stack cannot take passes its exception on (HDFException "Driver check failed!",
/// or DataSourceException when another thread's writing unit does not end in time). A group
/// name becomes a path below root() with leading '/' and '.' trimmed (getPath); an object name
/// is trimmed by getStrippedName, which throws std::out_of_range "invalid string position" for
/// a name of two or more separators only. Names holding a NUL character throw
/// QminvalidArgument "Name contains a NUL character.". A refusal of the file library throws
/// DataAccessViolationException with its last error message (getLastErrorMessage()); so does
/// a group attribute operation on a group that is missing or is no object group.
///
/// The order of the virtual members below is part of the binary interface: the BlobDAO
/// operations first, then the protected hooks root .. getSizeOfBlobData.
class QMX_DATAACCESS_API QMXBlobDAO : public BlobDAO, public virtual QMXBaseDAO {
public:
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXBlobDAO() = default;
    QMXBlobDAO(const QMXBlobDAO&) = default;
    QMXBlobDAO& operator=(const QMXBlobDAO&) = default;
    ///@}
    /// Drops the storage and stack bindings; the file stays as the stack leaves it.
    ~QMXBlobDAO() override;

    /// Shared lock, text "Error validating binary array.". False, without an exception, when
    /// the file library cannot give the version.
    bool getQMVersionOfLibrary(int& version) override;
    /// Shared lock, text "Error validating binary array.". False, without an exception, when
    /// the file's version cannot be read.
    bool getQMVersion(int& version) override;
    /// Exclusive lock, text "Error creating binary array.". Writes the library's version into
    /// the file; false, without an exception, when either step fails.
    bool updateQMVersionToCurrent() override;
    /// Exclusive lock, text "Error creating binary array.". Pushes a BlobCreation naming the
    /// group's path and no object, then makes a missing or plain group an object group with
    /// "Version" = `version`; an existing object group is left as it is, its version included.
    void createGroup(const std::string& group, int version) override;
    /// Shared lock, text "Error validating binary array.". Reads "Version".
    void readGroupDataVersion(const std::string& group, int& version) override;
    /// Exclusive lock, text "Error validating binary array.". Writes "Version".
    void updateGroupDataVersion(const std::string& group, int version) override;
    /// Shared lock, text "Error validating binary array.". False when nothing, or something of
    /// another kind, is stored under the name, a missing group included; any other failure
    /// (a damaged item, say) throws DataAccessViolationException instead of answering.
    bool exists(const std::string& group, const std::string& name) override;
    /// Exclusive lock, text "Error creating binary array.". An object without a buffer throws
    /// DataAccessViolationException "Transfer object holds no buffer." before anything is
    /// enlisted. Stores the bytes uncompressed with the object's chunk size; an item already
    /// there or a missing group throws. On success a BlobCreation is pushed: a revert removes
    /// the object again.
    void create(const std::string& group, const std::string& name,
                const SerializationTransferObject& object) override;
    /// Shared lock, text "Error reading binary array.". The bytes land in `object`'s buffer
    /// (resized; a new one when it has none). A stored size below 1 throws
    /// DataAccessViolationException "Wrong size of object."; a missing object throws too.
    void read(const std::string& group, const std::string& name,
              SerializationTransferObject& object) override;
    /// Exclusive lock, text "Error updating binary array.". Replaces the bytes of an existing
    /// object; a missing one throws. No buffer: as create(). Not undone by a revert.
    void update(const std::string& group, const std::string& name,
                const SerializationTransferObject& object) override;
    /// Exclusive lock, text "Error removing array.". A missing object throws. Not undone by a
    /// revert.
    void remove(const std::string& group, const std::string& name) override;
    /// Shared lock, text "Error validating binary array.". Reads "Id".
    void readGroupDataId(const std::string& group, std::string& id) override;
    /// Exclusive lock, text "Error validating binary array.". Writes "Id".
    void updateGroupDataId(const std::string& group, const std::string& id) override;
    /// Exclusive lock, text "Error validating binary array.". Writes "CreationRevisionString".
    void updateFileCreationSoftwareRevision(const std::string& group,
                                            const std::string& revision) override;
    /// Shared lock, text "Error validating binary array.". "CreationRevisionString", else the
    /// older integer "CreationRevision" in decimal; a `revision` still empty after that becomes
    /// "Software_Revision_Unknown".
    void readFileCreationSoftwareRevision(const std::string& group, std::string& revision) override;
    /// Exclusive lock, text "Error validating binary array.". Writes
    /// "LastModifiedRevisionString".
    void updateFileLastModifiedSoftwareRevision(const std::string& group,
                                                const std::string& revision) override;
    /// Shared lock, text "Error validating binary array.". "LastModifiedRevisionString", else
    /// the older integer "LastModifiedRevision"; an empty result becomes
    /// "Software_Revision_Unknown".
    void readFileLastModifiedSoftwareRevision(const std::string& group,
                                              std::string& revision) override;
    /// Exclusive lock, text "Error validating binary array.". Writes "MaximumIdentifierValue"
    /// (64 bits) and "MaximumIdentifierValueHigh" (a 32-bit integer holding `high`).
    void updateMaxIdentifierValue(const std::string& group, unsigned long long value,
                                  unsigned short high) override;
    /// Shared lock, text "Error validating binary array.". Reads both attributes; each part
    /// whose attribute is absent is left as it is.
    void readMaxIdentifierValue(const std::string& group, unsigned long long& value,
                                unsigned short& high) override;
    /// Exclusive lock, text "Error validating binary array.". Writes "HashValue".
    void updateChainGangValue(const std::string& group, std::string value) override;
    /// Shared lock, text "Error validating binary array.". Reads "HashValue".
    void readChainGangValue(const std::string& group, std::string& value) override;

    /// Shared lock, text "Error validating binary array.". Whether an object group is at the
    /// group's path; a failure of the file library throws DataAccessViolationException.
    bool existsGroup(const std::string& group);

protected:
    /// Root group of every path this DAO builds.
    virtual std::string root();
    /// Group name -> group path below root().
    virtual void getPath(const std::string& group, std::string& path);
    /// Object name -> dataset name.
    virtual void getName(const std::string& name, std::string& datasetName);

    ///@{
    /// Storage hooks: which kind of file-library data item holds an object's bytes (opaque data
    /// items here). Each returns the file library's result unchanged: negative on failure.
    virtual int createCompressedBlobData(int file, const char* group, const char* name,
                                         int compression, int chunk, long long size,
                                         const char* data);
    virtual int updateBlobData(int file, const char* group, const char* name, long long size,
                               const char* data);
    virtual int readBlobData(int file, const char* group, const char* name, char* buffer);
    virtual int getSizeOfBlobData(int file, const char* group, const char* name, long long* size);
    ///@}

    ///@{
    /// Workers: file handle first, group path and dataset name already converted; no lock is
    /// taken. Failures throw as the public operation of the same name does.
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
    ///@}

    ///@{
    /// Attribute workers: the public attribute operations without their lock, on the named
    /// attributes. Reads leave the output as it is when the attribute is absent.
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
                                const std::string& valueAttribute, const std::string& highAttribute,
                                unsigned long long& value, unsigned short& high);
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
    ///@}

private:
    /// Throws "No datasource defined!" when no storage is bound.
    void requireDataSource();
    /// Frame steps 1 to 4: data-source check, error text, lock. Returns the stack the lock was
    /// enlisted on; the caller keeps it until the operation ends.
    std::shared_ptr<TransactionStack> enlist(const std::string& errorText, bool exclusive);
};

}  // namespace Quellmar

#endif
