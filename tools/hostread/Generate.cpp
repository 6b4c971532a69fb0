// qmx_hostread_generate: writes a large container the way a host fills one (object groups with
// bookkeeping attributes, opaque and string objects, large chunked items, a design object,
// typed and compound vectors and arrays) and the manifest of everything it stored.
#include "DataSourceDescriptor.h"
#include "Manifest.h"
#include "QMXArrayDAO.h"
#include "QMXBlobVariants.h"
#include "QMXClassComposer.h"
#include "QMXDesignDAO.h"
#include "QMXGenericDAOFactory.h"
#include "QMXPersistentStorage.h"
#include "QMXVectorDAO.h"
#include "TransactionStack.h"
#include "UserContext.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace Quellmar;
using namespace Quellmar::hostread;

// Deterministic content: the same file on every run.
class Bytes {
public:
    explicit Bytes(std::uint32_t seed) : m_state(seed) {}
    unsigned char next() {
        m_state = m_state * 1664525u + 1013904223u;
        return static_cast<unsigned char>(m_state >> 24);
    }
    std::uint32_t below(std::uint32_t bound) {
        m_state = m_state * 1664525u + 1013904223u;
        return (m_state >> 8) % bound;
    }

private:
    std::uint32_t m_state;
};

// One element of a type, a plain value (no NaN) derived from i.
void putValue(const ElementType& t, long long i, unsigned char* out) {
    if (t.vectorType == 2) {
        const float v = static_cast<float>(i % 1000) * 0.5f - 17.25f;
        std::memcpy(out, &v, sizeof v);
    } else if (t.vectorType == 3) {
        const double v = static_cast<double>(i) * 0.125 - 1000.0;
        std::memcpy(out, &v, sizeof v);
    } else {
        const std::uint64_t v = static_cast<std::uint64_t>(i) * 2654435761u + 12345u;
        std::memcpy(out, &v, t.size);  // little-endian: the low bytes
    }
}

std::vector<unsigned char> typedData(const ElementType& t, long long count, long long seed) {
    std::vector<unsigned char> data(static_cast<std::size_t>(count) * t.size);
    for (long long i = 0; i < count; ++i)
        putValue(t, i + seed, data.data() + i * t.size);
    return data;
}

std::vector<unsigned char> recordData(const std::vector<Member>& members, long long count,
                                      long long seed) {
    const std::size_t record = packedRecordSize(members);
    std::vector<unsigned char> data(record * static_cast<std::size_t>(count));
    for (long long r = 0; r < count; ++r) {
        unsigned char* at = data.data() + r * record;
        for (const Member& m : members)
            for (unsigned long long k = 0; k < m.count; ++k, at += m.type->size)
                putValue(*m.type, seed + r * 31 + static_cast<long long>(k), at);
    }
    return data;
}

void describe(QMXClassComposer& composer, const std::vector<Member>& members) {
    unsigned long long offset = 0;
    for (const Member& m : members) {
        const auto tag = static_cast<ClassMemberTypes::tag>(m.type->memberType);
        if (m.count == 1)
            composer.registerMember(m.name.c_str(), offset, tag);
        else
            composer.registerMember(m.name.c_str(), offset, tag, m.count);
        offset += m.type->size * m.count;
    }
}

Member member(const char* name, const char* type, unsigned long long count = 1) {
    return Member{name, elementTypeByName(type), count};
}

class Writer {
public:
    Writer(std::shared_ptr<QMXPersistentStorage> storage, std::shared_ptr<TransactionStack> stack)
        : m_storage(std::move(storage)), m_stack(std::move(stack)) {
        for (QMXBaseDAO* dao :
             {static_cast<QMXBaseDAO*>(&m_opaque), static_cast<QMXBaseDAO*>(&m_strings),
              static_cast<QMXBaseDAO*>(&m_vectors), static_cast<QMXBaseDAO*>(&m_arrays)}) {
            dao->setDataSource(m_storage);
            dao->setContext(m_stack);
        }
    }

