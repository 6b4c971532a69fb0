// A host's unit of work on one container: a stack, a factory and one DAO of each kind bound to
// them. Destroying it ends the unit of work like a host does (the stack commits).
#ifndef QUELLMAR_TESTS_SESSIONFIXTURE_H
#define QUELLMAR_TESTS_SESSIONFIXTURE_H

#include "DataSourceDescriptor.h"
#include "QMXArrayDAO.h"
#include "QMXBlobDAO.h"
#include "QMXGenericDAOFactory.h"
#include "QMXVectorDAO.h"
#include "SerializationTransferObject.h"
#include "TransactionStack.h"
#include "UserContext.h"

#include <gtest/gtest.h>

#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace Quellmar::testing {

// One unit of work on one container, as a host holds it. Destroying it without commit() or
// revert() ends the unit the way a dropped stack does.
struct HostUnit {
    explicit HostUnit(const std::string& path,
                      UserContext::AccessIntent intent = UserContext::ReadWrite)
        : stack(TransactionStack::create()),
          context(stack, intent),
          factory(std::make_shared<DataSourceDescriptor>(path), &context) {
        for (QMXBaseDAO* dao :
             {static_cast<QMXBaseDAO*>(&blobs), static_cast<QMXBaseDAO*>(&vectors),
              static_cast<QMXBaseDAO*>(&arrays)}) {
            dao->setDataSource(factory.getStorage());
            dao->setContext(stack);
        }
    }
    HostUnit(const HostUnit&) = delete;
    HostUnit& operator=(const HostUnit&) = delete;

    void bind(QMXBaseDAO& dao) {
        dao.setDataSource(factory.getStorage());
        dao.setContext(stack);
    }

    std::shared_ptr<TransactionStack> stack;
    UserContext context;
    QMXGenericDAOFactory factory;
    QMXBlobDAO blobs;
    QMXVectorDAO vectors;
    QMXArrayDAO arrays;
};

// A unit that commits when it goes. A failed commit there is a test failure, not a throw from a
// destructor (which would end the test program).
struct Session : HostUnit {
    using HostUnit::HostUnit;
    ~Session() {
        try {
            stack->commit();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "the session's commit failed: " << e.what();
        }
    }
};

inline SerializationTransferObject makeObject(const std::string& bytes) {
    return SerializationTransferObject(
        std::make_shared<std::vector<unsigned char>>(bytes.begin(), bytes.end()));
}

inline std::string bytesOf(const SerializationTransferObject& object) {
    auto buffer = object.getBuffer();
    return buffer ? std::string(buffer->begin(), buffer->end()) : std::string();
}

}  // namespace Quellmar::testing

#endif
