// The native driver's own operations; its destructor's work is the base driver's.
#include "QMXL.h"
#include "QMXLogLine.h"
#include "QMXPersistentStorageDriver.h"

namespace Quellmar {

namespace {
const Logging s_log(__FILE__);
}  // namespace

QMXNativeHDF5Driver::~QMXNativeHDF5Driver() = default;

int QMXNativeHDF5Driver::create(const std::string& fileName) {
    handle = QMXLcreateNativeHDF5(fileName.c_str());
    QMX_DEBUG(s_log, "*** Persistence: created handle " << handle << " for filename " << fileName);
    return handle;
}

int QMXNativeHDF5Driver::open(const std::string& fileName, bool readOnly) {
    handle = readOnly ? QMXLopenNativeHDF5ReadOnly(fileName.c_str())
                      : QMXLopenNativeHDF5(fileName.c_str());
    QMX_DEBUG(s_log, "*** Persistence: opened handle " << handle << " for filename " << fileName);
    return handle;
}

}  // namespace Quellmar