    void objectGroup(const std::string& group, bool strings, int version, int attributes) {
        QMXBlobDAO& dao = strings ? static_cast<QMXBlobDAO&>(m_strings) : m_opaque;
        dao.createGroup(group, version);
        // Groups differ in which attributes they carry: absent ones read as defaults.
        if (attributes > 0)
            dao.updateGroupDataId(group, "ID-" + group);
        if (attributes > 1)
            dao.updateMaxIdentifierValue(group, 1000ull * static_cast<unsigned>(version), 3);
        if (attributes > 2)
            dao.updateChainGangValue(group, "chain-" + group);
        if (attributes > 3) {
            dao.updateFileCreationSoftwareRevision(group, "3.1.0");
            dao.updateFileLastModifiedSoftwareRevision(group, "3.2.7");
        }
        add(Entry{EntryKind::Group, strings, group, "", nullptr, 0, 1, {}});
    }

    void blob(const std::string& group, const std::string& name, bool strings, std::size_t size,
              std::uint32_t seed, unsigned int chunk = 0) {
        auto bytes = std::make_shared<SerializationTransferObject::Buffer>(size);
        Bytes gen(seed);
        for (auto& b : *bytes)
            b = strings ? static_cast<unsigned char>('a' + gen.below(26)) : gen.next();
        QMXBlobDAO& dao = strings ? static_cast<QMXBlobDAO&>(m_strings) : m_opaque;
        dao.create(group, name, SerializationTransferObject(bytes, chunk));
        add(Entry{
            EntryKind::Blob, strings, group, name, nullptr, static_cast<long long>(size), 1, {}});
    }

    void design(const std::string& name, std::size_t size) {
        QMXDesignDatasetDAO dao(name);
        dao.setDataSource(m_storage);
        dao.setContext(m_stack);
        dao.createGroup(2);
        auto bytes = std::make_shared<SerializationTransferObject::Buffer>(size);
        Bytes gen(99);
        for (auto& b : *bytes)
            b = gen.next();
        dao.create(SerializationTransferObject(bytes));
        dao.updateGroupDataId("DSN-" + name);
        dao.updateFileCreationSoftwareRevision("3.1.0");
        add(Entry{
            EntryKind::Design, false, "", name, nullptr, static_cast<long long>(size), 1, {}});
    }

    void vector(const std::string& group, const std::string& name, const char* type,
                long long count) {
        const ElementType* t = elementTypeByName(type);
        const auto data = typedData(*t, count, count);
        m_vectors.create(group, name, static_cast<tagVectorDataTypes>(t->vectorType),
                         static_cast<int>(count), data.data());
        add(Entry{EntryKind::Vector, false, group, name, t, count, 1, {}});
    }

    void array(const std::string& group, const std::string& name, const char* type, int rows,
               int cols) {
        const ElementType* t = elementTypeByName(type);
        const auto data = typedData(*t, static_cast<long long>(rows) * cols, rows);
        m_arrays.create(group, name, static_cast<tagVectorDataTypes>(t->vectorType), rows, cols,
                        data.data());
        add(Entry{EntryKind::Array, false, group, name, t, rows, cols, {}});
    }

    void compoundVector(const std::string& group, const std::string& name,
                        const std::vector<Member>& members, int count) {
        QMXClassComposer composer(packedRecordSize(members));
        describe(composer, members);
        const auto data = recordData(members, count, count);
        m_vectors.create(group, name, composer, count, data.data());
        add(Entry{EntryKind::CompoundVector, false, group, name, nullptr, count, 1, members});
    }

    void compoundArray(const std::string& group, const std::string& name,
                       const std::vector<Member>& members, int rows, int cols) {
        QMXClassComposer composer(packedRecordSize(members));
        describe(composer, members);
        const auto data = recordData(members, static_cast<long long>(rows) * cols, rows);
        m_arrays.create(group, name, composer, rows, cols, data.data());
        add(Entry{EntryKind::CompoundArray, false, group, name, nullptr, rows, cols, members});
    }

    const std::vector<Entry>& entries() const { return m_entries; }

private:
    void add(Entry e) { m_entries.push_back(std::move(e)); }

    std::shared_ptr<QMXPersistentStorage> m_storage;
    std::shared_ptr<TransactionStack> m_stack;
    QMXOpaqueDataDAO m_opaque;
    QMXStringDataDAO m_strings;
    QMXVectorDAO m_vectors;
    QMXArrayDAO m_arrays;
    std::vector<Entry> m_entries;
};

