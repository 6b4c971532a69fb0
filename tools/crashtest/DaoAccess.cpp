// The DAO workload's file work: units run and containers read the way a host does it, through
// the factory, the transaction stack and the DAOs, never the file library directly.
#include "DaoWorkload.h"

#include "DataSourceDescriptor.h"
#include "QMXArrayDAO.h"
#include "QMXBlobDAO.h"
#include "QMXDesignDAO.h"
#include "QMXGenericDAOFactory.h"
#include "QMXTransactions.h"
#include "QMXVectorDAO.h"
#include "SerializationTransferObject.h"
#include "TransactionStack.h"
#include "UserContext.h"

#include <cstring>
#include <exception>
#include <initializer_list>
#include <memory>
#include <stdexcept>

namespace Quellmar::crashtest::dao {
namespace {

const std::string kObjects = "objects";  // the object group
const std::string kSeries = "series";    // where vectors live
const std::string kGrids = "grids";      // where arrays live

// Every name the workload can write, so that a read finds leftovers of reverted units too.
const char* const kBlobNames[] = {"b0", "b1", "b2", "b3", "b4", "b5", "t0", "t1", "t2"};
const char* const kVectorNames[] = {"v0", "v1", "v2", "v3"};
const char* const kArrayNames[] = {"a0", "a1", "a2", "t0", "t1"};

std::string nameOf(const std::string& key) {
    return key.substr(key.find('/') + 1);
}
std::string kindOf(const std::string& key) {
    return key.substr(0, key.find('/'));
}

SerializationTransferObject transferObject(const std::string& bytes, unsigned chunk) {
    return SerializationTransferObject(
        std::make_shared<std::vector<unsigned char>>(bytes.begin(), bytes.end()), chunk);
}

std::string bytesOf(const SerializationTransferObject& object) {
    const auto buffer = object.getBuffer();
    return buffer ? std::string(buffer->begin(), buffer->end()) : std::string();
}

struct ArrayShape {
    int rows = 0, cols = 0;
    std::vector<double> values;
};

ArrayShape parseArray(const std::string& value) {
    ArrayShape a;
    const size_t x = value.find('x'), colon = value.find(':');
    a.rows = std::stoi(value.substr(0, x));
    a.cols = std::stoi(value.substr(x + 1, colon - x - 1));
    a.values.resize((value.size() - colon - 1) / sizeof(double));
    std::memcpy(a.values.data(), value.data() + colon + 1, a.values.size() * sizeof(double));
    return a;
}

std::vector<double> parseDoubles(const std::string& value) {
    std::vector<double> v(value.size() / sizeof(double));
    std::memcpy(v.data(), value.data(), value.size());
    return v;
}

std::string doubleBytes(const std::vector<double>& values) {
    std::string s(values.size() * sizeof(double), '\0');
    std::memcpy(s.data(), values.data(), s.size());
    return s;
}

// The DAOs of one unit, bound to its storage and stack.
struct Daos {
    QMXBlobDAO blobs;
    QMXVectorDAO vectors;
    QMXArrayDAO arrays;
    QMXDesignDatasetDAO design{"model"};

