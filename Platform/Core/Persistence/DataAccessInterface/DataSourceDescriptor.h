#ifndef QUELLMAR_DATASOURCEDESCRIPTOR_H
#define QUELLMAR_DATASOURCEDESCRIPTOR_H

#include "DataAccessInterfaceExport.h"

#include <string>

namespace Quellmar {

// Names a data source (a container file) and how to open it.
class QMX_INTERFACE_API DataSourceDescriptor {
public:
    explicit DataSourceDescriptor(std::string resourceName, bool readOnly = false,
                                  bool createAlways = false, bool native = false)
        : m_resourceName(std::move(resourceName)),
          m_readOnly(readOnly),
          m_createAlways(createAlways),
          m_native(native) {}
    virtual ~DataSourceDescriptor() = default;

    // The name that identifies the source.
    const std::string& getResourceName() const { return m_resourceName; }
    // The path handed to the file library.
    std::string getNativeResourceName() const { return m_resourceName; }

    bool getNative() const { return m_native; }
    bool getReadOnly() const { return m_readOnly; }
    bool getCreateAlways() const { return m_createAlways; }
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    void setCreateAlways(bool createAlways) { m_createAlways = createAlways; }
    void setNative(bool native) { m_native = native; }

    // Identity of the data source: the resource name alone. Two descriptors for one file are
    // the same source whatever their flags.
    bool operator!=(const DataSourceDescriptor& other) const {
        return m_resourceName != other.m_resourceName;
    }
    bool operator==(const DataSourceDescriptor& other) const { return !(*this != other); }

private:
    std::string m_resourceName;
    bool m_readOnly;
    bool m_createAlways;
    bool m_native;
};

}  // namespace Quellmar

#endif
