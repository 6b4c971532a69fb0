#include "QMXGenericDAOFactory.h"

#include "DAOExceptions.h"
#include "QMXL.h"
#include "QMXTransactions.h"

namespace Quellmar {

QMXGenericDAOFactory::QMXGenericDAOFactory(std::shared_ptr<DataSourceDescriptor> descriptor,
                                           const UserContext* context) {
    if (context == nullptr) {
        if (descriptor)
            storage = QMXPersistentStorage::MakeDriver(descriptor);
        return;
    }
    std::shared_ptr<TransactionStack> stack = context->getStack().lock();
    if (!stack)
        throw InvalidTransaction("Unable to access transaction stack.");
    // MakeDriver refuses an empty descriptor before anything is opened.
    const bool readOnly = context->getIntent() == UserContext::ReadOnly;
    if (readOnly && descriptor)
        descriptor->setReadOnly(true);
    storage = QMXPersistentStorage::MakeDriver(descriptor);
    pushFileLock(*stack, storage, !readOnly);
}

FileName QMXGenericDAOFactory::getFileName() const {
    if (!storage)
        throw DataSourceException("No storage defined!");
    return FileName(storage->getDescriptor()->getResourceName());
}

bool QMXGenericDAOFactory::assignFileVersionToExtension(int version,
                                                        int (*predicate)(const char*)) {
    // Negative results are failures too, not only 0.
    return QMXLassignCurrentQMFileVersionForExtensions(version, predicate) > 0;
}

QMXDataAccessPort::QMXDataAccessPort() = default;
QMXDataAccessPort::~QMXDataAccessPort() = default;
QMXDataAccessPort& QMXDataAccessPort::operator=(const QMXDataAccessPort&) {
    return *this;
}

}  // namespace Quellmar
