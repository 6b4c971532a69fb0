#include "Blobs.h"

#include "Cli.h"
#include "Describe.h"
#include "QMXBaseDAO.h"
#include "QMXBlobVariants.h"
#include "QMXDesignDAO.h"
#include "QMXL.h"
#include "Tree.h"
#include "Vectors.h"

#include <memory>

namespace Quellmar::qmx {
namespace {

// Exposes the library's own name trimming rule.
struct NameRule : QMXBaseDAO {
    static std::string apply(const std::string& name) {
        std::string out;
        getStrippedName(name, out);
        return out;
    }
};

// Objects of "/Design" made by the design DAO are opaque; they go through that DAO.
bool viaDesignDAO(const std::string& group, int kind) {
    return group == "/Design" && kind != QMXL_KIND_STRING;
}

std::unique_ptr<QMXBlobDAO> daoFor(int kind) {
    if (kind == QMXL_KIND_STRING)
        return std::make_unique<QMXStringDataDAO>();
    return std::make_unique<QMXOpaqueDataDAO>();
}

}  // namespace

std::string libraryName(const std::string& name) {
    try {
        return NameRule::apply(name);
    } catch (const std::out_of_range&) {
        return {};  // made of separators only: no dataset name at all
    }
}

void requireAddressable(const std::string& file, const std::string& path, const std::string& name) {
    if (name.empty() || libraryName(name) != name)
        throw Failure(file + ": " + path + ": the library cannot address an object named '" + name +
                      "' (it trims leading and trailing '/' and '.')");
}

SerializationTransferObject readBlob(const Container& container, const std::string& group,
                                     const std::string& name, int kind) {
    // The DAO sizes its buffer from the stored size, which a damaged file can inflate.
    long long size = 0;
    const int rc =
        kind == QMXL_KIND_STRING
            ? QMXLgetSizeOfStringDataset(container.file(), group.c_str(), name.c_str(), &size)
            : QMXLgetSizeOfOpaqueData(container.file(), group.c_str(), name.c_str(), &size);
    if (rc >= 0 && static_cast<unsigned long long>(size) > plausibleReadLimit(container.path()))
        throw Failure("claims " + std::to_string(size) +
                      " bytes, more than this file can hold (damaged?)");
    SerializationTransferObject object(std::make_shared<SerializationTransferObject::Buffer>());
    if (viaDesignDAO(group, kind)) {
        QMXDesignDatasetDAO design(name);
        container.bind(design);
        design.read(object);
        return object;
    }
    auto dao = daoFor(kind);
    container.bind(*dao);
    dao->read(daoGroup(group), name, object);
    return object;
}

void writeBlob(const Container& container, const std::string& group, const std::string& name,
               int kind, bool create, int groupVersion, const SerializationTransferObject& object) {
    if (viaDesignDAO(group, kind)) {
        QMXDesignDatasetDAO design(name);
        container.bind(design);
        SerializationTransferObject copy = object;
        if (create) {
            design.createGroup(groupVersion);
            design.create(copy);
        } else {
            design.update(copy);
        }
        return;
    }
    auto dao = daoFor(kind);
    container.bind(*dao);
    const std::string daoGroupName = daoGroup(group);
    if (create) {
        dao->createGroup(daoGroupName, groupVersion);
        dao->create(daoGroupName, name, object);
    } else {
        dao->update(daoGroupName, name, object);
    }
}

}  // namespace Quellmar::qmx
