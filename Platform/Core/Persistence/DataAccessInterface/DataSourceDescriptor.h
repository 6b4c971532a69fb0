#ifndef QUELLMAR_DATASOURCEDESCRIPTOR_H
#define QUELLMAR_DATASOURCEDESCRIPTOR_H

#include "DataAccessInterfaceExport.h"

#include <string>

namespace Quellmar {

/// Names a data source (a container file) and how to open it.
class QMX_INTERFACE_API DataSourceDescriptor {
public:
    /// The file `resourceName`; `readOnly` opens it for reading only, `createAlways` replaces
    /// an existing file with a new one, `native` takes a plain HDF5 file instead of a container.
    explicit DataSourceDescriptor(std::string resourceName, bool readOnly = false,
                                  bool createAlways = false, bool native = false)
        : m_resourceName(std::move(resourceName)),
          m_readOnly(readOnly),
          m_createAlways(createAlways),
          m_native(native) {}
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    virtual ~DataSourceDescriptor() = default;
    ///@}

    /// The name that identifies the source.
    const std::string& getResourceName() const { return m_resourceName; }
    /// The path handed to the file library.
    std::string getNativeResourceName() const { return m_resourceName; }

    /// Whether the source is a plain HDF5 file rather than a container.
    bool getNative() const { return m_native; }
    /// Whether the source is opened for reading only.
    bool getReadOnly() const { return m_readOnly; }
    /// Whether a new file replaces an existing one.
    bool getCreateAlways() const { return m_createAlways; }
    /// Sets the read-only flag; a factory with a read-only context sets it itself.
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    /// Sets the create-always flag.
    void setCreateAlways(bool createAlways) { m_createAlways = createAlways; }
    /// Sets the native flag.
    void setNative(bool native) { m_native = native; }

    /// Identity of the data source: the resource name alone. Two descriptors for one file are
    /// the same source whatever their flags.
    bool operator!=(const DataSourceDescriptor& other) const {
        return m_resourceName != other.m_resourceName;
    }
    /// Same resource name, whatever the flags.
    bool operator==(const DataSourceDescriptor& other) const { return !(*this != other); }

private:
    std::string m_resourceName;
    bool m_readOnly;
    bool m_createAlways;
    bool m_native;
};

}  // namespace Quellmar

#endif