    Daos(const std::shared_ptr<QMXPersistentStorage>& storage,
         const std::shared_ptr<TransactionStack>& stack) {
        for (QMXBaseDAO* dao :
             std::initializer_list<QMXBaseDAO*>{&blobs, &vectors, &arrays, &design}) {
            dao->setDataSource(storage);
            dao->setContext(stack);
        }
        // Vectors and arrays change length on update.
        vectors.setFixed(false);
        arrays.setFixed(false);
    }
};

void setAttribute(Daos& d, const std::string& key, const std::string& value) {
    if (key == "attr/objects/Version")
        d.blobs.updateGroupDataVersion(kObjects, std::stoi(value));
    else if (key == "attr/objects/Id")
        d.blobs.updateGroupDataId(kObjects, value);
    else if (key == "attr/objects/Chain")
        d.blobs.updateChainGangValue(kObjects, value);
    else if (key == "attr/objects/Created")
        d.blobs.updateFileCreationSoftwareRevision(kObjects, value);
    else if (key == "attr/objects/Modified")
        d.blobs.updateFileLastModifiedSoftwareRevision(kObjects, value);
    else if (key == "attr/objects/MaxId") {
        const size_t colon = value.find(':');
        d.blobs.updateMaxIdentifierValue(
            kObjects, std::stoull(value.substr(0, colon)),
            static_cast<unsigned short>(std::stoul(value.substr(colon + 1))));
    } else if (key == "attr/design/Version")
        d.design.updateGroupDataVersion(std::stoi(value));
    else if (key == "attr/design/Id")
        d.design.updateGroupDataId(value);
    else
        throw std::logic_error("no such attribute " + key);
}

void putArray(Daos& d, const Op& op) {
    ArrayShape a = parseArray(op.value);
    const bool ok =
        op.create
            ? d.arrays.create(kGrids, nameOf(op.key), VT_DOUBLE, a.rows, a.cols, a.values.data())
            : d.arrays.update(kGrids, nameOf(op.key), VT_DOUBLE, a.rows, a.cols, a.values.data());
    if (!ok)
        throw std::runtime_error("array " + op.key + " refused");
}

void run(Daos& d, const Op& op, unsigned chunk) {
    const std::string name = nameOf(op.key);
    switch (op.kind) {
        case OpKind::CreateGroups:
            d.blobs.createGroup(kObjects, 1);
            d.design.createGroup(1);
            break;
        case OpKind::PutBlob:
            if (op.create)
                d.blobs.create(kObjects, name, transferObject(op.value, chunk));
            else
                d.blobs.update(kObjects, name, transferObject(op.value, chunk));
            break;
        case OpKind::RemoveBlob:
            d.blobs.remove(kObjects, name);
            break;
        case OpKind::PutVector: {
            const std::vector<double> v = parseDoubles(op.value);
            const int count = static_cast<int>(v.size());
            const bool ok = op.create ? d.vectors.create(kSeries, name, VT_DOUBLE, count, v.data())
                                      : d.vectors.update(kSeries, name, VT_DOUBLE, count, v.data());
            if (!ok)
                throw std::runtime_error("vector " + op.key + " refused");
            break;
        }
        case OpKind::PutArray:
            putArray(d, op);
            break;
        case OpKind::PutDesign: {
            SerializationTransferObject object = transferObject(op.value, chunk);
            if (op.create)
                d.design.create(object);
            else
                d.design.update(object);
            break;
        }
        case OpKind::RemoveDesign:
            d.design.remove();
            break;
        case OpKind::SetAttribute:
            setAttribute(d, op.key, op.value);
            break;
        case OpKind::AppendVector: {
            const std::vector<double> v = parseDoubles(op.value);
            if (!d.vectors.append(kSeries, name, VT_DOUBLE, static_cast<int>(v.size()), v.data()))
                throw std::runtime_error("append to " + op.key + " refused");
            break;
        }
        case OpKind::AppendRows: {
            const std::vector<double> v = parseDoubles(op.value);
            const int cols = d.arrays.getInfo(kGrids, name).cols;
            if (!d.arrays.appendRows(kGrids, name, VT_DOUBLE, static_cast<int>(v.size()) / cols,
                                     cols, v.data()))
                throw std::runtime_error("rows appended to " + op.key + " refused");
            break;
        }
        case OpKind::CreateTemporary:
            if (kindOf(op.key) == "blob")
                d.blobs.create(kObjects, name, transferObject(op.value, chunk));
            else if (kindOf(op.key) == "array")
                putArray(d, op);
            else
                d.design.create(transferObject(op.value, chunk));
            break;
    }
}

template <typename Body>
std::string guarded(Body body) {
    try {
        body();
        return {};
    } catch (const std::shared_ptr<TransactionStack>& stack) {
        // A failed compound or array creation hands the stack over.
        return "stack thrown: " + (stack ? stack->getErrorMessage() : std::string("(empty)"));
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown exception";
    }
}

void readAll(Daos& d, State& state) {
    for (const char* name : kBlobNames) {
        if (!d.blobs.exists(kObjects, name))
            continue;
        SerializationTransferObject object;
        d.blobs.read(kObjects, name, object);
        state[std::string("blob/") + name] = bytesOf(object);
    }
    for (const char* name : kVectorNames) {
        if (!d.vectors.exists(kSeries, name))
            continue;
        std::vector<double> v(static_cast<size_t>(d.vectors.getInfo(kSeries, name).rows));
        if (!d.vectors.read(kSeries, name, VT_DOUBLE, v.data()))
            throw std::runtime_error("vector read refused");
        state[std::string("vector/") + name] = doubleBytes(v);
    }
    for (const char* name : kArrayNames) {
        if (!d.arrays.exists(kGrids, name))
            continue;
        const VectorInfo info = d.arrays.getInfo(kGrids, name);
        std::vector<double> v(static_cast<size_t>(info.rows) * static_cast<size_t>(info.cols));
        if (!d.arrays.read(kGrids, name, VT_DOUBLE, v.data()))
            throw std::runtime_error("array read refused");
        state[std::string("array/") + name] =
            std::to_string(info.rows) + "x" + std::to_string(info.cols) + ":" + doubleBytes(v);
    }
    if (d.design.existsGroup() && d.design.exists()) {
        SerializationTransferObject object;
        d.design.read(object);
        state["design/model"] = bytesOf(object);
    }
    if (d.blobs.existsGroup(kObjects)) {
        int version = 0;
        d.blobs.readGroupDataVersion(kObjects, version);
        state["attr/objects/Version"] = std::to_string(version);
        std::string text;
        d.blobs.readGroupDataId(kObjects, text);
        state["attr/objects/Id"] = text;
        d.blobs.readChainGangValue(kObjects, text);
        state["attr/objects/Chain"] = text;
        d.blobs.readFileCreationSoftwareRevision(kObjects, text);
        state["attr/objects/Created"] = text;
        d.blobs.readFileLastModifiedSoftwareRevision(kObjects, text);
        state["attr/objects/Modified"] = text;
        unsigned long long value = 0;
        unsigned short high = 0;
        d.blobs.readMaxIdentifierValue(kObjects, value, high);
        state["attr/objects/MaxId"] = std::to_string(value) + ":" + std::to_string(high);
    }
    if (d.design.existsGroup()) {
        int version = 0;
        d.design.readGroupDataVersion(version);
        state["attr/design/Version"] = std::to_string(version);
        std::string id;
        d.design.readGroupDataId(id);
        state["attr/design/Id"] = id;
    }
}

}  // namespace

std::string runUnit(const std::string& container, const Unit& unit) {
    return guarded([&] {
        auto stack = TransactionStack::create();
        // Pushed first, so that it is still in force when the lock below commits.
        if (unit.noFlush)
            stack->push(new DisableFlushingTransaction());
        UserContext context(stack, UserContext::ReadWrite);
        QMXGenericDAOFactory factory(std::make_shared<DataSourceDescriptor>(container), &context);
        Daos daos(factory.getStorage(), stack);
        // Alternate chunked and unchunked blobs between units.
        const unsigned chunk = unit.index % 2 ? 4096u : 0u;
        for (const Op& op : unit.ops)
            run(daos, op, chunk);
        if (unit.reverted) {
            if (!stack->revert())
                throw std::runtime_error("revert reported an incomplete rollback");
        } else {
            stack->commit();
        }
    });
}

std::string readState(const std::string& container, State& state) {
    state.clear();
    return guarded([&] {
        auto stack = TransactionStack::create();
        UserContext context(stack, UserContext::ReadOnly);
        QMXGenericDAOFactory factory(std::make_shared<DataSourceDescriptor>(container), &context);
        Daos daos(factory.getStorage(), stack);
        readAll(daos, state);
        stack->commit();
    });
}

}  // namespace Quellmar::crashtest::dao
