// A small DAO built on the base the way the library's DAOs are: it stores short texts as
// opaque data items, with the usual frame of data-source check, stack, lock and creation.
#ifndef QUELLMAR_TESTS_NOTEDAO_H
#define QUELLMAR_TESTS_NOTEDAO_H

#include "DAOExceptions.h"
#include "QMXBaseDAO.h"
#include "QMXHandles.h"
#include "QMXL.h"
#include "QMXTransactions.h"

#include <string>
#include <vector>

namespace Quellmar::testing {

class NoteDAO : public QMXBaseDAO {
public:
    using QMXBaseDAO::checkFile;
    using QMXBaseDAO::enlistFileLock;
    using QMXBaseDAO::getHandleToStorage;
    using QMXBaseDAO::getStorage;
    using QMXBaseDAO::getStrippedName;

    void write(const std::string& group, const std::string& name, const std::string& text) {
        if (!checkFile())
            throw DataSourceException("No datasource defined!");
        std::shared_ptr<TransactionStack> stack = getContext();
        stack->setErrorMessage("Error creating note.");
        stack->pushLock(new ExclusiveFileLockTransaction(getStorage()));
        const std::string path = pathOf(group);
        std::string item;
        getStrippedName(name, item);
        const int file = getHandleToStorage();
        auto* creation = new BlobCreation(file);
        stack->push(creation);
        creation->path = path;
        creation->name = item;
        if (QMXLexistsOpaqueDataGroup(file, path.c_str()) != 1) {
            GroupHandle made(QMXLcreateOpaqueDataGroup(file, path.c_str()));
            if (!made.isValid())
                throw DataAccessViolationException(getLastErrorMessage());
        }
        if (QMXLcreateCompressedOpaqueData(file, path.c_str(), item.c_str(), 0, 0,
                                           static_cast<long long>(text.size()), text.data()) < 0)
            throw DataAccessViolationException(getLastErrorMessage());
    }

    std::string read(const std::string& group, const std::string& name) {
        if (!checkFile())
            throw DataSourceException("No datasource defined!");
        std::shared_ptr<TransactionStack> stack = getContext();
        stack->setErrorMessage("Error reading note.");
        stack->pushLock(new SharedFileLockTransaction(getStorage()));
        const std::string path = pathOf(group);
        std::string item;
        getStrippedName(name, item);
        long long size = 0;
        const int file = getHandleToStorage();
        if (QMXLgetSizeOfOpaqueData(file, path.c_str(), item.c_str(), &size) < 0)
            throw DataAccessViolationException(getLastErrorMessage());
        std::vector<char> buffer(static_cast<std::size_t>(size) + 1);
        if (QMXLreadOpaqueData(file, path.c_str(), item.c_str(), buffer.data()) < 0)
            throw DataAccessViolationException(getLastErrorMessage());
        return std::string(buffer.data(), static_cast<std::size_t>(size));
    }

private:
    static std::string pathOf(const std::string& group) {
        std::string stripped;
        getStrippedName(group, stripped);
        return "/" + stripped;
    }
};

}  // namespace Quellmar::testing

#endif
