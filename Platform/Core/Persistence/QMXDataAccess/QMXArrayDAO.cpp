#include "QMXArrayDAO.h"

#include "DAOExceptions.h"
#include "QMXComposerOf.h"
#include "QMXTransactions.h"
#include "QmException.h"
#include "TransactionStack.h"

#include <memory>

namespace Quellmar {

int QMXArrayDAO::elementCount(int rows, int cols) {
    if (rows < 0 || cols < 0)
        throw QminvalidArgument("Element count out of range.");
    return checkedCount(static_cast<long long>(rows) * cols);
}

bool QMXArrayDAO::writeShape(const std::string& groupPath, const std::string& datasetName, int rows,
                             int cols) {
    const std::string full = groupPath + "/" + datasetName;
    DatasetHandle dataset(QMXLopenDataset(getHandleToStorage(), full.c_str()));
    if (QMXLsetAttribute(dataset.getHandle(), "Rows", &rows) < 0)
        return false;
    return QMXLsetAttribute(dataset.getHandle(), "Cols", &cols) >= 0;
}

template <typename MakeDataset>
bool QMXArrayDAO::createArray(const std::string& path, const std::string& name, int rows, int cols,
                              MakeDataset make) {
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error creating array.", true);
    try {
        std::string groupPath = path;
        std::string datasetName = name;
        auto* creation = new VectorCreation(getHandleToStorage());
        stack->push(creation);

        // The undo must never remove a dataset that stood under this name before.
        bool existedBefore = true;
        try {
            existedBefore = datasetExists(path, name);
            make(groupPath, datasetName);
        } catch (...) {
            if (!existedBefore) {
                creation->path = groupPath;
                creation->name = datasetName;
            }
            stack->setErrorMessage(getLastErrorMessage());
            throw stack;
        }
        creation->path = groupPath;
        creation->name = datasetName;

        if (!writeShape(groupPath, datasetName, rows, cols)) {
            stack->setErrorMessage(getLastErrorMessage());
            throw stack;
        }
    } catch (std::shared_ptr<TransactionStack>& failed) {
        if (failed->revert())
            QMXLflushMetadata(getHandleToStorage());
        throw DataSourceException(failed->getErrorMessage());
    }
    return true;
}

bool QMXArrayDAO::create(const std::string& path, const std::string& name, tagVectorDataTypes type,
                         int rows, int cols, const void* data) {
    requireStorage();
    const int count = elementCount(rows, cols);
    return createArray(path, name, rows, cols,
                       [&](std::string& groupPath, std::string& datasetName) {
                           Create(groupPath, datasetName, convert(type), count, data);
                       });
}

bool QMXArrayDAO::create(const std::string& path, const std::string& name, ClassComposer& type,
                         int rows, int cols, const void* data) {
    requireStorage();
    QMXClassComposer& composer = composerOf(type);
    const int count = elementCount(rows, cols);
    return createArray(
        path, name, rows, cols, [&](std::string& groupPath, std::string& datasetName) {
            Create(groupPath, datasetName, composer.getDataTypeHandle(), true, count, data);
        });
}

bool QMXArrayDAO::update(const std::string& path, const std::string& name, tagVectorDataTypes type,
                         int rows, int cols, const void* data) {
    requireStorage();
    const int count = elementCount(rows, cols);
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error updating array.", true);
    std::string groupPath = path;
    std::string datasetName = name;
    Update(groupPath, datasetName, convert(type), count, data);
    if (!writeShape(groupPath, datasetName, rows, cols))
        throw DataAccessViolationException(getLastErrorMessage());
    return true;
}

bool QMXArrayDAO::update(const std::string& path, const std::string& name, ClassComposer& type,
                         int rows, int cols, const void* data) {
    requireStorage();
    QMXClassComposer& composer = composerOf(type);
    const int count = elementCount(rows, cols);
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error updating array.", true);
    std::string groupPath = path;
    std::string datasetName = name;
    Update(groupPath, datasetName, composer.getDataTypeHandle(), count, data);
    if (!writeShape(groupPath, datasetName, rows, cols))
        throw DataAccessViolationException(getLastErrorMessage());
    return true;
}

VectorInfo QMXArrayDAO::getInfoNoLocking(const std::string& path, const std::string& name) {
    VectorInfo info{0, 1, -1};
    std::string groupPath = path;
    std::string datasetName = name;
    if (!GetVectorInfo(groupPath, datasetName, info))
        return info;  // nothing stored there

    // From here on the dataset exists: every failure is damage, and damaged shape attributes
    // must fail the query, not turn the array into a plain vector of another shape.
    const std::string full = groupPath + "/" + datasetName;
    DatasetHandle dataset(QMXLopenDataset(getHandleToStorage(), full.c_str()));
    if (!dataset.isValid())
        throw DataAccessViolationException(getLastErrorMessage());
    int rows = 0;
    if (!readShapeAttribute(dataset, "Rows", rows) || rows <= 0)
        return info;
    int cols = 0;
    if (!readShapeAttribute(dataset, "Cols", cols) || cols <= 0)
        return info;
    // The host sizes its buffer by rows x cols; the read moves every stored element.
    if (static_cast<long long>(rows) * cols != info.rows)
        throw DataAccessViolationException("shape " + std::to_string(rows) + " x " +
                                           std::to_string(cols) + " does not match the " +
                                           std::to_string(info.rows) + " stored elements of '" +
                                           full + "' (the item is damaged)");
    info.rows = rows;
    info.cols = cols;
    return info;
}

bool QMXArrayDAO::readShapeAttribute(const DatasetHandle& dataset, const char* attribute,
                                     int& value) {
    const int present = QMXLhasAttribute(dataset.getHandle(), attribute);
    if (present < 0)
        throw DataAccessViolationException(getLastErrorMessage());
    if (present == 0)
        return false;
    if (QMXLreadAttribute(dataset.getHandle(), attribute, &value) < 0)
        throw DataAccessViolationException(getLastErrorMessage());
    return true;
}

}  // namespace Quellmar
