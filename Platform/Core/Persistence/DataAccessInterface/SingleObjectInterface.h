#ifndef QUELLMAR_SINGLEOBJECTINTERFACE_H
#define QUELLMAR_SINGLEOBJECTINTERFACE_H

#include "DataAccessInterfaceExport.h"

#include <string>

namespace Quellmar {

/// One stored object of type T and the bookkeeping attributes of the group that holds it.
template <class T>
class QMX_INTERFACE_API SingleObjectInterface {
public:
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    SingleObjectInterface() = default;
    SingleObjectInterface(const SingleObjectInterface&) = default;
    SingleObjectInterface& operator=(const SingleObjectInterface&) = default;
    virtual ~SingleObjectInterface() = default;
    ///@}

    virtual bool getQMVersionOfLibrary(int& version) = 0;
    virtual bool getQMVersion(int& version) = 0;
    virtual bool updateQMVersionToCurrent() = 0;
    virtual void createGroup(const int& version) = 0;
    virtual bool existsGroup() = 0;
    virtual void readGroupDataVersion(int& version) = 0;
    virtual void updateGroupDataVersion(const int& version) = 0;
    virtual void readGroupDataId(std::string& id) = 0;
    virtual void updateGroupDataId(const std::string& id) = 0;
    virtual void updateFileCreationSoftwareRevision(const std::string& revision) = 0;
    virtual void readFileCreationSoftwareRevision(std::string& revision) = 0;
    virtual void updateFileLastModifiedSoftwareRevision(const std::string& revision) = 0;
    virtual void readFileLastModifiedSoftwareRevision(std::string& revision) = 0;
    virtual void updateChainGangValue(std::string value) = 0;
    virtual void readChainGangValue(std::string& value) = 0;
    virtual void updateMaxIdentifierValue(unsigned long long value, unsigned short high) = 0;
    virtual void readMaxIdentifierValue(unsigned long long& value, unsigned short& high) = 0;
    virtual bool exists() = 0;
    virtual void create(const T& object) = 0;
    virtual void read(T& object) = 0;
    virtual void update(T& object) = 0;
    virtual void remove() = 0;
};

}  // namespace Quellmar

#endif
