#include "QMXVectorDAO.h"

#include "DAOExceptions.h"
#include "QMXComposerOf.h"
#include "QMXTransactions.h"
#include "QmException.h"
#include "TransactionStack.h"

#include <algorithm>
#include <climits>
#include <memory>

namespace Quellmar {

namespace {

// The DAO's compressor for the file library calls of one worker, on this thread only.
class CompressorChoice {
public:
    explicit CompressorChoice(int compressor) {
        if (compressor != QMXL_COMPRESSOR_FOLLOW)
            m_set = QMXLsetThreadCompressor(compressor, &m_previous) > 0;
    }
    ~CompressorChoice() {
        if (m_set)
            QMXLsetThreadCompressor(m_previous, nullptr);
    }
    CompressorChoice(const CompressorChoice&) = delete;
    CompressorChoice& operator=(const CompressorChoice&) = delete;

private:
    int m_previous = QMXL_COMPRESSOR_FOLLOW;
    bool m_set = false;
};

[[noreturn]] void throwAccessViolation() {
    throw DataAccessViolationException(QMXBaseDAO::getLastErrorMessage());
}

// A count read from the file that an int (the interface's counts, VectorInfo) cannot hold is
// damage: reported as a smaller number it would size the host's buffer short of the read.
int reportableCount(long long count, const std::string& path, const std::string& name) {
    if (count >= 0 && count <= INT_MAX)
        return static_cast<int>(count);
    throw DataAccessViolationException("'" + path + "/" + name + "' claims " +
                                       std::to_string(count) +
                                       " elements, more than a vector holds (the item is damaged)");
}

// Maps the file library's stored element type to the interface's code; -1 when there is none
// (a long double among others).
int toVectorDataType(int code) {
    switch (code) {
        case QMXL_INT32:
            return VT_INT32;
        case QMXL_UINT32:
            return VT_UINT32;
        case QMXL_FLOAT32:
            return VT_FLOAT;
        case QMXL_FLOAT64:
            return VT_DOUBLE;
        case QMXL_INT16:
            return VT_INT16;
        case QMXL_INT64:
            return VT_INT64;
        case QMXL_UINT64:
            return VT_UINT64;
        case QMXL_UINT16:
            return VT_UINT16;
        case QMXL_UINT8:
            return VT_UINT8;
        case QMXL_INT8:
            return VT_INT8;
        default:
            return -1;
    }
}

}  // namespace

void QMXVectorDAO::requireStorage() {
    if (!checkFile())
        throw DataSourceException("No datasource defined!");
}

int QMXVectorDAO::checkedCount(long long count) {
    if (count < 0 || count > INT_MAX)
        throw QminvalidArgument("Element count out of range.");
    return static_cast<int>(count);
}

VarDataType QMXVectorDAO::convert(tagVectorDataTypes type) {
    // Switched as an int: a host may pass any number cast to the enum. VT_INT8 has no code
    // here (its number is not the file library's): creating, reading or updating it is refused.
    switch (static_cast<int>(type)) {
        case VT_AS_STORED:
            return QMXL_AS_STORED;
        case VT_INT32:
            return QMXL_INT32;
        case VT_UINT32:
            return QMXL_UINT32;
        case VT_FLOAT:
            return QMXL_FLOAT32;
        case VT_DOUBLE:
            return QMXL_FLOAT64;
        case VT_INT16:
            return QMXL_INT16;
        case VT_INT64:
            return QMXL_INT64;
        case VT_UINT64:
            return QMXL_UINT64;
        case VT_UINT16:
            return QMXL_UINT16;
        case VT_UINT8:
            return QMXL_UINT8;
        default:
            throw QminvalidArgument("Unknown data type.");
    }
}

long long QMXVectorDAO::chunkValue(unsigned int sizeHint, int count) {
    if (sizeHint != 0)
        return sizeHint / 10;
    const int floor = count > 1000000 ? 1000000 : 100000;
    return std::max(count / 10, floor);
}

int QMXVectorDAO::constructPaths(std::string& path, std::string& name, bool createGroup) {
    std::string strippedPath;
    std::string strippedName;
    getStrippedName(path, strippedPath);
    getStrippedName(name, strippedName);
    path = pathToRoot + "/" + strippedPath;
    name = strippedName;

    int result = 1;
    if (createGroup) {
        GroupHandle group(QMXLopenGroup(getHandleToStorage(), path.c_str()));
        if (!group.isValid())
            result = QMXLcreatePathToGroup(getHandleToStorage(), path.c_str());
    }
    return result;
}

// ---- Workers ---------------------------------------------------------------------------------

bool QMXVectorDAO::Create(std::string& path, std::string& name, int type, int count,
                          const void* data) {
    requireStorage();
    checkedCount(count);
    if (constructPaths(path, name, true) < 0)
        throwAccessViolation();
    CompressorChoice choice(compressor);
    if (QMXLcreateTypedDataset(getHandleToStorage(), path.c_str(), name.c_str(), compression,
                               chunkValue(sizeHint, count), fixed ? 1 : 0, type,
                               static_cast<long long>(count), data) < 0)
        throwAccessViolation();
    return true;
}

bool QMXVectorDAO::Create(std::string& path, std::string& name, QMXHandle datatype, bool flag,
                          int count, const void* data) {
    requireStorage();
    checkedCount(count);
    if (constructPaths(path, name, true) < 0)
        throwAccessViolation();
    CompressorChoice choice(compressor);
    if (QMXLcreateObjectDataset(getHandleToStorage(), path.c_str(), name.c_str(), compression,
                                chunkValue(sizeHint, count), fixed ? 1 : 0, datatype.getHandle(),
                                flag ? 1 : 0, static_cast<long long>(count), data) < 0)
        throwAccessViolation();
    return true;
}

bool QMXVectorDAO::Read(std::string& path, std::string& name, int type, void* data) {
    requireStorage();
    if (constructPaths(path, name, false) < 0)
        throwAccessViolation();
    requireReportableCount(path, name);
    return readTyped(path, name, type, data);
}

bool QMXVectorDAO::readTyped(const std::string& path, const std::string& name, int type,
                             void* data) {
    if (QMXLreadTypedDataset(getHandleToStorage(), path.c_str(), name.c_str(), type, data) < 0)
        throwAccessViolation();
    return true;
}

bool QMXVectorDAO::Read(std::string& path, std::string& name, QMXHandle datatype, void* data) {
    requireStorage();
    if (constructPaths(path, name, false) < 0)
        throwAccessViolation();
    requireReportableCount(path, name);
    if (QMXLreadObjectDataset(getHandleToStorage(), path.c_str(), name.c_str(),
                              datatype.getHandle(), data) < 0)
        throwAccessViolation();
    return true;
}

bool QMXVectorDAO::Update(std::string& path, std::string& name, int type, int count,
                          const void* data) {
    requireStorage();
    checkedCount(count);
    if (constructPaths(path, name, false) < 0)
        throwAccessViolation();
    CompressorChoice choice(compressor);
    if (QMXLupdateTypedDataset(getHandleToStorage(), path.c_str(), name.c_str(), type,
                               static_cast<long long>(count), data) < 0)
        throwAccessViolation();
    return true;
}

bool QMXVectorDAO::Update(std::string& path, std::string& name, QMXHandle datatype, int count,
                          const void* data) {
    requireStorage();
    checkedCount(count);
    if (constructPaths(path, name, false) < 0)
        throwAccessViolation();
    CompressorChoice choice(compressor);
    if (QMXLupdateObjectDataset(getHandleToStorage(), path.c_str(), name.c_str(),
                                datatype.getHandle(), static_cast<long long>(count), data) < 0)
        throwAccessViolation();
    return true;
}

bool QMXVectorDAO::Remove(std::string& path, std::string& name) {
    requireStorage();
    if (constructPaths(path, name, false) < 0)
        throwAccessViolation();
    const std::string full = path + "/" + name;
    if (QMXLremoveDataset(getHandleToStorage(), full.c_str()) < 0)
        throwAccessViolation();
    return true;
}

bool QMXVectorDAO::Exists(std::string& path, std::string& name) {
    requireStorage();
    if (constructPaths(path, name, false) < 0)
        throwAccessViolation();
    long long size = 0;
    if (QMXLgetSizeOfDataset(getHandleToStorage(), path.c_str(), name.c_str(), &size) >= 0)
        return true;
    // Only "nothing there" is an answer; a dataset that cannot be read is not absent.
    if (lastFailureWasAbsence())
        return false;
    throwAccessViolation();
}

bool QMXVectorDAO::GetVectorInfo(std::string& path, std::string& name, VectorInfo& info) {
    requireStorage();
    if (constructPaths(path, name, false) < 0)
        throwAccessViolation();
    long long count = 0;
    int type = -1;
    if (QMXLgetDatasetInfo(getHandleToStorage(), path.c_str(), name.c_str(), &count, &type) < 0) {
        if (lastFailureWasAbsence())
            return false;
        throwAccessViolation();
    }
    info.rows = reportableCount(count, path, name);
    info.cols = 1;
    info.type = toVectorDataType(type);
    return true;
}

long long QMXVectorDAO::storedElementCount(std::string& path, std::string& name) {
    if (constructPaths(path, name, false) < 0)
        throwAccessViolation();
    long long count = 0;
    int type = -1;
    if (QMXLgetDatasetInfo(getHandleToStorage(), path.c_str(), name.c_str(), &count, &type) < 0) {
        if (lastFailureWasAbsence())
            return -1;
        throwAccessViolation();
    }
    return count;
}

void QMXVectorDAO::requireReportableCount(const std::string& path, const std::string& name) {
    long long count = 0;
    int type = -1;
    // The dataset stays open in the file library for the read that follows.
    if (QMXLgetDatasetInfo(getHandleToStorage(), path.c_str(), name.c_str(), &count, &type) < 0)
        throwAccessViolation();
    reportableCount(count, path, name);
}

bool QMXVectorDAO::datasetExists(const std::string& path, const std::string& name) {
    std::string groupPath = path;
    std::string datasetName = name;
    return Exists(groupPath, datasetName);
}

// ---- Settings --------------------------------------------------------------------------------

void QMXVectorDAO::setCompression(int level) {
    compression = std::clamp(level, 0, 9);
}

void QMXVectorDAO::setCompressor(int value) {
    if (value != QMXL_COMPRESSOR_FOLLOW && (value < QMXL_DEFLATE || value > QMXL_LZ4))
        throw QminvalidArgument("Unknown compressor.");
    compressor = value;
}

void QMXVectorDAO::setPathToRoot(const std::string& root) {
    pathToRoot = root;
}

bool QMXVectorDAO::setFixed(bool value) {
    fixed = value;
    return fixed;
}

void QMXVectorDAO::setSizeHint(unsigned int hint) {
    sizeHint = hint;
}

// ---- Framed operations -----------------------------------------------------------------------

bool QMXVectorDAO::create(const std::string& path, const std::string& name, tagVectorDataTypes type,
                          int count, const void* data) {
    requireStorage();
    checkedCount(count);
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error creating vector.", true);
    std::string groupPath = path;
    std::string datasetName = name;
    return Create(groupPath, datasetName, convert(type), count, data);
}

bool QMXVectorDAO::create(const std::string& path, const std::string& name, ClassComposer& type,
                          int count, const void* data) {
    requireStorage();
    QMXClassComposer& composer = composerOf(type);
    checkedCount(count);
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error creating vector.", true);

    std::string groupPath = path;
    std::string datasetName = name;
    auto* creation = new VectorCreation(getHandleToStorage());
    stack->push(creation);

    // The host gets the stack itself; reverting it removes what was made here, and never a
    // dataset that stood under this name before.
    bool existedBefore = true;
    try {
        existedBefore = datasetExists(path, name);
        Create(groupPath, datasetName, composer.getDataTypeHandle(), true, count, data);
    } catch (...) {
        if (!existedBefore) {
            creation->path = groupPath;
            creation->name = datasetName;
        }
        stack->setErrorMessage(getLastErrorMessage());
        throw stack;
    }
    creation->path = groupPath;
    creation->name = datasetName;

    const std::string full = groupPath + "/" + datasetName;
    DatasetHandle dataset(QMXLopenDataset(getHandleToStorage(), full.c_str()));
    const int one = 1;
    if (QMXLsetAttribute(dataset.getHandle(), "Compound", &one) < 0) {
        stack->setErrorMessage(getLastErrorMessage());
        throw stack;
    }
    return true;
}

bool QMXVectorDAO::read(const std::string& path, const std::string& name, tagVectorDataTypes type,
                        void* data) {
    requireStorage();
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error accessing file.", false);
    std::string groupPath = path;
    std::string datasetName = name;
    return Read(groupPath, datasetName, convert(type), data);
}

bool QMXVectorDAO::read(const std::string& path, const std::string& name, ClassComposer& type,
                        void* data) {
    requireStorage();
    QMXClassComposer& composer = composerOf(type);
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error creating vector.", false);
    std::string groupPath = path;
    std::string datasetName = name;
    return Read(groupPath, datasetName, composer.getDataTypeHandle(), data);
}

bool QMXVectorDAO::readMany(const std::string& path, const std::vector<std::string>& names,
                            std::vector<std::vector<unsigned char>>& result) {
    requireStorage();
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error accessing file.", false);

    result.resize(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const VectorInfo info = getInfoNoLocking(path, names[i]);
        if (info.rows < 1 || info.cols != 1)
            continue;

        // The buffer is sized from the shape; a dataset holding more elements than that (a
        // damaged shape attribute) must not be read into it.
        std::string groupPath = path;
        std::string datasetName = names[i];
        if (storedElementCount(groupPath, datasetName) != info.rows)
            throw DataAccessViolationException("Wrong size of object.");

        result[i].resize(static_cast<std::size_t>(info.rows));
        // Rewritten by storedElementCount, and the count just checked: read straight away.
        readTyped(groupPath, datasetName, static_cast<int>(QMXL_UINT8), result[i].data());
    }
    return true;
}

bool QMXVectorDAO::update(const std::string& path, const std::string& name, tagVectorDataTypes type,
                          int count, const void* data) {
    requireStorage();
    checkedCount(count);
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error updating vector.", true);
    std::string groupPath = path;
    std::string datasetName = name;
    return Update(groupPath, datasetName, convert(type), count, data);
}

bool QMXVectorDAO::update(const std::string& path, const std::string& name, ClassComposer& type,
                          int count, const void* data) {
    requireStorage();
    QMXClassComposer& composer = composerOf(type);
    checkedCount(count);
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error creating vector.", true);
    std::string groupPath = path;
    std::string datasetName = name;
    return Update(groupPath, datasetName, composer.getDataTypeHandle(), count, data);
}

bool QMXVectorDAO::remove(const std::string& path, const std::string& name) {
    requireStorage();
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error removing vector.", true);
    std::string groupPath = path;
    std::string datasetName = name;
    return Remove(groupPath, datasetName);
}

bool QMXVectorDAO::exists(const std::string& path, const std::string& name) {
    requireStorage();
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error accessing file.", false);
    std::string groupPath = path;
    std::string datasetName = name;
    return Exists(groupPath, datasetName);
}

VectorInfo QMXVectorDAO::getInfo(const std::string& path, const std::string& name) {
    requireStorage();
    std::shared_ptr<TransactionStack> stack = enlistFileLock("Error accessing file.", false);
    return getInfoNoLocking(path, name);
}

VectorInfo QMXVectorDAO::getInfoNoLocking(const std::string& path, const std::string& name) {
    VectorInfo info{0, 1, -1};
    std::string groupPath = path;
    std::string datasetName = name;
    GetVectorInfo(groupPath, datasetName, info);
    return info;
}

// ---- Groups: no lock of their own; they run under the caller's -----------------------------

bool QMXVectorDAO::existsGroup(const std::string& path) {
    if (!checkFile())
        return false;  // nothing bound, so no group either
    std::string stripped;
    getStrippedName(path, stripped);
    const std::string groupPath = pathToRoot + "/" + stripped;
    GroupHandle group(QMXLopenGroup(getHandleToStorage(), groupPath.c_str()));
    if (group.isValid())
        return true;
    if (lastFailureWasAbsence())
        return false;
    throwAccessViolation();
}

bool QMXVectorDAO::removeGroup(const std::string& path) {
    if (!existsGroup(path))
        return false;
    std::string stripped;
    getStrippedName(path, stripped);
    const std::string groupPath = pathToRoot + "/" + stripped;
    return QMXLremoveGroup(getHandleToStorage(), groupPath.c_str()) >= 0;
}

}  // namespace Quellmar
