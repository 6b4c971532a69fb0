#include "CheckWalk.h"

#include "Attributes.h"
#include "Blobs.h"
#include "Cli.h"
#include "Container.h"
#include "CrashGuard.h"
#include "Diagnostics.h"
#include "Handle.h"
#include "Describe.h"
#include "QMXBlobDAO.h"
#include "TransactionStack.h"
#include "Tree.h"
#include "Vectors.h"

#include <memory>

namespace Quellmar::qmx {
namespace {

class Walk {
public:
    Walk(const std::string& file, CheckResult& result, CheckObserver& observer)
        : m_file(file), m_result(result), m_observer(observer) {}

    void run(bool native, std::size_t firstEntry);

private:
    void problem(const std::string& path, const std::string& message) {
        add({path, message, false});
    }
    void warning(const std::string& path, const std::string& message) {
        add({path, message, true});
    }
    void add(const CheckFinding& finding) {
        m_result.findings.push_back(finding);
        m_observer.found(finding);
    }

    void checkFormat(bool native);
    void checkEntry(const Node& node);
    bool checkAttributes(const Node& node);
    bool objectIntact(const Node& node);
    void checkObjectGroup(const Node& node);
    void checkBlob(const Node& node);
    void checkVector(const Node& node);
    void countChecksum(const Node& node);
    void checkChecksumsMarker();

