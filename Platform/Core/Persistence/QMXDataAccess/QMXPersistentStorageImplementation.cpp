#include "QMXPersistentStorageImplementation.h"

#include "DAOExceptions.h"
#include "FileName.h"
#include "FileUtilities.h"
#include "QMXL.h"
#include "QMXLogLine.h"

namespace Quellmar {

namespace {
const Logging s_log(__FILE__);

// Compaction setting handed to the file library; its meaning is the library's.
constexpr int kDeflatePercent = 100;
}  // namespace

QMXPersistentStorageImplementation::QMXPersistentStorageImplementation(
    std::shared_ptr<const DataSourceDescriptor> source)
    : descriptor(std::move(source)) {
    if (!descriptor) throw DataSourceException("No datasource defined!");
    if (descriptor->getNative())
        driver = std::make_unique<QMXNativeHDF5Driver>();
    else
        driver = std::make_unique<QMXPersistentStorageDriver>();
    // Any failure, not only -1: a create that failed must not leave a storage that looks usable.
    if (open() < 0) {
        driver.reset();
        throw DataSourceException("Cannot access datasource");
    }
}

QMXPersistentStorageImplementation::~QMXPersistentStorageImplementation() = default;

int QMXPersistentStorageImplementation::open() {
    const std::string& resource = descriptor->getResourceName();
    const FileName fileName(resource);
    const bool exists = FileUtilities::exists(fileName, false);
    QMX_TRACE(s_log, "File[  : " << fileName.toString() << "] exists : " << (exists ? 1 : 0));

    const bool readOnly = descriptor->getReadOnly();
    if (!descriptor->getCreateAlways() && exists) {
        if (readOnly) return 0;
        if (!FileUtilities::isReadOnly(fileName)) return 0;
        QMX_ERROR(s_log, "Overwriting of existing readonly file requested");
        return -1;
    }
    if (readOnly) {
        QMX_ERROR(s_log, "Readonly open requested with createalways or nonexistent file");
        return -1;
    }
    if (exists && FileUtilities::isReadOnly(fileName)) {
        QMX_ERROR(s_log, "Overwriting of existing readonly file requested");
        return -1;
    }
    QMX_INFO(s_log, "*** Persistence: File " << resource << " is being created.");
    return driver->create(descriptor->getNativeResourceName());
}

bool QMXPersistentStorageImplementation::close() {
    driver.reset();
    return true;
}

bool QMXPersistentStorageImplementation::closeFile() {
    if (!driver) return true;
    return driver->close() != -1;
}

int QMXPersistentStorageImplementation::commit() {
    if (!driver) return -1;
    return driver->commit() == 1 ? 1 : -1;
}

bool QMXPersistentStorageImplementation::deflate() {
    if (driver) driver->close();
    return QMXLdeflate(descriptor->getNativeResourceName().c_str(), kDeflatePercent) != -1;
}

bool QMXPersistentStorageImplementation::checkDriver(bool exclusive) {
    if (!driver) return false;
    const std::string fileName = descriptor->getNativeResourceName();
    const int found = driver->findHandle(fileName);
    if (found == -2) throw DataSourceException("Not an QMZ File");
    if (found == -1) return driver->open(fileName, !exclusive) > 0;

    const bool writable = QMXLisFileReadOnly(found) == 0;
    if (writable != exclusive) {
        driver->close();
        driver->open(fileName, !exclusive);
    }
    return driver->getFileHandle() > 0;
}

int QMXPersistentStorageImplementation::getHandleToStorage() const {
    return driver ? driver->getFileHandle() : -1;
}

}  // namespace Quellmar
