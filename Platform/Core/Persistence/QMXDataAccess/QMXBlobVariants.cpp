#include "QMXBlobVariants.h"

#include "QMXL.h"

namespace Quellmar {

QMXOpaqueDataDAO::~QMXOpaqueDataDAO() = default;

int QMXOpaqueDataDAO::createCompressedBlobData(int file, const char* group, const char* name,
                                               int compression, int chunk, long long size,
                                               const char* data) {
    return QMXLcreateCompressedOpaqueData(file, group, name, compression, chunk, size, data);
}

int QMXOpaqueDataDAO::updateBlobData(int file, const char* group, const char* name, long long size,
                                     const char* data) {
    return QMXLupdateOpaqueData(file, group, name, size, data);
}

int QMXOpaqueDataDAO::readBlobData(int file, const char* group, const char* name, char* buffer) {
    return QMXLreadOpaqueData(file, group, name, buffer);
}

int QMXOpaqueDataDAO::getSizeOfBlobData(int file, const char* group, const char* name,
                                        long long* size) {
    return QMXLgetSizeOfOpaqueData(file, group, name, size);
}

QMXStringDataDAO::~QMXStringDataDAO() = default;

int QMXStringDataDAO::createCompressedBlobData(int file, const char* group, const char* name,
                                               int compression, int chunk, long long size,
                                               const char* data) {
    return QMXLcreateCompressedStringDataset(file, group, name, compression, chunk, size, data);
}

int QMXStringDataDAO::updateBlobData(int file, const char* group, const char* name, long long size,
                                     const char* data) {
    return QMXLupdateStringDataset(file, group, name, size, data);
}

int QMXStringDataDAO::readBlobData(int file, const char* group, const char* name, char* buffer) {
    return QMXLreadStringDataset(file, group, name, buffer);
}

int QMXStringDataDAO::getSizeOfBlobData(int file, const char* group, const char* name,
                                        long long* size) {
    return QMXLgetSizeOfStringDataset(file, group, name, size);
}

}  // namespace Quellmar