    const std::string& m_file;
    CheckResult& m_result;
    CheckObserver& m_observer;
    std::unique_ptr<Container> m_container;
    bool m_marked = false;          // the file says this library wrote all of it
    std::size_t m_items = 0;        // data items walked
    std::size_t m_checksummed = 0;  // of them, those carrying a checksum
};

constexpr const char* kChecksumsMarker = "QMZ_CHECKSUMS";
constexpr const char* kChecksumAttribute = "QMZ_CRC32C";
// Large and appended items carry a checksum per slice in place of the whole-item one.
constexpr const char* kSliceChecksumAttribute = "QMZ_SLICE_CRC32C";

// Failures of the container carry the file name in front; findings are placed by path instead.
std::string withoutFilePrefix(const std::string& file, const std::string& message) {
    const std::string prefix = file + ": ";
    return message.rfind(prefix, 0) == 0 ? message.substr(prefix.size()) : message;
}

void Walk::run(bool native, std::size_t firstEntry) {
    try {
        m_container = std::make_unique<Container>(m_file, Access::Read, native);
    } catch (const std::exception& e) {
        problem("/", withoutFilePrefix(m_file, e.what()));
        return;
    }
    checkFormat(native);

    Inspector inspector(*m_container);
    const std::vector<Node> nodes =
        listTree(m_container->file(), "/", inspector.kindOf("/"),
                 [this](const std::string& path, const std::string& what) { problem(path, what); });
    m_observer.started(nodes.size());
    for (std::size_t i = firstEntry; i < nodes.size(); ++i) {
        m_observer.entering(i, nodes[i].path);
        crashGuardAt(nodes[i].path);
        try {
            checkEntry(nodes[i]);
        } catch (const std::shared_ptr<TransactionStack>& stack) {
            problem(nodes[i].path, stack ? stack->getErrorMessage() : "failed");
        } catch (const std::exception& e) {
            problem(nodes[i].path, withoutFilePrefix(m_file, e.what()));
        }
    }
    checkChecksumsMarker();
}

// Files this library writes say on the root that every item carries a checksum; without that
// mark an item that lost its checksum reads as an old, unchecked one. So a missing or garbled
// mark is itself damage when every item walked carries a checksum. Files from before the mark
// whose items all carry checksums are reported too: rewriting them (qmx compact does not)
// or adding the mark settles it.
void Walk::checkChecksumsMarker() {
    const int file = m_container->file();
    const int marked = QMXLhasAttribute(file, kChecksumsMarker);
    if (marked == 1) {
        int value = 0;
        // 1: checksums over contents; 2: over contents and paths; 3: and item types.
        if (QMXLreadAttribute(file, kChecksumsMarker, &value) != 1 || value < 1 || value > 3)
            problem("/", std::string("checksum marker \"") + kChecksumsMarker + "\" is damaged");
        return;
    }
    if (marked == 0 && m_items > 0 && m_checksummed == m_items)
        problem("/", std::string("checksum marker \"") + kChecksumsMarker +
                         "\" missing, though every data item carries a checksum (damaged?)");
}

void Walk::countChecksum(const Node& node) {
    ObjectHandle dataset(QMXLopenDataset(m_container->file(), node.path.c_str()));
    if (!dataset.valid())
        return;
    ++m_items;
    if (QMXLhasAttribute(dataset.get(), kChecksumAttribute) == 1 ||
        QMXLhasAttribute(dataset.get(), kSliceChecksumAttribute) == 1)
        ++m_checksummed;
}

void Walk::checkFormat(bool native) {
    const int file = m_container->file();
    // A root whose attributes cannot be trusted counts as marked; that problem is reported
    // with the root's entry.
    m_marked = QMXLhasAttribute(file, kChecksumsMarker) != 0;
    if (!native && QMXLisQMZFileNoLock(file) != 1)
        problem("/", "container marker missing");
    QMXBlobDAO blobs;
    m_container->bind(blobs);
    int version = 0;
    int library = 0;
    if (blobs.getQMVersionOfLibrary(library))
        m_result.libraryVersion = library;
    if (!blobs.getQMVersion(version)) {
        // A plain HDF5 file has no container version to hold.
        if (native)
            warning("/", "no format version (a plain HDF5 file)");
        else
            problem("/", "format version unreadable: " + fileLibraryError());
        return;
    }
    m_result.formatVersion = version;
    if (version < 1)
        problem("/", "format version " + std::to_string(version) + " is not valid");
    else if (m_result.libraryVersion && version > library)
        problem("/", "format version " + std::to_string(version) +
                         " is newer than this library's " + std::to_string(library));
}

void Walk::checkEntry(const Node& node) {
    if (node.kind == QMXL_KIND_UNKNOWN) {
        // Listed but not told apart: damaged, or a kind of object this library never writes.
        std::vector<AttributeValue> attributes;
        if (!readAttributes(m_container->file(), node.path, false, attributes))
            problem(node.path, "cannot be opened (damaged?): " + fileLibraryError());
        else if (m_marked)
            problem(node.path, "unknown kind of entry in a file this library wrote (damaged?)");
        else
            warning(node.path, "unknown kind of entry; not checked");
        return;
    }
    // Bookkeeping and shapes are attributes: not read again once they failed their checksum.
    const bool intact = checkAttributes(node);
    if (!node.isGroup())
        countChecksum(node);
    switch (node.kind) {
        case QMXL_KIND_GROUP:
            ++m_result.groups;
            break;
        case QMXL_KIND_OBJECT_GROUP:
            ++m_result.groups;
            if (intact)
                checkObjectGroup(node);
            break;
        case QMXL_KIND_OPAQUE:
        case QMXL_KIND_STRING:
            ++m_result.objects;
            checkBlob(node);
            break;
        case QMXL_KIND_TYPED:
        case QMXL_KIND_COMPOUND:
            ++m_result.vectors;
            if (intact)
                checkVector(node);
            break;
        default:
            break;
    }
}

// HDF5 decodes the whole header (as h5dump and h5py's visit do) and the attributes match their
// checksum; otherwise one problem says so instead of one per attribute.
bool Walk::objectIntact(const Node& node) {
    if (QMXLverifyObject(m_container->file(), node.path.c_str()) == 1)
        return true;
    problem(node.path, fileLibraryError());
    return false;
}

// False when the attributes cannot be trusted.
bool Walk::checkAttributes(const Node& node) {
    if (!objectIntact(node))
        return false;
    std::vector<AttributeValue> attributes;
    if (!readAttributes(m_container->file(), node.path, node.isGroup(), attributes)) {
        problem(node.path, "attributes cannot be read: " + fileLibraryError());
        return false;
    }
    for (const AttributeValue& a : attributes) {
        // The slice checksums are no scalar; the item's verification checks them.
        if (a.type != AttributeValue::Type::Unreadable || a.name == kSliceChecksumAttribute)
            continue;
        if (isLibraryAttribute(a.name))
            problem(node.path, "attribute \"" + a.name + "\" cannot be read");
        else
            warning(node.path, "attribute \"" + a.name + "\" has a type the tool cannot show");
    }
    return true;
}

void Walk::checkObjectGroup(const Node& node) {
    const std::string group = daoGroup(node.path);
    if (!group.empty() && libraryName(group) != group) {
        warning(node.path, "the library cannot address this group by name; bookkeeping not read");
        return;
    }
    {
        ObjectHandle handle(QMXLopenGroup(m_container->file(), node.path.c_str()));
        if (handle.valid() && QMXLhasAttribute(handle.get(), "Version") != 1)
            warning(node.path, "object group has no \"Version\"");
    }
    // Every bookkeeping value through the DAO, as a host reads them.
    QMXBlobDAO blobs;
    m_container->bind(blobs);
    int version = 0;
    std::string text;
    unsigned long long maximum = 0;
    unsigned short high = 0;
    blobs.readGroupDataVersion(group, version);
    blobs.readGroupDataId(group, text);
    blobs.readChainGangValue(group, text);
    blobs.readMaxIdentifierValue(group, maximum, high);
    blobs.readFileCreationSoftwareRevision(group, text);
    blobs.readFileLastModifiedSoftwareRevision(group, text);
}

void Walk::checkBlob(const Node& node) {
    if (libraryName(node.name) != node.name) {
        problem(node.path, "the library cannot address an object of this name");
        return;
    }
    const SerializationTransferObject object =
        readBlob(*m_container, node.parent, node.name, node.kind);
    m_result.bytesRead += object.getBuffer() ? object.getBuffer()->size() : 0;
}

void Walk::checkVector(const Node& node) {
    if (libraryName(node.name) != node.name) {
        problem(node.path, "the library cannot address a vector of this name");
        return;
    }
    {
        // Arrays carry both shape attributes, each at least 1.
        ObjectHandle dataset(QMXLopenDataset(m_container->file(), node.path.c_str()));
        if (dataset.valid()) {
            const bool hasRows = QMXLhasAttribute(dataset.get(), "Rows") == 1;
            const bool hasCols = QMXLhasAttribute(dataset.get(), "Cols") == 1;
            int rows = 0;
            int cols = 0;
            if (hasRows)
                QMXLreadAttribute(dataset.get(), "Rows", &rows);
            if (hasCols)
                QMXLreadAttribute(dataset.get(), "Cols", &cols);
            if ((hasRows || hasCols) && (rows < 1 || cols < 1))
                problem(node.path, "invalid array shape: \"Rows\" " +
                                       (hasRows ? std::to_string(rows) : std::string("missing")) +
                                       ", \"Cols\" " +
                                       (hasCols ? std::to_string(cols) : std::string("missing")));
        }
    }
    VectorReaders readers;
    m_container->bind(readers.vectors);
    m_container->bind(readers.arrays);
    try {
        const VectorData v =
            readVector(readers, m_container->file(), node.parent, node.name,
                       node.kind == QMXL_KIND_COMPOUND, plausibleReadLimit(m_file));
        m_result.bytesRead += v.bytes.size();
    } catch (const Failure& e) {
        // readVector names the vector itself.
        const std::string prefix = node.path + ": ";
        const std::string what = e.what();
        problem(node.path, what.rfind(prefix, 0) == 0 ? what.substr(prefix.size()) : what);
    }
}

}  // namespace

std::size_t CheckResult::problems() const {
    std::size_t n = 0;
    for (const CheckFinding& f : findings)
        n += f.warning ? 0 : 1;
    return n;
}

std::size_t CheckResult::warnings() const {
    return findings.size() - problems();
}

CheckResult checkContainer(const std::string& file, bool native, CheckObserver& observer,
                           std::size_t firstEntry) {
    CheckResult result;
    Walk(file, result, observer).run(native, firstEntry);
    return result;
}

}  // namespace Quellmar::qmx
