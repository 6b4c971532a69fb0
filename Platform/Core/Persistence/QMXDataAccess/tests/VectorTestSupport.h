// Shared set-up of the vector, array and composer tests: a fresh container file per test, a
// storage bound to it, the host's stack, and DAOs that expose what the tests must look at.
#ifndef QUELLMAR_VECTORTESTSUPPORT_H
#define QUELLMAR_VECTORTESTSUPPORT_H

#include "ClassComposer.h"
#include "QMXClassComposer.h"
#include "DataSourceDescriptor.h"
#include "QMXArrayDAO.h"
#include "QMXHandles.h"
#include "QMXL.h"
#include "QMXPersistentStorage.h"
#include "QMXVectorDAO.h"
#include "TempDir.h"
#include "TransactionStack.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

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

// A host's record of the compound tests: id (4 bytes), then padding to 8, then three doubles, a
// byte, padding, two shorts, padding.
struct Record {
    std::int32_t id;
    double position[3];
    std::uint8_t flag;
    std::uint16_t codes[2];
};
static_assert(sizeof(Record) > sizeof(std::int32_t) + 3 * sizeof(double) + 1 + 2 * 2,
              "the record must carry padding");

inline QMXClassComposer recordComposer() {
    QMXClassComposer composer(sizeof(Record));
    composer& triad{"id", offsetof(Record, id), ClassMemberTypes::MT_INT32} &
        quartet{"position", offsetof(Record, position), ClassMemberTypes::MT_DOUBLE, 3} &
        triad{"flag", offsetof(Record, flag), ClassMemberTypes::MT_UINT8} &
        quartet{"codes", offsetof(Record, codes), ClassMemberTypes::MT_UINT16, 2};
    return composer;
}

inline std::vector<Record> records(int count, int seed) {
    std::vector<Record> out(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        Record& r = out[static_cast<std::size_t>(i)];
        std::memset(&r, 0, sizeof r);
        r.id = seed + i;
        r.position[0] = i * 0.5;
        r.position[1] = -i;
        r.position[2] = seed;
        r.flag = static_cast<std::uint8_t>(i % 2);
        r.codes[0] = static_cast<std::uint16_t>(i);
        r.codes[1] = static_cast<std::uint16_t>(60000 - i);
    }
    return out;
}

// Member by member: the padding bytes are not stored.
inline void expectSame(const std::vector<Record>& a, const std::vector<Record>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_TRUE(a[i].id == b[i].id && a[i].flag == b[i].flag &&
                    std::memcmp(a[i].position, b[i].position, sizeof a[i].position) == 0 &&
                    std::memcmp(a[i].codes, b[i].codes, sizeof a[i].codes) == 0)
            << "record " << i;
    }
}

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