void fill(Writer& w) {
    const char* groups[] = {"parts", "assemblies", "loads", "notes"};
    for (int g = 0; g < 4; ++g) {
        const bool strings = g == 3;
        w.objectGroup(groups[g], strings, g + 1, g + 1);
        Bytes sizes(static_cast<std::uint32_t>(1000 + g));
        for (int i = 0; i < 45; ++i) {
            const std::size_t size = 1 + sizes.below(i % 9 == 0 ? 8192 : 700);
            // Every fifth object chunked, as hosts store objects they expect to grow.
            const unsigned int chunk = i % 5 == 0 ? 512 : 0;
            w.blob(groups[g], std::string(strings ? "note-" : "item-") + std::to_string(i),
                   strings || i % 7 == 3, size, static_cast<std::uint32_t>(g * 100 + i), chunk);
        }
    }
    w.objectGroup("large", false, 7, 4);
    w.blob("large", "mesh", false, (5u << 20) / 2, 4242, 1u << 16);
    w.blob("large", "field", false, 3u << 20, 4343, 0);
    w.design("Layout", 4096);

    // The typed DAOs take no int8 elements (compound members may be int8).
    const char* types[] = {"uint8", "int16",  "uint16",  "int32",  "uint32",
                           "int64", "uint64", "float32", "float64"};
    for (int i = 0; i < 20; ++i)
        w.vector(i < 10 ? "series" : "series/more", "s" + std::to_string(i), types[i % 9],
                 1 + (i * 397) % 3000);
    w.vector("series", "long", "float64", 300000);  // 2.4 MB
    for (int i = 0; i < 8; ++i)
        w.array("grids", "a" + std::to_string(i), types[(i * 3 + 1) % 9], 1 + i * 7,
                1 + (i * 5) % 9);

    const std::vector<Member> sample = {member("id", "int32"), member("position", "float64", 3),
                                        member("weight", "float32"), member("flag", "uint8")};
    const std::vector<Member> cell = {member("material", "int16"), member("volume", "float64")};
    const std::vector<Member> wide = {member("a", "int8"), member("b", "uint16"),
                                      member("c", "int64"), member("d", "float32", 4),
                                      member("e", "uint64")};
    for (int i = 0; i < 6; ++i)
        w.compoundVector("records", "r" + std::to_string(i),
                         i % 3 == 0   ? sample
                         : i % 3 == 1 ? cell
                                      : wide,
                         1 + i * 53);
    for (int i = 0; i < 4; ++i)
        w.compoundArray("grids", "c" + std::to_string(i), i % 2 ? cell : sample, 2 + i, 3 + i);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: qmx_hostread_generate OUT.qmz OUT.manifest\n"
                     "Writes a container with over 200 objects (large items included) and the\n"
                     "manifest of what it stored. OUT.qmz is replaced.\n";
        return 2;
    }
    try {
        auto stack = TransactionStack::create();
        std::shared_ptr<QMXPersistentStorage> storage;
        {
            const UserContext context(stack, UserContext::ReadWrite);
            QMXGenericDAOFactory factory(
                std::make_shared<DataSourceDescriptor>(argv[1], false, true), &context);
            storage = factory.getStorage();
        }
        Writer writer(storage, stack);
        try {
            fill(writer);
        } catch (const std::exception& e) {
            const auto& done = writer.entries();
            throw std::runtime_error(std::string(e.what()) + " (after " +
                                     (done.empty() ? std::string("nothing") : done.back().key()) +
                                     ")");
        }
        if (storage->commit() != 1)
            throw std::runtime_error("the container could not be written");
        storage.reset();
        stack->commit();
        std::ofstream manifest(argv[2]);
        manifest << "# written by qmx_hostread_generate\n" << formatManifest(writer.entries());
        if (!manifest.flush())
            throw std::runtime_error(std::string("cannot write ") + argv[2]);
        std::cout << "wrote " << argv[1] << " and " << argv[2] << ": " << writer.entries().size()
                  << " entries\n";
    } catch (const std::exception& e) {
        std::cerr << "qmx_hostread_generate: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
