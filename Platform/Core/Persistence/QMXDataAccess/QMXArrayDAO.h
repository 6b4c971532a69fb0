#ifndef QUELLMAR_QMXARRAYDAO_H
#define QUELLMAR_QMXARRAYDAO_H

#include "QMXDataAccessExport.h"

#include "QMXVectorDAO.h"
#include "VectorDAO.h"

#include <string>

namespace Quellmar {

/// Two-dimensional arrays: a vector of rows x cols elements, laid out as the caller gave them,
/// whose dataset carries its shape in the integer attributes "Rows" and "Cols". A failed
/// creation is undone here: the stack is reverted and DataSourceException carries its text.
class QMX_DATAACCESS_API QMXArrayDAO : public virtual QMXVectorDAO, public virtual ArrayDAO {
public:
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXArrayDAO() = default;
    QMXArrayDAO(const QMXArrayDAO&) = default;
    QMXArrayDAO& operator=(const QMXArrayDAO&) = default;
    ~QMXArrayDAO() override = default;
    ///@}

    using QMXVectorDAO::create;
    using QMXVectorDAO::update;

    bool create(const std::string& path, const std::string& name, ClassComposer& type, int rows,
                int cols, const void* data) override;
    /// As the compound create(), with elements of `type`.
    bool create(const std::string& path, const std::string& name, tagVectorDataTypes type, int rows,
                int cols, const void* data) override;
    /// Exclusive lock, text "Error updating array.". Replaces the records of an existing array
    /// and rewrites "Rows" and "Cols"; a failure throws DataAccessViolationException with the
    /// file library's message. Not undone by a revert.
    bool update(const std::string& path, const std::string& name, ClassComposer& type, int rows,
                int cols, const void* data) override;
    /// As the compound update(), with elements of `type`.
    bool update(const std::string& path, const std::string& name, tagVectorDataTypes type, int rows,
                int cols, const void* data) override;

    /// Shared lock, text "Error accessing file.". Rows [first, first + count) into `data`
    /// (count x cols elements, cols as stored), converted to `type` as read() converts; only
    /// the stored slices the rows touch are read. A vector reads as an array of one column.
    /// QminvalidArgument "Element count out of range." for a negative count, "Element index
    /// out of range." for a negative first; rows past the end or a missing dataset throw
    /// DataAccessViolationException with the file library's message.
    bool readRows(const std::string& path, const std::string& name, tagVectorDataTypes type,
                  long long first, int count, void* data);
    /// Shared lock, text "Error creating vector.". As the typed readRows(), for records of a
    /// QMXClassComposer.
    bool readRows(const std::string& path, const std::string& name, ClassComposer& type,
                  long long first, int count, void* data);
    /// Exclusive lock, text "Error updating array.". Adds `rows` rows of `cols` elements given
    /// as `type` below the stored ones without rewriting them, and rewrites "Rows" in the same
    /// unit of work; pushes a VectorAppend, so that a revert shortens the array and writes its
    /// old "Rows" back. A dataset without an array's shape, or `cols` other than the stored
    /// column count, throws DataAccessViolationException; so does a refusal of the file library
    /// (nothing is changed then). rows 0 changes nothing.
    bool appendRows(const std::string& path, const std::string& name, tagVectorDataTypes type,
                    int rows, int cols, const void* data);
    /// Exclusive lock, text "Error updating array.". As the typed appendRows(), for records of a
    /// QMXClassComposer.
    bool appendRows(const std::string& path, const std::string& name, ClassComposer& type,
                    int rows, int cols, const void* data);

private:
    VectorInfo getInfoNoLocking(const std::string& path, const std::string& name) override;

    /// rows x cols as an element count; throws QminvalidArgument outside the int range.
    static int elementCount(int rows, int cols);
    /// Both creates: everything after the argument checks. `make` runs the worker.
    template <typename MakeDataset>
    bool createArray(const std::string& path, const std::string& name, int rows, int cols,
                     MakeDataset make);
    /// Writes "Rows" and "Cols" on the dataset; false when the file library refused either.
    bool writeShape(const std::string& groupPath, const std::string& datasetName, int rows,
                    int cols);
    /// The stored column count of the array at the caller's path and name (1 for a vector);
    /// rewrites both as the workers do. A missing dataset throws DataAccessViolationException.
    int storedColumns(std::string& path, std::string& name, int& rows);
    /// The column count of an existing dataset (1 for a vector), from its "Cols"; the arguments
    /// as rewritten by constructPaths. A dataset that cannot be opened, or whose shape does not
    /// hold its stored elements, throws DataAccessViolationException.
    int columnsOf(const std::string& groupPath, const std::string& datasetName);
    /// Both row reads after the argument checks: `read` runs the range worker on the element
    /// range of the rows.
    template <typename ReadElements>
    void readRowsOf(const std::string& path, const std::string& name, long long first, int count,
                    ReadElements read);
    /// Both row appends after the argument checks: `write` runs the file library's append of
    /// the elements and answers whether it succeeded.
    template <typename WriteElements>
    void appendRowsTo(TransactionStack& stack, const std::string& path, const std::string& name,
                      int rows, int cols, WriteElements write);
    /// Reads one shape attribute of an existing dataset: false when it is absent; throws
    /// DataAccessViolationException when it cannot be looked for or read (damaged).
    static bool readShapeAttribute(const DatasetHandle& dataset, const char* attribute, int& value);
};

}  // namespace Quellmar

#endif
