#include "QMXBlobDAO.h"

#include "DAOExceptions.h"
#include "QMXHandles.h"
#include "QMXL.h"
#include "QMXTransactions.h"
#include "TransactionStack.h"

#include <algorithm>
#include <memory>

namespace Quellmar {

namespace {

const std::string kCreateText = "Error creating binary array.";
const std::string kReadText = "Error reading binary array.";
const std::string kUpdateText = "Error updating binary array.";
const std::string kRemoveText = "Error removing array.";
const std::string kValidateText = "Error validating binary array.";

// A transfer object without a buffer has nothing to store; refuse it before anything is
// enlisted or written instead of dereferencing nothing.
void requireBuffer(const SerializationTransferObject& object) {
    if (!object.getBuffer()) {
        throw DataAccessViolationException("Transfer object holds no buffer.");
    }
}

[[noreturn]] void throwLibraryFailure() {
    throw DataAccessViolationException(QMXBaseDAO::getLastErrorMessage());
}

}  // namespace

QMXBlobDAO::~QMXBlobDAO() = default;

void QMXBlobDAO::requireDataSource() {
    if (!checkFile()) {
        throw DataSourceException("No datasource defined!");
    }
}

std::shared_ptr<TransactionStack> QMXBlobDAO::enlist(const std::string& errorText, bool exclusive) {
    requireDataSource();
    return enlistFileLock(errorText, exclusive);
}

// ---- Public operations on objects -------------------------------------------------------

void QMXBlobDAO::create(const std::string& group, const std::string& name,
                        const SerializationTransferObject& object) {
    requireDataSource();
    requireBuffer(object);
    const auto stack = enlist(kCreateText, true);
    std::string path;
    std::string dataset;
    getPath(group, path);
    getName(name, dataset);
    const int file = getHandleToStorage();
    // Enlisted once the item is ours. An item already stored under this name makes the
    // creation fail, and a rollback must not remove what was there before; a failed creation
    // leaves nothing behind. Asking first cost a lookup per create.
    Create(file, path, dataset, object);
    auto creation = std::make_unique<BlobCreation>(file);
    creation->path = path;
    creation->name = dataset;
    try {
        stack->push(creation.release());
    } catch (...) {
        // Without its undo record the item would outlive a rollback.
        QMXLremoveDataset(file, (path + "/" + dataset).c_str());
        throw;
    }
}

void QMXBlobDAO::read(const std::string& group, const std::string& name,
                      SerializationTransferObject& object) {
    const auto stack = enlist(kReadText, false);
    std::string path;
    std::string dataset;
    getPath(group, path);
    getName(name, dataset);
    Read(getHandleToStorage(), path, dataset, object);
}

void QMXBlobDAO::update(const std::string& group, const std::string& name,
                        const SerializationTransferObject& object) {
    requireDataSource();
    requireBuffer(object);
    const auto stack = enlist(kUpdateText, true);
    std::string path;
    std::string dataset;
    getPath(group, path);
    getName(name, dataset);
    Update(getHandleToStorage(), path, dataset, object);
}

void QMXBlobDAO::remove(const std::string& group, const std::string& name) {
    const auto stack = enlist(kRemoveText, true);
    std::string path;
    std::string dataset;
    getPath(group, path);
    getName(name, dataset);
    Remove(getHandleToStorage(), path, dataset);
}

bool QMXBlobDAO::exists(const std::string& group, const std::string& name) {
    const auto stack = enlist(kValidateText, false);
    std::string path;
    std::string dataset;
    getPath(group, path);
    getName(name, dataset);
    return Exists(getHandleToStorage(), path, dataset);
}

bool QMXBlobDAO::existsGroup(const std::string& group) {
    const auto stack = enlist(kValidateText, false);
    std::string path;
    getPath(group, path);
    return ExistsGroup(getHandleToStorage(), path);
}

void QMXBlobDAO::createGroup(const std::string& group, int version) {
    const auto stack = enlist(kCreateText, true);
    std::string path;
    getPath(group, path);
    const int file = getHandleToStorage();
    auto creation = std::make_unique<BlobCreation>(file);
    creation->path = path;
    stack->push(creation.release());
    CreateGroup(file, path, version);
}

// ---- Path building ----------------------------------------------------------------------

std::string QMXBlobDAO::root() {
    return "/";
}

void QMXBlobDAO::getPath(const std::string& group, std::string& path) {
    refuseEmbeddedNul(group);
    path = root();
    const std::size_t first = group.find_first_not_of("/.");
    if (first == std::string::npos) {
        return;
    }
    const std::size_t last = group.find_last_not_of("/.");
    // last + 1, not last - first + 1: stored files were written with trailing separators
    // kept this way ('/a/b/' -> 'a/b/').
    const std::size_t length = std::min(last + 1, group.size() - first);
    path += "/";
    path += group.substr(first, length);
}

void QMXBlobDAO::getName(const std::string& name, std::string& datasetName) {
    getStrippedName(name, datasetName);
}

// ---- Storage hooks: opaque data items ----------------------------------------------------

int QMXBlobDAO::createCompressedBlobData(int file, const char* group, const char* name,
                                         int compression, int chunk, long long size,
                                         const char* data) {
    return QMXLcreateCompressedOpaqueData(file, group, name, compression, chunk, size, data);
}

int QMXBlobDAO::updateBlobData(int file, const char* group, const char* name, long long size,
                               const char* data) {
    return QMXLupdateOpaqueData(file, group, name, size, data);
}

int QMXBlobDAO::readBlobData(int file, const char* group, const char* name, char* buffer) {
    return QMXLreadOpaqueData(file, group, name, buffer);
}

int QMXBlobDAO::getSizeOfBlobData(int file, const char* group, const char* name, long long* size) {
    return QMXLgetSizeOfOpaqueData(file, group, name, size);
}

// ---- Workers ----------------------------------------------------------------------------

void QMXBlobDAO::Create(int file, const std::string& group, const std::string& name,
                        const SerializationTransferObject& object) {
    requireBuffer(object);
    const auto buffer = object.getBuffer();
    const char* data = reinterpret_cast<const char*>(buffer->data());
    const auto size = static_cast<long long>(buffer->size());
    // Compression level 0; the chunk size travels with the object.
    if (createCompressedBlobData(file, group.c_str(), name.c_str(), 0,
                                 static_cast<int>(object.getChunkSize()), size, data) < 0) {
        throwLibraryFailure();
    }
}

void QMXBlobDAO::Read(int file, const std::string& group, const std::string& name,
                      SerializationTransferObject& object) {
    long long size = 0;
    if (getSizeOfBlobData(file, group.c_str(), name.c_str(), &size) < 0) {
        throwLibraryFailure();
    }
    if (size < 1) {
        throw DataAccessViolationException("Wrong size of object.");
    }
    // The file library hands out only sizes its stored bytes hold; one a buffer cannot take
    // is damage all the same.
    if (static_cast<unsigned long long>(size) > SerializationTransferObject::Buffer().max_size()) {
        throw DataAccessViolationException(
            "'" + group + "/" + name + "' claims " + std::to_string(size) +
            " bytes, more than a buffer holds (the item is damaged)");
    }
    // Reuse the caller's vector so the bytes land in it directly.
    auto buffer = object.getBuffer();
    if (buffer) {
        buffer->resize(static_cast<std::size_t>(size));
    } else {
        buffer =
            std::make_shared<SerializationTransferObject::Buffer>(static_cast<std::size_t>(size));
    }
    if (readBlobData(file, group.c_str(), name.c_str(), reinterpret_cast<char*>(buffer->data())) <
        0) {
        throwLibraryFailure();
    }
    object.setBuffer(buffer);
}

void QMXBlobDAO::Update(int file, const std::string& group, const std::string& name,
                        const SerializationTransferObject& object) {
    requireBuffer(object);
    const auto buffer = object.getBuffer();
    if (updateBlobData(file, group.c_str(), name.c_str(), static_cast<long long>(buffer->size()),
                       reinterpret_cast<const char*>(buffer->data())) < 0) {
        throwLibraryFailure();
    }
}

void QMXBlobDAO::Remove(int file, const std::string& group, const std::string& name) {
    const std::string path = group + "/" + name;
    if (QMXLremoveDataset(file, path.c_str()) < 0) {
        throwLibraryFailure();
    }
}

bool QMXBlobDAO::Exists(int file, const std::string& group, const std::string& name) {
    long long size = 0;
    if (getSizeOfBlobData(file, group.c_str(), name.c_str(), &size) >= 0)
        return true;
    // Only "nothing of this kind there" is an answer; an object that cannot be read (a
    // damaged header, say) is not absent, and saying so would hide it from the host.
    if (lastFailureWasAbsence())
        return false;
    throwLibraryFailure();
}

bool QMXBlobDAO::ExistsGroup(int file, const std::string& group) {
    const int result = QMXLexistsOpaqueDataGroup(file, group.c_str());
    if (result < 0) {
        throwLibraryFailure();
    }
    return result == 1;
}

void QMXBlobDAO::CreateGroup(int file, const std::string& group, int version) {
    {
        GroupHandle existing(QMXLopenOpaqueDataGroup(file, group.c_str()));
        if (existing.isValid()) {
            return;  // an existing group keeps its "Version"
        }
        // Only a missing group, or a plain one, is made an object group; a damaged one is
        // reported, not marked over.
        if (!lastFailureWasAbsence()) {
            throwLibraryFailure();
        }
    }
    GroupHandle created(QMXLcreateOpaqueDataGroup(file, group.c_str()));
    if (!created.isValid()) {
        throwLibraryFailure();
    }
    if (QMXLcreateAttribute(created.getHandle(), "Version", &version) < 0) {
        throwLibraryFailure();
    }
}

}  // namespace Quellmar
