#ifndef QUELLMAR_QMXBLOBVARIANTS_H
#define QUELLMAR_QMXBLOBVARIANTS_H

#include "QMXDataAccessExport.h"

#include "QMXBlobDAO.h"

namespace Quellmar {

/// Objects as opaque data items: the same items QMXBlobDAO reaches.
class QMX_DATAACCESS_API QMXOpaqueDataDAO : public QMXBlobDAO {
public:
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXOpaqueDataDAO() = default;
    QMXOpaqueDataDAO(const QMXOpaqueDataDAO&) = default;
    QMXOpaqueDataDAO& operator=(const QMXOpaqueDataDAO&) = default;
    ///@}
    ~QMXOpaqueDataDAO() override;

protected:
    int createCompressedBlobData(int file, const char* group, const char* name, int compression,
                                 int chunk, long long size, const char* data) override;
    int updateBlobData(int file, const char* group, const char* name, long long size,
                       const char* data) override;
    int readBlobData(int file, const char* group, const char* name, char* buffer) override;
    int getSizeOfBlobData(int file, const char* group, const char* name, long long* size) override;
};

/// Objects as string datasets. The bytes go through unchanged: no terminator is added or
/// stripped.
class QMX_DATAACCESS_API QMXStringDataDAO : public QMXBlobDAO {
public:
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXStringDataDAO() = default;
    QMXStringDataDAO(const QMXStringDataDAO&) = default;
    QMXStringDataDAO& operator=(const QMXStringDataDAO&) = default;
    ///@}
    ~QMXStringDataDAO() override;

protected:
    int createCompressedBlobData(int file, const char* group, const char* name, int compression,
                                 int chunk, long long size, const char* data) override;
    int updateBlobData(int file, const char* group, const char* name, long long size,
                       const char* data) override;
    int readBlobData(int file, const char* group, const char* name, char* buffer) override;
    int getSizeOfBlobData(int file, const char* group, const char* name, long long* size) override;
};

}  // namespace Quellmar

#endif
