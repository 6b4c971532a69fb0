#ifndef QUELLMAR_USERCONTEXT_H
#define QUELLMAR_USERCONTEXT_H

#include "TransactionStack.h"

#include <memory>

namespace Quellmar {

// Who is calling: the access they intend and the transaction stack of their unit of work.
class UserContext {
public:
    enum AccessIntent { ReadWrite = 0, ReadOnly = 1 };

    UserContext(std::weak_ptr<TransactionStack> stack, AccessIntent intent)
        : m_stack(std::move(stack)), m_intent(intent) {}

    std::weak_ptr<TransactionStack> getStack() const { return m_stack; }
    AccessIntent getIntent() const { return m_intent; }

private:
    std::weak_ptr<TransactionStack> m_stack;
    AccessIntent m_intent;
};

}  // namespace Quellmar

#endif
