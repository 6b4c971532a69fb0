#ifndef QUELLMAR_QMXBASEDAO_H
#define QUELLMAR_QMXBASEDAO_H

#include "QMXDataAccessExport.h"

#include "QMXPersistentStorage.h"
#include "TransactionStack.h"

#include <memory>
#include <string>

namespace Quellmar {

/// Common base of every DAO: binds one storage (shared) and the host's transaction stack (not
/// owned), and gives derived operations their first steps: the data-source test, the stack to
/// work on, the file handle and the trimming of names.
class QMX_DATAACCESS_API QMXBaseDAO {
public:
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXBaseDAO() = default;
    QMXBaseDAO(const QMXBaseDAO&) = default;
    QMXBaseDAO& operator=(const QMXBaseDAO&) = default;
    ///@}
    virtual ~QMXBaseDAO();

    /// Replaces the storage binding; an empty pointer unbinds.
    virtual void setDataSource(std::shared_ptr<QMXPersistentStorage> storage);
    /// Keeps a weak reference to the stack; the DAO never owns it.
    virtual void setContext(std::shared_ptr<TransactionStack> stack);

    /// The host's stack, or a new empty stack (a different one on every call) when the host's
    /// stack is gone or was never set.
    std::shared_ptr<TransactionStack> getContext();

    /// The file library's last error text, empty when it has none.
    static std::string getLastErrorMessage();

protected:
    /// Whether a storage is bound; the file itself is not looked at.
    bool checkFile();
    /// The bound storage's current file handle; -1 while the file is closed or nothing is bound.
    int getHandleToStorage() const;
    /// The bound storage; empty when none is bound.
    std::shared_ptr<QMXPersistentStorage> getStorage() const { return storage; }
    /// An operation's first steps on the stack it works on: its error text is set, then a file
    /// lock of the given kind on the bound storage is enlisted. Returns that stack; the caller
    /// keeps it until the operation ends. Throws DataSourceException when nothing is bound.
    std::shared_ptr<TransactionStack> enlistFileLock(const std::string& errorText, bool exclusive);

    /// Trims '/' and '.' from a name as stored names have always been trimmed: leading
    /// separators go; trailing ones only as far as a result length of (index of the last
    /// non-separator + 1) leaves them out. Names shorter than 2 characters are kept. Throws
    /// std::out_of_range "invalid string position" for a longer name of separators only.
    static void getStrippedName(const std::string& name, std::string& result);
    /// Throws QminvalidArgument "Name contains a NUL character." for a name the file library
    /// would cut short.
    static void refuseEmbeddedNul(const std::string& name);
    /// Whether the file library's last failure said that nothing (or something of another
    /// kind) is stored under the name asked for. Existence tests answer "no" to exactly these;
    /// every other failure, damage above all, is reported as an exception.
    static bool lastFailureWasAbsence();

private:
    std::shared_ptr<QMXPersistentStorage> storage;
    std::weak_ptr<TransactionStack> context;
};

}  // namespace Quellmar

#endif
