// Row reads and row appends of the array DAO: an array is a vector of rows x cols elements,
// so rows [first, first + count) are the elements [first * cols, (first + count) * cols).
#include "QMXArrayDAO.h"

#include "DAOExceptions.h"
#include "QMXComposerOf.h"
#include "QMXTransactions.h"
#include "QmException.h"
#include "TransactionStack.h"

#include <climits>
#include <memory>

namespace Quellmar {

int QMXArrayDAO::storedColumns(std::string& path, std::string& name, int& rows) {
    const std::string callerPath = path;
    const std::string callerName = name;
    if (storedElementCount(path, name) < 0)
        throw DataAccessViolationException(getLastErrorMessage());
    // The shape as the host sees it, checked against the stored element count.
    const VectorInfo info = getInfoNoLocking(callerPath, callerName);
    rows = info.rows;
    return info.cols;
}

int QMXArrayDAO::columnsOf(const std::string& groupPath, const std::string& datasetName) {
    const std::string full = groupPath + "/" + datasetName;
    // The count first: the file library keeps the item it looked up for the handle and the
    // read that follow, so the item is looked up once.
    long long count = 0;
    int type = -1;
    if (QMXLgetDatasetInfo(getHandleToStorage(), groupPath.c_str(), datasetName.c_str(), &count,
                           &type) < 0)
        throw DataAccessViolationException(getLastErrorMessage());
    int rows = 0;
    int cols = 0;
    {
        DatasetHandle dataset(QMXLopenDataset(getHandleToStorage(), full.c_str()));
        if (!dataset.isValid())
            throw DataAccessViolationException(getLastErrorMessage());
        // As the shape is reported: without a positive "Rows" and "Cols" it is a vector.
        if (!readShapeAttribute(dataset, "Rows", rows) || rows <= 0 ||
            !readShapeAttribute(dataset, "Cols", cols) || cols <= 0)
            return 1;
    }
    // Rows of a shape that does not hold the stored elements would be other elements.
    if (static_cast<long long>(rows) * cols != count)
        throw DataAccessViolationException("shape " + std::to_string(rows) + " x " +
                                           std::to_string(cols) + " does not match the " +
                                           std::to_string(count) + " stored elements of '" +
                                           full + "' (the item is damaged)");
    return cols;
}

template <typename ReadElements>
void QMXArrayDAO::readRowsOf(const std::string& path, const std::string& name, long long first,
                             int count, ReadElements read) {
    std::string groupPath = path;
    std::string datasetName = name;
    if (constructPaths(groupPath, datasetName, false) < 0)
        throw DataAccessViolationException(getLastErrorMessage());
    // The file library checks the element range against the stored count.
    const long long cols = columnsOf(groupPath, datasetName);
    // A first row whose element index overflows is past any end the file can have.
    if (first > LLONG_MAX / cols)
        throw QminvalidArgument("Element index out of range.");
    read(groupPath, datasetName, first * cols, static_cast<long long>(count) * cols);
}

bool QMXArrayDAO::readRows(const std::string& path, const std::string& name,
                           tagVectorDataTypes type, long long first, int count, void* data) {
    requireStorage();
    checkedCount(count);
    checkFirst(first);
    const int code = convert(type);
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error accessing file.", false);
    readRowsOf(path, name, first, count,
               [&](const std::string& groupPath, const std::string& datasetName,
                   long long firstElement, long long elements) {
                   ReadRange(groupPath, datasetName, code, firstElement, elements, data);
               });
    return true;
}

bool QMXArrayDAO::readRows(const std::string& path, const std::string& name, ClassComposer& type,
                           long long first, int count, void* data) {
    requireStorage();
    QMXClassComposer& composer = composerOf(type);
    checkedCount(count);
    checkFirst(first);
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error creating vector.", false);
    readRowsOf(path, name, first, count,
               [&](const std::string& groupPath, const std::string& datasetName,
                   long long firstElement, long long elements) {
                   ReadRange(groupPath, datasetName, composer.getDataTypeHandle(), firstElement,
                             elements, data);
               });
    return true;
}

template <typename WriteElements>
void QMXArrayDAO::appendRowsTo(TransactionStack& stack, const std::string& path,
                               const std::string& name, int rows, int cols,
                               WriteElements write) {
    std::string groupPath = path;
    std::string datasetName = name;
    int storedRows = 0;
    const int storedCols = storedColumns(groupPath, datasetName, storedRows);
    const std::string full = groupPath + "/" + datasetName;
    if (!isArray(groupPath, datasetName))
        throw DataAccessViolationException("'" + full + "' is not an array");
    if (cols != storedCols)
        throw DataAccessViolationException("'" + full + "' has " + std::to_string(storedCols) +
                                           " columns, not " + std::to_string(cols));
    if (rows == 0)
        return;
    // The new shape must still be one the interface can report.
    const long long grown = static_cast<long long>(storedRows) + rows;
    if (grown > INT_MAX)
        throw QminvalidArgument("Element count out of range.");
    const int newRows = static_cast<int>(grown);
    elementCount(newRows, cols);

    auto undo = std::make_unique<VectorAppend>(getHandleToStorage(), groupPath, datasetName,
                                               static_cast<long long>(storedRows) * cols,
                                               storedRows);
    if (!write(groupPath, datasetName, static_cast<long long>(rows) * cols))
        throw DataAccessViolationException(getLastErrorMessage());
    // Elements and shape change together: a shape that cannot be written takes the rows back.
    if (!writeShape(groupPath, datasetName, newRows, cols)) {
        const std::string message = getLastErrorMessage();
        undo->revert();
        throw DataAccessViolationException(message);
    }
    stack.push(undo.release());
}

bool QMXArrayDAO::appendRows(const std::string& path, const std::string& name,
                             tagVectorDataTypes type, int rows, int cols, const void* data) {
    requireStorage();
    elementCount(rows, cols);
    const int code = convert(type);
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error updating array.", true);
    appendRowsTo(*stack, path, name, rows, cols,
                 [&](const std::string& groupPath, const std::string& datasetName,
                     long long elements) {
                     return QMXLappendTypedDataset(getHandleToStorage(), groupPath.c_str(),
                                                   datasetName.c_str(), code, elements,
                                                   data) >= 0;
                 });
    return true;
}

bool QMXArrayDAO::appendRows(const std::string& path, const std::string& name, ClassComposer& type,
                             int rows, int cols, const void* data) {
    requireStorage();
    QMXClassComposer& composer = composerOf(type);
    elementCount(rows, cols);
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error updating array.", true);
    const QMXHandle datatype = composer.getDataTypeHandle();
    appendRowsTo(*stack, path, name, rows, cols,
                 [&](const std::string& groupPath, const std::string& datasetName,
                     long long elements) {
                     return QMXLappendObjectDataset(getHandleToStorage(), groupPath.c_str(),
                                                    datasetName.c_str(), datatype.getHandle(),
                                                    elements, data) >= 0;
                 });
    return true;
}

}  // namespace Quellmar
