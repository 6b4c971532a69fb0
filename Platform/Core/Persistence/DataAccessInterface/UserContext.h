#ifndef QUELLMAR_USERCONTEXT_H
#define QUELLMAR_USERCONTEXT_H

#include "TransactionStack.h"

#include <memory>

namespace Quellmar {

/// Who is calling: the access they intend and the transaction stack of their unit of work.
class UserContext {
public:
    /// What the caller means to do: ReadOnly makes a factory mark its descriptor read-only and
    /// take a shared lock; ReadWrite takes an exclusive one.
    enum AccessIntent { ReadWrite = 0, ReadOnly = 1 };

    /// A caller working on `stack` (not owned) with `intent`.
    UserContext(std::weak_ptr<TransactionStack> stack, AccessIntent intent)
        : m_stack(std::move(stack)), m_intent(intent) {}

    /// The caller's stack; expired when the caller let it go.
    std::weak_ptr<TransactionStack> getStack() const { return m_stack; }
    /// The caller's intent.
    AccessIntent getIntent() const { return m_intent; }

private:
    std::weak_ptr<TransactionStack> m_stack;
    AccessIntent m_intent;
};

}  // namespace Quellmar

#endif
