#include "QMXDesignDAO.h"

namespace Quellmar {

namespace {

// The root group itself, by the blob DAO's path rules.
const std::string kGroup = ".";

}  // namespace

QMXDesignBaseDAO::~QMXDesignBaseDAO() = default;

std::string QMXDesignBaseDAO::defaultRoot() {
    return "/Design";
}

std::string QMXDesignBaseDAO::root() {
    return defaultRoot();
}

bool QMXDesignBaseDAO::getQMVersionOfLibrary(int& version) {
    return QMXBlobDAO::getQMVersionOfLibrary(version);
}

bool QMXDesignBaseDAO::getQMVersion(int& version) {
    return QMXBlobDAO::getQMVersion(version);
}

bool QMXDesignBaseDAO::updateQMVersionToCurrent() {
    return QMXBlobDAO::updateQMVersionToCurrent();
}

void QMXDesignBaseDAO::createGroup(const int& version) {
    QMXBlobDAO::createGroup(kGroup, version);
}

bool QMXDesignBaseDAO::existsGroup() {
    return QMXBlobDAO::existsGroup(kGroup);
}

void QMXDesignBaseDAO::readGroupDataVersion(int& version) {
    QMXBlobDAO::readGroupDataVersion(kGroup, version);
}

void QMXDesignBaseDAO::updateGroupDataVersion(const int& version) {
    QMXBlobDAO::updateGroupDataVersion(kGroup, version);
}

void QMXDesignBaseDAO::readGroupDataId(std::string& id) {
    QMXBlobDAO::readGroupDataId(kGroup, id);
}

void QMXDesignBaseDAO::updateGroupDataId(const std::string& id) {
    QMXBlobDAO::updateGroupDataId(kGroup, id);
}

void QMXDesignBaseDAO::updateFileCreationSoftwareRevision(const std::string& revision) {
    QMXBlobDAO::updateFileCreationSoftwareRevision(kGroup, revision);
}

void QMXDesignBaseDAO::readFileCreationSoftwareRevision(std::string& revision) {
    QMXBlobDAO::readFileCreationSoftwareRevision(kGroup, revision);
}

void QMXDesignBaseDAO::updateFileLastModifiedSoftwareRevision(const std::string& revision) {
    QMXBlobDAO::updateFileLastModifiedSoftwareRevision(kGroup, revision);
}

void QMXDesignBaseDAO::readFileLastModifiedSoftwareRevision(std::string& revision) {
    QMXBlobDAO::readFileLastModifiedSoftwareRevision(kGroup, revision);
}

void QMXDesignBaseDAO::updateChainGangValue(std::string value) {
    QMXBlobDAO::updateChainGangValue(kGroup, value);
}

void QMXDesignBaseDAO::readChainGangValue(std::string& value) {
    QMXBlobDAO::readChainGangValue(kGroup, value);
}

void QMXDesignBaseDAO::updateMaxIdentifierValue(unsigned long long value, unsigned short high) {
    QMXBlobDAO::updateMaxIdentifierValue(kGroup, value, high);
}

void QMXDesignBaseDAO::readMaxIdentifierValue(unsigned long long& value, unsigned short& high) {
    QMXBlobDAO::readMaxIdentifierValue(kGroup, value, high);
}

bool QMXDesignBaseDAO::exists() {
    return QMXBlobDAO::exists(kGroup, datasetName());
}

void QMXDesignBaseDAO::create(const SerializationTransferObject& object) {
    QMXBlobDAO::create(kGroup, datasetName(), object);
}

void QMXDesignBaseDAO::read(SerializationTransferObject& object) {
    QMXBlobDAO::read(kGroup, datasetName(), object);
}

void QMXDesignBaseDAO::update(SerializationTransferObject& object) {
    QMXBlobDAO::update(kGroup, datasetName(), object);
}

void QMXDesignBaseDAO::remove() {
    QMXBlobDAO::remove(kGroup, datasetName());
}

QMXDesignDatasetDAO::QMXDesignDatasetDAO(const std::string& datasetName)
    : m_datasetName(datasetName) {}

QMXDesignDatasetDAO::~QMXDesignDatasetDAO() = default;

std::string QMXDesignDatasetDAO::datasetName() {
    return m_datasetName;
}

}  // namespace Quellmar
