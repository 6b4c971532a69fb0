// Shared set-up of the vector, array and composer tests: a fresh container file per test, a
// storage bound to it, the host's stack, and DAOs that expose what the tests must look at.
#ifndef QUELLMAR_VECTORTESTSUPPORT_H
#define QUELLMAR_VECTORTESTSUPPORT_H

#include "ClassComposer.h"
#include "DataSourceDescriptor.h"
#include "QMXArrayDAO.h"
#include "QMXHandles.h"
#include "QMXL.h"
#include "QMXPersistentStorage.h"
#include "QMXVectorDAO.h"
#include "TempDir.h"
#include "TransactionStack.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace Quellmar::vectortest {

// Opens the protected parts the tests check against.
template <class DAO>
class Probe : public DAO {
public:
    using QMXBaseDAO::getHandleToStorage;
    using QMXVectorDAO::chunkValue;
    using QMXVectorDAO::constructPaths;
    using QMXVectorDAO::convert;
    using QMXVectorDAO::getCompression;
    using QMXVectorDAO::getPathToRoot;
    using QMXVectorDAO::getSizeHint;
    using QMXVectorDAO::isFixed;
};

using VectorProbe = Probe<QMXVectorDAO>;
using ArrayProbe = Probe<QMXArrayDAO>;

// A composer of another kind than the library's.
class ForeignComposer : public ClassComposer {
public:
    ForeignComposer() : ClassComposer(8) {}
    void registerMember(const char*, unsigned long long, ClassMemberTypes::tag,
                        unsigned long long) override {}
    void registerMember(const char*, unsigned long long, ClassMemberTypes::tag) override {}
};

class StorageTest : public ::testing::Test {
protected:
    std::shared_ptr<QMXPersistentStorage> makeStorage(const std::string& file) {
        return QMXPersistentStorage::MakeDriver(
            std::make_shared<const DataSourceDescriptor>(dir.file(file), false, true));
    }
    template <class DAO>
    void bind(DAO& dao) {
        dao.setDataSource(storage);
        dao.setContext(stack);
    }
    // Ends the unit of work: the locks commit and close the file.
    void endUnit() { stack->commit(); }

    // Reads an integer attribute of a dataset; the file library's result (1 when read). Needs a
    // lock in force, so that the file is open.
    static int readAttribute(int file, const std::string& dataset, const char* attribute,
                             int& value) {
        DatasetHandle handle(QMXLopenDataset(file, dataset.c_str()));
        return QMXLreadAttribute(handle.getHandle(), attribute, &value);
    }
    static bool hasAttribute(int file, const std::string& dataset, const char* attribute) {
        DatasetHandle handle(QMXLopenDataset(file, dataset.c_str()));
        return QMXLhasAttribute(handle.getHandle(), attribute) == 1;
    }
    static bool datasetOpens(int file, const std::string& dataset) {
        DatasetHandle handle(QMXLopenDataset(file, dataset.c_str()));
        return handle.isValid();
    }

    Quellmar::testing::TempDir dir;
    std::shared_ptr<QMXPersistentStorage> storage = makeStorage("vectors.qmz");
    std::shared_ptr<TransactionStack> stack = TransactionStack::create();
};

}  // namespace Quellmar::vectortest

#endif
