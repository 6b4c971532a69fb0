// Opening a container file the way a host does: a descriptor, a user context with its
// transaction stack, and the DAO factory. The unit of work ends with the Container.
#ifndef QMX_TOOL_CONTAINER_H
#define QMX_TOOL_CONTAINER_H

#include "DataSourceDescriptor.h"
#include "QMXGenericDAOFactory.h"
#include "QMXPersistentStorage.h"
#include "TransactionStack.h"

#include <memory>
#include <string>

namespace Quellmar::qmx {

// Read and Write open an existing file; Create makes a new one and refuses an existing one;
// Replace makes a new one in place of what is there.
enum class Access { Read, Write, Create, Replace };

class Container {
public:
    // Throws Failure with a one-line explanation when the file cannot be used as asked.
    Container(const std::string& path, Access access, bool native);
    // Ends the unit of work: the locks commit and close the file.
    ~Container();
    Container(const Container&) = delete;
    Container& operator=(const Container&) = delete;

    const std::string& path() const { return m_path; }
    // The file library's handle of the open file.
    int file() const;
    std::shared_ptr<QMXPersistentStorage> storage() const { return m_storage; }
    std::shared_ptr<TransactionStack> stack() const { return m_stack; }

    template <class Dao>
    Dao& bind(Dao& dao) const {
        dao.setDataSource(m_storage);
        dao.setContext(m_stack);
        return dao;
    }

    // Undoes what was created in this unit of work (after a failed write).
    void revert();
    // Writes what was changed to disk now, so that a failure is reported and not lost in
    // the closing of the file. Throws Failure.
    void flush();

private:
    std::string m_path;
    std::shared_ptr<DataSourceDescriptor> m_descriptor;
    std::shared_ptr<TransactionStack> m_stack;
    std::shared_ptr<QMXPersistentStorage> m_storage;
};

// Refuses early, with a plain reason, what is not a readable HDF5 file at all.
void probeFile(const std::string& path, Access access);

}  // namespace Quellmar::qmx

#endif
