#ifndef QUELLMAR_QMXCLASSCOMPOSER_H
#define QUELLMAR_QMXCLASSCOMPOSER_H

#include "QMXDataAccessExport.h"

#include "ClassComposer.h"
#include "QMXHandles.h"

namespace Quellmar {

/// A host record's memory layout as a compound datatype of the file library. Copies share the
/// datatype, each through a reference of its own, so a composer can serve any number of DAOs.
class QMX_DATAACCESS_API QMXClassComposer : public ClassComposer {
public:
    /// Throws QminvalidArgument for a total size of 0. A datatype the file library refuses is not
    /// reported here: the DAO operations using the composer fail instead.
    explicit QMXClassComposer(unsigned long long totalSize);
    /// Shares `other`'s datatype through a reference of its own. Throws DataSourceException
    /// "Could not increase reference to handle" when the library refuses it.
    QMXClassComposer(const QMXClassComposer& other);
    /// Drops this composer's datatype reference and shares `other`'s, as the copy does.
    QMXClassComposer& operator=(const QMXClassComposer& other);
    ~QMXClassComposer() override;

    /// The file library's results are not looked at: a refused member is simply absent.
    void registerMember(const char* name, unsigned long long offset, ClassMemberTypes::tag type,
                        unsigned long long count) override;
    void registerMember(const char* name, unsigned long long offset,
                        ClassMemberTypes::tag type) override;

    /// A new reference to the datatype; -1 when there is none.
    QMXHandle getDataTypeHandle() const;

private:
    QMXHandle typeHandle;
};

}  // namespace Quellmar

#endif
