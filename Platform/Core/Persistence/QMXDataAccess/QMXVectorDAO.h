#ifndef QUELLMAR_QMXVECTORDAO_H
#define QUELLMAR_QMXVECTORDAO_H

#include "QMXDataAccessExport.h"

#include "QMXBaseDAO.h"
#include "QMXHandles.h"
#include "QMXL.h"
#include "VectorDAO.h"

#include <string>
#include <vector>

namespace Quellmar {

/// One-dimensional vectors: one dataset per vector, addressed by a group path below
/// `pathToRoot` and a dataset name. Elements are of a simple type or a compound record
/// described by a QMXClassComposer.
///
/// The public virtual operations enlist a file lock on the caller's transaction stack; the
/// capitalised workers take no lock, so one framed operation can call them repeatedly.
///
/// Every framed operation first throws DataSourceException "No datasource defined!" when no
/// storage is bound, and QminvalidArgument "Element count out of range." for a negative count,
/// "Unknown data type." for an element type without a file-library code (VT_INT8 among them)
/// and "Invalid class definition." for a composer that is no QMXClassComposer; then it sets
/// its failure text and pushes a file lock as QMXBlobDAO does. The group path is
/// `pathToRoot` + "/" + the trimmed `path`, the dataset name the trimmed `name`
/// (getStrippedName: std::out_of_range "invalid string position" for separators only). A
/// refusal of the file library throws DataAccessViolationException with its last message;
/// operations that return true do so whenever they return at all.
class QMX_DATAACCESS_API QMXVectorDAO : public virtual VectorDAO, public virtual QMXBaseDAO {
public:
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXVectorDAO() = default;
    QMXVectorDAO(const QMXVectorDAO&) = default;
    QMXVectorDAO& operator=(const QMXVectorDAO&) = default;
    ~QMXVectorDAO() override = default;
    ///@}

    /// Exclusive lock, text "Error creating vector.". Creates missing groups, pushes a
    /// VectorCreation (a revert removes the new dataset, never one that was there before) and
    /// marks the dataset "Compound" = 1. A failure throws the host's stack itself
    /// (std::shared_ptr<TransactionStack>) with the file library's message as its error text.
    bool create(const std::string& path, const std::string& name, ClassComposer& type, int count,
                const void* data) override;
    /// Exclusive lock, text "Error creating vector.". Creates missing groups; a dataset already
    /// there throws. Nothing is pushed: a revert leaves the vector in place.
    bool create(const std::string& path, const std::string& name, tagVectorDataTypes type,
                int count, const void* data) override;
    /// Shared lock, text "Error creating vector.". `data` must hold every stored record; a
    /// missing dataset throws.
    bool read(const std::string& path, const std::string& name, ClassComposer& type,
              void* data) override;
    /// Shared lock, text "Error accessing file.". Converts to `type` (VT_AS_STORED: as stored);
    /// a missing dataset, or one whose element count does not fit an int, throws.
    bool read(const std::string& path, const std::string& name, tagVectorDataTypes type,
              void* data) override;
    /// Shared lock, text "Error accessing file.". `result` is resized to `names`; an entry whose
    /// name holds no vector of at least one element keeps what it held. A vector whose stored
    /// count disagrees with its shape throws DataAccessViolationException "Wrong size of object.".
    bool readMany(const std::string& path, const std::vector<std::string>& names,
                  std::vector<std::vector<unsigned char>>& result) override;
    /// Exclusive lock, text "Error creating vector.". Replaces the records of an existing
    /// vector; a missing one throws. Not undone by a revert.
    bool update(const std::string& path, const std::string& name, ClassComposer& type, int count,
                const void* data) override;
    /// Exclusive lock, text "Error updating vector.". Replaces the elements of an existing
    /// vector; a missing one throws. Not undone by a revert.
    bool update(const std::string& path, const std::string& name, tagVectorDataTypes type,
                int count, const void* data) override;
    /// Exclusive lock, text "Error removing vector.". A missing dataset throws. Not undone by a
    /// revert.
    bool remove(const std::string& path, const std::string& name) override;
    /// Shared lock, text "Error accessing file.". False when nothing, or something of another
    /// kind, is stored under the name (a missing group included); damage throws.
    bool exists(const std::string& path, const std::string& name) override;
    /// Shared lock, text "Error accessing file.". {0, 1, -1} when no dataset is stored under
    /// the name; `type` is -1 for a stored type without a tagVectorDataTypes value.
    VectorInfo getInfo(const std::string& path, const std::string& name) override;
    /// No lock. Applies to vectors created afterwards; returns `fixed`.
    bool setFixed(bool fixed) override;
    /// No lock. Applies to vectors created afterwards; 0 lets the element count decide.
    void setSizeHint(unsigned int hint) override;
    /// No lock of its own: it runs under the caller's. False when no storage is bound or the
    /// group is missing; any other failure throws DataAccessViolationException.
    bool existsGroup(const std::string& path) override;
    /// No lock of its own. False when the group does not exist (see existsGroup()) or the file
    /// library refused to remove it; true when it is gone.
    bool removeGroup(const std::string& path) override;

