#include "QMXBaseDAO.h"

#include "QmException.h"

#include "QMXL.h"
#include "QMXTransactions.h"

#include <algorithm>
#include <stdexcept>

namespace Quellmar {

QMXBaseDAO::~QMXBaseDAO() {
    // The stack reference goes first, then the share of the storage.
    context.reset();
    storage.reset();
}

void QMXBaseDAO::setDataSource(std::shared_ptr<QMXPersistentStorage> source) {
    storage = std::move(source);
}

void QMXBaseDAO::setContext(std::shared_ptr<TransactionStack> stack) {
    context = stack;
}

std::shared_ptr<TransactionStack> QMXBaseDAO::getContext() {
    if (std::shared_ptr<TransactionStack> stack = context.lock())
        return stack;
    // Not kept: the work of this one call ends with the caller's hold on it.
    return TransactionStack::create();
}

std::shared_ptr<TransactionStack> QMXBaseDAO::enlistFileLock(const std::string& errorText,
                                                             bool exclusive) {
    // One stack for both steps: without a host stack every getContext() makes a new one.
    std::shared_ptr<TransactionStack> stack = getContext();
    stack->setErrorMessage(errorText);
    pushFileLock(*stack, getStorage(), exclusive);
    return stack;
}

bool QMXBaseDAO::checkFile() {
    return storage != nullptr;
}

int QMXBaseDAO::getHandleToStorage() const {
    return storage ? storage->getHandleToStorage() : -1;
}

void QMXBaseDAO::refuseEmbeddedNul(const std::string& name) {
    // The file library takes NUL-terminated names: everything after a NUL would silently be
    // dropped and the call would address another object.
    if (name.find('\0') != std::string::npos)
        throw QminvalidArgument("Name contains a NUL character.");
}

void QMXBaseDAO::getStrippedName(const std::string& name, std::string& result) {
    static const char* const kSeparators = "/.";
    refuseEmbeddedNul(name);
    if (name.size() < 2) {
        if (&result != &name)
            result = name;
        return;
    }
    const std::size_t last = name.find_last_not_of(kSeparators);
    const std::size_t first = name.find_first_not_of(kSeparators);
    if (last == std::string::npos)
        throw std::out_of_range("invalid string position");
    // The length is last + 1, not last - first + 1: stored names depend on it.
    std::string stripped = name.substr(first, std::min(last + 1, name.size() - first));
    result.swap(stripped);
}

std::string QMXBaseDAO::getLastErrorMessage() {
    char* message = nullptr;
    QMXLgetLastErrorMessage(&message);
    if (message == nullptr)
        return std::string();
    std::string text(message);
    QMXLreleaseString(&message);
    return text;
}

bool QMXBaseDAO::lastFailureWasAbsence() {
    const int kind = QMXLgetLastFailureKind();
    return kind == QMXL_FAILED_MISSING || kind == QMXL_FAILED_OTHER_KIND;
}

}  // namespace Quellmar
