// Bookkeeping attributes of object groups and the file's format version (QMXBlobDAO).
#include "QMXBlobDAO.h"

#include "DAOExceptions.h"
#include "QMXHandles.h"
#include "QMXL.h"
#include "TransactionStack.h"

#include <boost/lexical_cast.hpp>

#include <cstdlib>
#include <memory>

namespace Quellmar {

namespace {

const std::string kCreateText = "Error creating binary array.";
const std::string kValidateText = "Error validating binary array.";
const std::string kUnknownRevision = "Software_Revision_Unknown";

[[noreturn]] void throwLibraryFailure() {
    throw DataAccessViolationException(QMXBaseDAO::getLastErrorMessage());
}

void check(int result) {
    if (result < 0) {
        throwLibraryFailure();
    }
}

GroupHandle openObjectGroup(int file, const std::string& group) {
    GroupHandle handle(QMXLopenOpaqueDataGroup(file, group.c_str()));
    if (!handle.isValid()) {
        throwLibraryFailure();
    }
    return handle;
}

// Only a definite "no" is a missing attribute, which reads as the default. A failed query
// (attributes that fail their checksum) is damage: read as a default it would hand the host
// values the file never held.
bool present(const GroupHandle& group, const std::string& attribute) {
    const int result = QMXLhasAttribute(group.getHandle(), attribute.c_str());
    check(result);
    return result > 0;
}

// On write only a definite "no" creates; anything else (an error included) goes to update,
// whose own failure is then reported.
bool maybePresent(const GroupHandle& group, const std::string& attribute) {
    return QMXLhasAttribute(group.getHandle(), attribute.c_str()) != 0;
}

void readInt(const GroupHandle& group, const std::string& attribute, int& value) {
    check(QMXLreadAttribute(group.getHandle(), attribute.c_str(), &value));
}

void writeInt(const GroupHandle& group, const std::string& attribute, int value) {
    if (maybePresent(group, attribute)) {
        check(QMXLupdateAttribute(group.getHandle(), attribute.c_str(), &value));
    } else {
        check(QMXLcreateAttribute(group.getHandle(), attribute.c_str(), &value));
    }
}

// The file library hands this text out with malloc.
void readString(const GroupHandle& group, const std::string& attribute, std::string& value) {
    char* raw = nullptr;
    const int result = QMXLgetStringAttribute(group.getHandle(), attribute.c_str(), &raw);
    const std::unique_ptr<char, decltype(&std::free)> text(raw, &std::free);
    check(result);
    value = text ? text.get() : "";
}

void writeString(const GroupHandle& group, const std::string& attribute, const std::string& value) {
    check(QMXLsetStringAttribute(group.getHandle(), attribute.c_str(), value.c_str()));
}

// Newer files carry the revision as text; older ones as an integer.
void readRevision(int file, const std::string& group, const std::string& textAttribute,
                  const std::string& intAttribute, std::string& revision) {
    const GroupHandle handle = openObjectGroup(file, group);
    if (present(handle, textAttribute)) {
        readString(handle, textAttribute, revision);
    } else if (present(handle, intAttribute)) {
        int number = 0;
        readInt(handle, intAttribute, number);
        revision = boost::lexical_cast<std::string>(number);
    }
    if (revision.empty()) {
        revision = kUnknownRevision;
    }
}

}  // namespace

// ---- Public operations ------------------------------------------------------------------

bool QMXBlobDAO::getQMVersionOfLibrary(int& version) {
    const auto stack = enlist(kValidateText, false);
    return QMXLgetQMVersionOfLibraryByFileHandle(getHandleToStorage(), &version) >= 0;
}

bool QMXBlobDAO::getQMVersion(int& version) {
    const auto stack = enlist(kValidateText, false);
    return QMXLgetQMVersionOfFile(getHandleToStorage(), &version) >= 0;
}

bool QMXBlobDAO::updateQMVersionToCurrent() {
    const auto stack = enlist(kCreateText, true);
    const int file = getHandleToStorage();
    int version = 0;
    // Without the library's version there is nothing defined to write.
    if (QMXLgetQMVersionOfLibraryByFileHandle(file, &version) < 0) {
        return false;
    }
    return QMXLupdateQMVersionOfFile(file, version) >= 0;
}

void QMXBlobDAO::readGroupDataVersion(const std::string& group, int& version) {
    const auto stack = enlist(kValidateText, false);
    std::string path;
    getPath(group, path);
    ReadGroupVersion(getHandleToStorage(), path, "Version", version);
}

void QMXBlobDAO::updateGroupDataVersion(const std::string& group, int version) {
    const auto stack = enlist(kValidateText, true);
    std::string path;
    getPath(group, path);
    UpdateGroupVersion(getHandleToStorage(), path, "Version", version);
}

void QMXBlobDAO::readGroupDataId(const std::string& group, std::string& id) {
    const auto stack = enlist(kValidateText, false);
    std::string path;
    getPath(group, path);
    ReadGroupId(getHandleToStorage(), path, "Id", id);
}

void QMXBlobDAO::updateGroupDataId(const std::string& group, const std::string& id) {
    const auto stack = enlist(kValidateText, true);
    std::string path;
    getPath(group, path);
    UpdateGroupId(getHandleToStorage(), path, "Id", id);
}

void QMXBlobDAO::readChainGangValue(const std::string& group, std::string& value) {
    const auto stack = enlist(kValidateText, false);
    std::string path;
    getPath(group, path);
    ReadChainGangValue(getHandleToStorage(), path, "HashValue", value);
}

void QMXBlobDAO::updateChainGangValue(const std::string& group, std::string value) {
    const auto stack = enlist(kValidateText, true);
    std::string path;
    getPath(group, path);
    UpdateChainGangValue(getHandleToStorage(), path, "HashValue", value);
}

void QMXBlobDAO::readMaxIdentifierValue(const std::string& group, unsigned long long& value,
                                        unsigned short& high) {
    const auto stack = enlist(kValidateText, false);
    std::string path;
    getPath(group, path);
    ReadMaxIdentifierValue(getHandleToStorage(), path, "MaximumIdentifierValue",
                           "MaximumIdentifierValueHigh", value, high);
}

void QMXBlobDAO::updateMaxIdentifierValue(const std::string& group, unsigned long long value,
                                          unsigned short high) {
    const auto stack = enlist(kValidateText, true);
    std::string path;
    getPath(group, path);
    UpdateMaxIdentifierValue(getHandleToStorage(), path, "MaximumIdentifierValue",
                             "MaximumIdentifierValueHigh", value, high);
}

void QMXBlobDAO::readFileCreationSoftwareRevision(const std::string& group, std::string& revision) {
    const auto stack = enlist(kValidateText, false);
    std::string path;
    getPath(group, path);
    ReadFileCreationSoftwareRevision(getHandleToStorage(), path, revision);
}

void QMXBlobDAO::updateFileCreationSoftwareRevision(const std::string& group,
                                                    const std::string& revision) {
    const auto stack = enlist(kValidateText, true);
    std::string path;
    getPath(group, path);
    UpdateFileCreationSoftwareRevision(getHandleToStorage(), path, revision);
}

void QMXBlobDAO::readFileLastModifiedSoftwareRevision(const std::string& group,
                                                      std::string& revision) {
    const auto stack = enlist(kValidateText, false);
    std::string path;
    getPath(group, path);
    ReadFileLastModifiedSoftwareRevision(getHandleToStorage(), path, revision);
}

void QMXBlobDAO::updateFileLastModifiedSoftwareRevision(const std::string& group,
                                                        const std::string& revision) {
    const auto stack = enlist(kValidateText, true);
    std::string path;
    getPath(group, path);
    UpdateFileLastModifiedSoftwareRevision(getHandleToStorage(), path, revision);
}

// ---- Workers ----------------------------------------------------------------------------

void QMXBlobDAO::ReadGroupVersion(int file, const std::string& group, const std::string& attribute,
                                  int& version) {
    const GroupHandle handle = openObjectGroup(file, group);
    if (present(handle, attribute)) {
        readInt(handle, attribute, version);
    }
}

void QMXBlobDAO::UpdateGroupVersion(int file, const std::string& group,
                                    const std::string& attribute, int version) {
    const GroupHandle handle = openObjectGroup(file, group);
    writeInt(handle, attribute, version);
}

void QMXBlobDAO::ReadGroupId(int file, const std::string& group, const std::string& attribute,
                             std::string& id) {
    const GroupHandle handle = openObjectGroup(file, group);
    if (present(handle, attribute)) {
        readString(handle, attribute, id);
    }
}

void QMXBlobDAO::UpdateGroupId(int file, const std::string& group, const std::string& attribute,
                               const std::string& id) {
    writeString(openObjectGroup(file, group), attribute, id);
}

void QMXBlobDAO::ReadChainGangValue(int file, const std::string& group,
                                    const std::string& attribute, std::string& value) {
    const GroupHandle handle = openObjectGroup(file, group);
    if (present(handle, attribute)) {
        readString(handle, attribute, value);
    }
}

void QMXBlobDAO::UpdateChainGangValue(int file, const std::string& group,
                                      const std::string& attribute, const std::string& value) {
    writeString(openObjectGroup(file, group), attribute, value);
}

void QMXBlobDAO::ReadMaxIdentifierValue(int file, const std::string& group,
                                        const std::string& valueAttribute,
                                        const std::string& highAttribute, unsigned long long& value,
                                        unsigned short& high) {
    const GroupHandle handle = openObjectGroup(file, group);
    if (present(handle, valueAttribute)) {
        check(QMXLreadUInt64Attribute(handle.getHandle(), valueAttribute.c_str(), &value));
    }
    if (present(handle, highAttribute)) {
        int stored = 0;
        readInt(handle, highAttribute, stored);
        high = static_cast<unsigned short>(static_cast<unsigned int>(stored) & 0xFFFFu);
    }
}

void QMXBlobDAO::UpdateMaxIdentifierValue(int file, const std::string& group,
                                          const std::string& valueAttribute,
                                          const std::string& highAttribute,
                                          unsigned long long value, unsigned short high) {
    const GroupHandle handle = openObjectGroup(file, group);
    if (maybePresent(handle, valueAttribute)) {
        check(QMXLupdateUInt64Attribute(handle.getHandle(), valueAttribute.c_str(), &value));
    } else {
        check(QMXLcreateUInt64Attribute(handle.getHandle(), valueAttribute.c_str(), &value));
    }
    // The high part is kept zero-extended in a 32-bit integer attribute.
    writeInt(handle, highAttribute, static_cast<int>(high));
}

void QMXBlobDAO::ReadFileCreationSoftwareRevision(int file, const std::string& group,
                                                  std::string& revision) {
    readRevision(file, group, "CreationRevisionString", "CreationRevision", revision);
}

void QMXBlobDAO::UpdateFileCreationSoftwareRevision(int file, const std::string& group,
                                                    const std::string& revision) {
    writeString(openObjectGroup(file, group), "CreationRevisionString", revision);
}

void QMXBlobDAO::ReadFileLastModifiedSoftwareRevision(int file, const std::string& group,
                                                      std::string& revision) {
    readRevision(file, group, "LastModifiedRevisionString", "LastModifiedRevision", revision);
}

void QMXBlobDAO::UpdateFileLastModifiedSoftwareRevision(int file, const std::string& group,
                                                        const std::string& revision) {
    writeString(openObjectGroup(file, group), "LastModifiedRevisionString", revision);
}

}  // namespace Quellmar