    /// Shared lock, text "Error accessing file.". Elements [first, first + count) into `data`
    /// (count elements), converted to `type` as read() converts; only the stored slices the
    /// range touches are read and verified. QminvalidArgument "Element count out of range." for
    /// a negative count, "Element index out of range." for a negative first; a range past the
    /// end or a missing dataset throws DataAccessViolationException with the file library's
    /// message (which names the range and the element count). count 0 reads nothing.
    bool readRange(const std::string& path, const std::string& name, tagVectorDataTypes type,
                   long long first, int count, void* data);
    /// Shared lock, text "Error creating vector.". As the typed readRange(), for records laid out
    /// by a QMXClassComposer (members matched by name, as read() matches them).
    bool readRange(const std::string& path, const std::string& name, ClassComposer& type,
                   long long first, int count, void* data);
    /// Exclusive lock, text "Error updating vector.". Adds `count` elements given as `type` to
    /// the end of an existing typed vector without rewriting what is stored, and pushes a
    /// VectorAppend so that a revert shortens the vector back. An array is refused
    /// (DataAccessViolationException: its rows x cols would no longer hold; see
    /// QMXArrayDAO::appendRows()), as are a missing dataset and one of another kind. count 0
    /// changes nothing and pushes nothing.
    bool append(const std::string& path, const std::string& name, tagVectorDataTypes type,
                int count, const void* data);
    /// Exclusive lock, text "Error updating vector.". As the typed append(), for records of a
    /// QMXClassComposer; a composer lacking a stored member is refused by the file library.
    bool append(const std::string& path, const std::string& name, ClassComposer& type, int count,
                const void* data);

    ///@{
    /// Workers: no lock of their own. They rewrite `path` to the group path and `name` to the
    /// dataset name, and report failures as DataAccessViolationException with the file
    /// library's last message; Exists() answers false for absence as exists() does.
    bool Create(std::string& path, std::string& name, int type, int count, const void* data);
    bool Create(std::string& path, std::string& name, QMXHandle datatype, bool flag, int count,
                const void* data);
    bool Read(std::string& path, std::string& name, int type, void* data);
    bool Read(std::string& path, std::string& name, QMXHandle datatype, void* data);
    bool Update(std::string& path, std::string& name, int type, int count, const void* data);
    bool Update(std::string& path, std::string& name, QMXHandle datatype, int count,
                const void* data);
    bool Remove(std::string& path, std::string& name);
    bool Exists(std::string& path, std::string& name);
    ///@}
    /// False, with `info` untouched, when no dataset is stored under the name; a dataset that
    /// cannot be described (damaged) throws DataAccessViolationException.
    bool GetVectorInfo(std::string& path, std::string& name, VectorInfo& info);

    /// Levels below 0 are stored as 0, above 9 as 9.
    void setCompression(int level);
    /// The group every path of this DAO is below; empty (the root) at first.
    void setPathToRoot(const std::string& root);
    /// What compresses the datasets this DAO creates with a level of 1 to 9, and those its
    /// updates lay out anew: a QMXLCompressor value, or QMXL_COMPRESSOR_FOLLOW (the default)
    /// for the process's choice (QMXLsetCompressor). Throws QminvalidArgument("Unknown
    /// compressor.") for an unknown one; touches no file.
    void setCompressor(int compressor);
    /// The choice setCompressor stored (QMXL_COMPRESSOR_FOLLOW when none).
    int getCompressor() const { return compressor; }

protected:
    /// Turns a caller's path and name into the group path and dataset name; creates missing
    /// groups when asked. Negative when the group creation failed.
    int constructPaths(std::string& path, std::string& name, bool createGroup);
    /// Throws QminvalidArgument "Unknown data type." for codes the vector DAO does not store.
    static VarDataType convert(tagVectorDataTypes type);
    /// The chunk value handed to the file library for a new dataset of `count` elements.
    static long long chunkValue(unsigned int sizeHint, int count);
    /// Element counts are ints on the way in; a negative one would reach the file library as a
    /// huge size. Throws QminvalidArgument, returns the count as an int otherwise.
    static int checkedCount(long long count);
    /// Whether a dataset is at the caller's path and name; used before a creation so that a
    /// failed create never undoes a dataset it did not make.
    bool datasetExists(const std::string& path, const std::string& name);
    /// The element count the file holds for the caller's path and name, -1 when none; throws
    /// when the dataset cannot be read. Rewrites both arguments as the workers do.
    long long storedElementCount(std::string& path, std::string& name);
    /// Throws DataAccessViolationException naming the dataset when its stored element count
    /// does not fit an int: the host sized its buffer by getInfo, which cannot report it.
    /// Arguments as rewritten by constructPaths.
    void requireReportableCount(const std::string& path, const std::string& name);
    /// The typed read's file library call alone, for callers that checked the count already.
    bool readTyped(const std::string& path, const std::string& name, int type, void* data);
    /// The storage must be bound before any file work: throws DataSourceException otherwise.
    void requireStorage();
    /// Throws QminvalidArgument "Element index out of range." for a negative first element.
    static void checkFirst(long long first);
    ///@{
    /// The range read workers: no lock of their own; the arguments as rewritten by
    /// constructPaths.
    void ReadRange(const std::string& path, const std::string& name, int type, long long first,
                   long long count, void* data);
    void ReadRange(const std::string& path, const std::string& name, const QMXHandle& datatype,
                   long long first, long long count, void* data);
    ///@}
    /// Whether the dataset carries an array's shape ("Rows"); false when it cannot be opened
    /// (the file library's call that follows reports why).
    bool isArray(const std::string& path, const std::string& name);

    ///@{
    /// The settings in force for new vectors and paths.
    int getCompression() const { return compression; }
    bool isFixed() const { return fixed; }
    unsigned int getSizeHint() const { return sizeHint; }
    const std::string& getPathToRoot() const { return pathToRoot; }
    ///@}

private:
    /// Reached virtually by getInfo and readMany, so that arrays report their shape.
    virtual VectorInfo getInfoNoLocking(const std::string& path, const std::string& name);

    std::string pathToRoot;
    int compression = 0;
    bool fixed = true;
    unsigned int sizeHint = 0;
    int compressor = QMXL_COMPRESSOR_FOLLOW;
};

}  // namespace Quellmar

#endif
