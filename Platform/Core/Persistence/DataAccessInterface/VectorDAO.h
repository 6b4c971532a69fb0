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
    /// An interface holds no state: construction, copies and destruction do nothing.
    VectorDAO() = default;
    VectorDAO(const VectorDAO&) = default;
    VectorDAO& operator=(const VectorDAO&) = default;
    virtual ~VectorDAO() = default;
    ///@}

    /// Stores `count` records laid out as `type` describes under `name` in the group `path`.
    virtual bool create(const std::string& path, const std::string& name, ClassComposer& type,
                        int count, const void* data) = 0;
    /// Stores `count` elements of `type` under `name` in the group `path`.
    virtual bool create(const std::string& path, const std::string& name, tagVectorDataTypes type,
                        int count, const void* data) = 0;
    /// Reads the stored records, converted to the layout `type` describes, into `data`.
    virtual bool read(const std::string& path, const std::string& name, ClassComposer& type,
                      void* data) = 0;
    /// Reads the stored elements, converted to `type`, into `data` (sized by getInfo()).
    virtual bool read(const std::string& path, const std::string& name, tagVectorDataTypes type,
                      void* data) = 0;
    /// Reads each of `names` in the group `path` as bytes; result[i] belongs to names[i].
    virtual bool readMany(const std::string& path, const std::vector<std::string>& names,
                          std::vector<std::vector<unsigned char>>& result) = 0;
    /// Replaces the records of an existing vector.
    virtual bool update(const std::string& path, const std::string& name, ClassComposer& type,
                        int count, const void* data) = 0;
    /// Replaces the elements of an existing vector.
    virtual bool update(const std::string& path, const std::string& name, tagVectorDataTypes type,
                        int count, const void* data) = 0;
    /// Removes the vector `name` from the group `path`.
    virtual bool remove(const std::string& path, const std::string& name) = 0;
    /// Whether a vector is stored under `name` in the group `path`.
    virtual bool exists(const std::string& path, const std::string& name) = 0;
    /// Shape and element type of the stored vector.
    virtual VectorInfo getInfo(const std::string& path, const std::string& name) = 0;
    /// Whether new vectors are of fixed size (true) or may grow; returns the new setting.
    virtual bool setFixed(bool fixed) = 0;
    /// The number of elements new vectors are expected to hold, for their chunking.
    virtual void setSizeHint(unsigned int hint) = 0;
    /// Whether the group `path` exists.
    virtual bool existsGroup(const std::string& path) = 0;
    /// Removes the group `path` with everything in it.
    virtual bool removeGroup(const std::string& path) = 0;
};

/// Two-dimensional arrays of rows x cols elements.
class QMX_INTERFACE_API ArrayDAO : public virtual VectorDAO {
public:
    ///@{
    /// An interface holds no state: construction, copies and destruction do nothing.
    ArrayDAO() = default;
    ArrayDAO(const ArrayDAO&) = default;
    ArrayDAO& operator=(const ArrayDAO&) = default;
    ~ArrayDAO() override = default;
    ///@}

    using VectorDAO::create;
    using VectorDAO::update;
    /// Stores `rows` x `cols` records laid out as `type` describes, row by row.
    virtual bool create(const std::string& path, const std::string& name, ClassComposer& type,
                        int rows, int cols, const void* data) = 0;
    /// Stores `rows` x `cols` elements of `type`, row by row.
    virtual bool create(const std::string& path, const std::string& name, tagVectorDataTypes type,
                        int rows, int cols, const void* data) = 0;
    /// Replaces the records of an existing array.
    virtual bool update(const std::string& path, const std::string& name, ClassComposer& type,
                        int rows, int cols, const void* data) = 0;
    /// Replaces the elements of an existing array.
    virtual bool update(const std::string& path, const std::string& name, tagVectorDataTypes type,
                        int rows, int cols, const void* data) = 0;
};

}  // namespace Quellmar

#endif
