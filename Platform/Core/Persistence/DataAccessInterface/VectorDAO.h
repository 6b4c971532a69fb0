#ifndef QUELLMAR_VECTORDAO_H
#define QUELLMAR_VECTORDAO_H

#include "DataAccessInterfaceExport.h"

#include "ClassComposer.h"
#include "VectorTypes.h"

#include <string>
#include <vector>

namespace Quellmar {

/// One-dimensional vectors of simple or compound element types.
class QMX_INTERFACE_API VectorDAO {
public:
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    VectorDAO() = default;
    VectorDAO(const VectorDAO&) = default;
    VectorDAO& operator=(const VectorDAO&) = default;
    virtual ~VectorDAO() = default;
    ///@}

    virtual bool create(const std::string& path, const std::string& name, ClassComposer& type,
                        int count, const void* data) = 0;
    virtual bool create(const std::string& path, const std::string& name, tagVectorDataTypes type,
                        int count, const void* data) = 0;
    virtual bool read(const std::string& path, const std::string& name, ClassComposer& type,
                      void* data) = 0;
    virtual bool read(const std::string& path, const std::string& name, tagVectorDataTypes type,
                      void* data) = 0;
    virtual bool readMany(const std::string& path, const std::vector<std::string>& names,
                          std::vector<std::vector<unsigned char>>& result) = 0;
    virtual bool update(const std::string& path, const std::string& name, ClassComposer& type,
                        int count, const void* data) = 0;
    virtual bool update(const std::string& path, const std::string& name, tagVectorDataTypes type,
                        int count, const void* data) = 0;
    virtual bool remove(const std::string& path, const std::string& name) = 0;
    virtual bool exists(const std::string& path, const std::string& name) = 0;
    virtual VectorInfo getInfo(const std::string& path, const std::string& name) = 0;
    virtual bool setFixed(bool fixed) = 0;
    virtual void setSizeHint(unsigned int hint) = 0;
    virtual bool existsGroup(const std::string& path) = 0;
    virtual bool removeGroup(const std::string& path) = 0;
};

/// Two-dimensional arrays of rows x cols elements.
class QMX_INTERFACE_API ArrayDAO : public virtual VectorDAO {
public:
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    ArrayDAO() = default;
    ArrayDAO(const ArrayDAO&) = default;
    ArrayDAO& operator=(const ArrayDAO&) = default;
    ~ArrayDAO() override = default;
    ///@}

    using VectorDAO::create;
    using VectorDAO::update;
    virtual bool create(const std::string& path, const std::string& name, ClassComposer& type,
                        int rows, int cols, const void* data) = 0;
    virtual bool create(const std::string& path, const std::string& name, tagVectorDataTypes type,
                        int rows, int cols, const void* data) = 0;
    virtual bool update(const std::string& path, const std::string& name, ClassComposer& type,
                        int rows, int cols, const void* data) = 0;
    virtual bool update(const std::string& path, const std::string& name, tagVectorDataTypes type,
                        int rows, int cols, const void* data) = 0;
};

}  // namespace Quellmar

#endif
