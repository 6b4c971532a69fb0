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
    /// Reads one shape attribute of an existing dataset: false when it is absent; throws
    /// DataAccessViolationException when it cannot be looked for or read (damaged).
    static bool readShapeAttribute(const DatasetHandle& dataset, const char* attribute, int& value);
};

}  // namespace Quellmar

#endif
