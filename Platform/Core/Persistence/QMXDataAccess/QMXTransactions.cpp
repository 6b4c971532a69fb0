#include "QMXTransactions.h"

#include "DAOExceptions.h"
#include "HDFException.h"
#include "QMXL.h"
#include "QMXLogLine.h"
#include "QMXPersistentStorage.h"
#include "ReleaseReport.h"
#include "TransactionStack.h"

namespace Quellmar {

namespace {
const Logging s_log(__FILE__);
}  // namespace

// ---- Locks ---------------------------------------------------------------------------------

QMXLockTransaction::QMXLockTransaction(std::shared_ptr<QMXPersistentStorage> source)
    : storage(std::move(source)), locked(false) {
    if (!storage)
        throw DataSourceException("No storage defined!");
}

QMXLockTransaction::QMXLockTransaction(QMXLockTransaction&& other) noexcept
    : LockingTransaction(other), storage(std::move(other.storage)), locked(other.locked) {}

QMXLockTransaction& QMXLockTransaction::operator=(QMXLockTransaction&& other) noexcept {
    LockingTransaction::operator=(other);
    storage = std::move(other.storage);
    locked = other.locked;
    return *this;
}

void QMXLockTransaction::lock() {
    // In force from here on: even a failed open must be committed and closed at the end.
    locked = true;
    if (!storage->takeLock(isExclusive()))
        throw HDFException("Driver check failed!");
}

void QMXLockTransaction::release() {
    if (!locked)
        return;
    locked = false;
    // A moved-from lock has no storage left to release.
    if (!storage)
        return;
    const QMXPersistentStorageImplementation::LockEnd end = storage->endLock(isExclusive());
    const std::string& source = storage->getDescriptor()->getResourceName();
    ReleaseReport* report = ReleaseReport::current();
    if (end.deferred && report)
        report->deferred(source);
    if (!end.failed)
        return;
    if (report)
        report->failed(source, end.cause);
    else  // ended outside a transaction stack: the log is the only witness
        QMX_ERROR(s_log, "Could not commit " << source << ": " << end.cause);
}

bool QMXLockTransaction::revert() {
    release();
    return true;
}

bool QMXLockTransaction::isCompatible(const LockingTransaction* other) const {
    const auto* held = dynamic_cast<const QMXLockTransaction*>(other);
    if (held == nullptr || !held->storage || !storage)
        throw InvalidTransaction("Incompatible locking requests.");
    if (*held->storage->getDescriptor() != *storage->getDescriptor())
        return true;
    if (!isExclusive() && other->isExclusive())
        throw InvalidTransaction("Incompatible locking requests.");
    return false;
}

ExclusiveFileLockTransaction::ExclusiveFileLockTransaction(
    std::shared_ptr<QMXPersistentStorage> storage)
    : QMXLockTransaction(std::move(storage)) {}

ExclusiveFileLockTransaction::~ExclusiveFileLockTransaction() {
    release();
}

SharedFileLockTransaction::SharedFileLockTransaction(std::shared_ptr<QMXPersistentStorage> storage)
    : QMXLockTransaction(std::move(storage)) {}

SharedFileLockTransaction::~SharedFileLockTransaction() {
    release();
}

void pushFileLock(TransactionStack& stack, std::shared_ptr<QMXPersistentStorage> storage,
                  bool exclusive) {
    if (exclusive)
        stack.pushLock(new ExclusiveFileLockTransaction(std::move(storage)));
    else
        stack.pushLock(new SharedFileLockTransaction(std::move(storage)));
}

// ---- Flushing ------------------------------------------------------------------------------

DisableFlushingTransaction::DisableFlushingTransaction() {
    QMXLsetflush(0);
}

DisableFlushingTransaction::DisableFlushingTransaction(const DisableFlushingTransaction& other)
    : AtomicTransaction(other) {}

DisableFlushingTransaction& DisableFlushingTransaction::operator=(
    const DisableFlushingTransaction& other) {
    AtomicTransaction::operator=(other);
    return *this;
}

DisableFlushingTransaction::~DisableFlushingTransaction() {
    QMXLsetflush(1);
}

bool DisableFlushingTransaction::revert() {
    QMXLsetflush(1);
    return true;
}

// ---- Creations -----------------------------------------------------------------------------

QMXCreationTransaction::QMXCreationTransaction(int fileHandle) {
    file.copyHandle(fileHandle);
}

bool QMXCreationTransaction::revert() {
    GroupHandle group(QMXLopenGroup(file.getHandle(), path.c_str()));
    const int removed = QMXLremoveDataset(group.getHandle(), name.c_str());
    group.closeHandle();
    return removed > 0;
}

// ---- Appends -------------------------------------------------------------------------------

VectorAppend::VectorAppend(int fileHandle, std::string groupPath, std::string datasetName,
                           long long countBefore, int rowsBefore)
    : path(std::move(groupPath)),
      name(std::move(datasetName)),
      count(countBefore),
      rows(rowsBefore) {
    file.copyHandle(fileHandle);
}

bool VectorAppend::revert() {
    if (QMXLtruncateDataset(file.getHandle(), path.c_str(), name.c_str(), count) < 0)
        return false;
    if (rows < 0)
        return true;
    const std::string full = path + "/" + name;
    DatasetHandle dataset(QMXLopenDataset(file.getHandle(), full.c_str()));
    return QMXLsetAttribute(dataset.getHandle(), "Rows", &rows) >= 0;
}

}  // namespace Quellmar
