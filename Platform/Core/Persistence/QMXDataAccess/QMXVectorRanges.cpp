// Range reads and appends of the vector DAO: the parts of a vector a host touches without
// moving the whole of it.
#include "QMXVectorDAO.h"

#include "DAOExceptions.h"
#include "QMXComposerOf.h"
#include "QMXTransactions.h"
#include "QmException.h"
#include "TransactionStack.h"

#include <memory>

namespace Quellmar {

namespace {

[[noreturn]] void throwAccessViolation() {
    throw DataAccessViolationException(QMXBaseDAO::getLastErrorMessage());
}

}  // namespace

void QMXVectorDAO::checkFirst(long long first) {
    if (first < 0)
        throw QminvalidArgument("Element index out of range.");
}

void QMXVectorDAO::ReadRange(const std::string& path, const std::string& name, int type,
                             long long first, long long count, void* data) {
    if (QMXLreadTypedDatasetRange(getHandleToStorage(), path.c_str(), name.c_str(), type, first,
                                  count, data) < 0)
        throwAccessViolation();
}

void QMXVectorDAO::ReadRange(const std::string& path, const std::string& name,
                             const QMXHandle& datatype, long long first, long long count,
                             void* data) {
    if (QMXLreadObjectDatasetRange(getHandleToStorage(), path.c_str(), name.c_str(),
                                   datatype.getHandle(), first, count, data) < 0)
        throwAccessViolation();
}

bool QMXVectorDAO::isArray(const std::string& path, const std::string& name) {
    const std::string full = path + "/" + name;
    DatasetHandle dataset(QMXLopenDataset(getHandleToStorage(), full.c_str()));
    if (!dataset.isValid())
        return false;
    const int present = QMXLhasAttribute(dataset.getHandle(), "Rows");
    if (present < 0)
        throwAccessViolation();
    return present == 1;
}

bool QMXVectorDAO::readRange(const std::string& path, const std::string& name,
                             tagVectorDataTypes type, long long first, int count, void* data) {
    requireStorage();
    checkedCount(count);
    checkFirst(first);
    const int code = convert(type);
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error accessing file.", false);
    std::string groupPath = path;
    std::string datasetName = name;
    if (constructPaths(groupPath, datasetName, false) < 0)
        throwAccessViolation();
    ReadRange(groupPath, datasetName, code, first, count, data);
    return true;
}

bool QMXVectorDAO::readRange(const std::string& path, const std::string& name, ClassComposer& type,
                             long long first, int count, void* data) {
    requireStorage();
    QMXClassComposer& composer = composerOf(type);
    checkedCount(count);
    checkFirst(first);
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error creating vector.", false);
    std::string groupPath = path;
    std::string datasetName = name;
    if (constructPaths(groupPath, datasetName, false) < 0)
        throwAccessViolation();
    ReadRange(groupPath, datasetName, composer.getDataTypeHandle(), first, count, data);
    return true;
}

bool QMXVectorDAO::append(const std::string& path, const std::string& name, tagVectorDataTypes type,
                          int count, const void* data) {
    requireStorage();
    checkedCount(count);
    const int code = convert(type);
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error updating vector.", true);
    std::string groupPath = path;
    std::string datasetName = name;
    const long long before = storedElementCount(groupPath, datasetName);
    if (before < 0)
        throw DataAccessViolationException(getLastErrorMessage());
    if (isArray(groupPath, datasetName))
        throw DataAccessViolationException("'" + groupPath + "/" + datasetName +
                                           "' is an array: append whole rows to it");
    if (count == 0)
        return true;
    // Made before the file is touched, so that nothing appended is left without its undo.
    auto undo = std::make_unique<VectorAppend>(getHandleToStorage(), groupPath, datasetName,
                                               before, -1);
    if (QMXLappendTypedDataset(getHandleToStorage(), groupPath.c_str(), datasetName.c_str(), code,
                               static_cast<long long>(count), data) < 0)
        throwAccessViolation();
    stack->push(undo.release());
    return true;
}

bool QMXVectorDAO::append(const std::string& path, const std::string& name, ClassComposer& type,
                          int count, const void* data) {
    requireStorage();
    QMXClassComposer& composer = composerOf(type);
    checkedCount(count);
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error updating vector.", true);
    std::string groupPath = path;
    std::string datasetName = name;
    const long long before = storedElementCount(groupPath, datasetName);
    if (before < 0)
        throw DataAccessViolationException(getLastErrorMessage());
    if (isArray(groupPath, datasetName))
        throw DataAccessViolationException("'" + groupPath + "/" + datasetName +
                                           "' is an array: append whole rows to it");
    if (count == 0)
        return true;
    auto undo = std::make_unique<VectorAppend>(getHandleToStorage(), groupPath, datasetName,
                                               before, -1);
    const QMXHandle datatype = composer.getDataTypeHandle();
    if (QMXLappendObjectDataset(getHandleToStorage(), groupPath.c_str(), datasetName.c_str(),
                                datatype.getHandle(), static_cast<long long>(count), data) < 0)
        throwAccessViolation();
    stack->push(undo.release());
    return true;
}

}  // namespace Quellmar
