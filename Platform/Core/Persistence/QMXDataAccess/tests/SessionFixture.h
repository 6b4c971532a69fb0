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

#include <memory>
#include <string>
#include <vector>

namespace Quellmar::testing {

struct Session {
    explicit Session(const std::string& path,
                     UserContext::AccessIntent intent = UserContext::ReadWrite)
        : stack(TransactionStack::create()),
          context(stack, intent),
          factory(std::make_shared<DataSourceDescriptor>(path), &context) {
        for (QMXBaseDAO* dao : {static_cast<QMXBaseDAO*>(&blobs), static_cast<QMXBaseDAO*>(&vectors),
                                static_cast<QMXBaseDAO*>(&arrays)}) {
            dao->setDataSource(factory.getStorage());
            dao->setContext(stack);
        }
    }
    ~Session() { stack->commit(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    std::shared_ptr<TransactionStack> stack;
    UserContext context;
    QMXGenericDAOFactory factory;
    QMXBlobDAO blobs;
    QMXVectorDAO vectors;
    QMXArrayDAO arrays;
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
