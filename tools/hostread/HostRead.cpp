#include "HostRead.h"

#include "DAOExceptions.h"
#include "DataSourceDescriptor.h"
#include "Digest.h"
#include "GuardedBuffer.h"
#include "QMXArrayDAO.h"
#include "QMXBlobVariants.h"
#include "QMXClassComposer.h"
#include "QMXDesignDAO.h"
#include "QMXGenericDAOFactory.h"
#include "QMXVectorDAO.h"
#include "QmException.h"
#include "TransactionStack.h"
#include "UserContext.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <new>

namespace Quellmar::hostread {
namespace {

// The class of what was thrown, most specific first, and its message.
std::string describeCurrentException() {
    try {
        throw;
    } catch (const DataAccessViolationException& e) {
        return std::string("DataAccessViolationException: ") + e.what();
    } catch (const DataSourceException& e) {
        return std::string("DataSourceException: ") + e.what();
    } catch (const InvalidTransaction& e) {
        return std::string("InvalidTransaction: ") + e.what();
    } catch (const DAOException& e) {
        return std::string("DAOException: ") + e.what();
    } catch (const QmException& e) {
        return std::string("QmException: ") + e.what();
    } catch (const std::bad_alloc&) {
        return "std::bad_alloc";
    } catch (const std::exception& e) {
        return std::string("std::exception: ") + e.what();
    } catch (...) {
        return "unknown exception";
    }
}

// A host's own refusal (a shape it will not allocate), not the library's answer.
struct HostRefusal {
    std::string why;
};

// The DAO said it failed by its result rather than by an exception: for the host that is an
// error all the same.
struct ReportedFailure {
    std::string what;
};

class Reader {
public:
    Reader(std::shared_ptr<QMXPersistentStorage> storage, std::shared_ptr<TransactionStack> stack,
           const ReadOptions& options)
        : m_storage(std::move(storage)), m_stack(std::move(stack)), m_options(options) {}

    void entry(const Entry& e) {
        switch (e.kind) {
            case EntryKind::Group:
                return group(e);
            case EntryKind::Blob:
                return blob(e);
            case EntryKind::Design:
                return design(e);
            case EntryKind::Vector:
            case EntryKind::Array:
            case EntryKind::CompoundVector:
            case EntryKind::CompoundArray:
                return vector(e);
        }
    }

    void fileVersion() {
        QMXBlobDAO dao;
        bind(dao);
        ask("file version", [&] {
            int version = -1;
            if (!dao.getQMVersion(version))
                throw ReportedFailure{"getQMVersion returned false"};
            return std::to_string(version);
        });
    }

    std::vector<ReadLine> lines() { return std::move(m_lines); }

private:
    template <class Dao>
    void bind(Dao& dao) {
        dao.setDataSource(m_storage);
        dao.setContext(m_stack);
    }

    void ask(const std::string& key, const std::function<std::string()>& question) {
        try {
            m_lines.push_back({key, true, question()});
        } catch (const HostRefusal& refusal) {
            m_lines.push_back({key, false, "host refused: " + refusal.why});
        } catch (const ReportedFailure& failure) {
            m_lines.push_back({key, false, failure.what});
        } catch (...) {
            m_lines.push_back({key, false, describeCurrentException()});
        }
    }

    // The bookkeeping attributes as a host reads them, each output set beforehand so that an
    // absent attribute reads the same every time.
    template <class Dao, class... Group>
    void attributes(const std::string& key, Dao& dao, const Group&... group) {
        ask(key + " exists-group",
            [&] { return std::string(dao.existsGroup(group...) ? "true" : "false"); });
        ask(key + " version", [&] {
            int version = -1;
            dao.readGroupDataVersion(group..., version);
            return std::to_string(version);
        });
        ask(key + " id", [&] {
            std::string id;
            dao.readGroupDataId(group..., id);
            return quoted(id);
        });
        ask(key + " max-identifier", [&] {
            unsigned long long value = 0;
            unsigned short high = 0;
            dao.readMaxIdentifierValue(group..., value, high);
            return std::to_string(value) + " " + std::to_string(high);
        });
        ask(key + " chain", [&] {
            std::string chain;
            dao.readChainGangValue(group..., chain);
            return quoted(chain);
        });
        ask(key + " created-by", [&] {
            std::string revision;
            dao.readFileCreationSoftwareRevision(group..., revision);
            return quoted(revision);
        });
        ask(key + " modified-by", [&] {
            std::string revision;
            dao.readFileLastModifiedSoftwareRevision(group..., revision);
            return quoted(revision);
        });
    }

    std::string transferDigest(const std::string& key, const SerializationTransferObject& object) {
        const auto buffer = object.getBuffer();
        if (!buffer)
            return "no buffer";
        if (m_options.onData)
            m_options.onData(key, buffer->data(), buffer->size());
        return bytesDigest(buffer->data(), buffer->size());
    }

    void group(const Entry& e) {
        QMXOpaqueDataDAO opaque;
        QMXStringDataDAO strings;
        QMXBlobDAO& dao = e.stringData ? static_cast<QMXBlobDAO&>(strings) : opaque;
        bind(dao);
        attributes(e.key(), dao, e.group);
    }

    void blob(const Entry& e) {
        QMXOpaqueDataDAO opaque;
        QMXStringDataDAO strings;
        QMXBlobDAO& dao = e.stringData ? static_cast<QMXBlobDAO&>(strings) : opaque;
        bind(dao);
        ask(e.key() + " exists",
            [&] { return std::string(dao.exists(e.group, e.name) ? "true" : "false"); });
        ask(e.key() + " read", [&] {
            SerializationTransferObject object(nullptr);
            dao.read(e.group, e.name, object);
            return transferDigest(e.key(), object);
        });
    }

    void design(const Entry& e) {
        QMXDesignDatasetDAO dao(e.name);
        bind(dao);
        ask(e.key() + " exists", [&] { return std::string(dao.exists() ? "true" : "false"); });
        ask(e.key() + " read", [&] {
            SerializationTransferObject object(nullptr);
            dao.read(object);
            return transferDigest(e.key(), object);
        });
        attributes(e.key(), dao);
    }

    // Reads into a buffer of exactly `bytes`, as a host sized it.
    std::string readInto(const Entry& e, QMXVectorDAO& dao, unsigned long long bytes,
                         const std::string& key) {
        if (bytes > m_options.maxBufferBytes)
            throw HostRefusal{"buffer of " + std::to_string(bytes) + " bytes"};
        GuardedBuffer buffer(static_cast<std::size_t>(bytes));
        bool done = false;
        if (e.members.empty()) {
            done = dao.read(e.group, e.name, static_cast<tagVectorDataTypes>(e.type->vectorType),
                            buffer.data());
        } else {
            QMXClassComposer composer(packedRecordSize(e.members));
            unsigned long long offset = 0;
            for (const Member& m : e.members) {
                const auto tag = static_cast<ClassMemberTypes::tag>(m.type->memberType);
                if (m.count == 1)
                    composer.registerMember(m.name.c_str(), offset, tag);
                else
                    composer.registerMember(m.name.c_str(), offset, tag, m.count);
                offset += m.type->size * m.count;
            }
            done = dao.read(e.group, e.name, composer, buffer.data());
        }
        if (!buffer.intact()) {
            std::fprintf(stderr, "host buffer overrun: %s (%llu bytes)\n", key.c_str(), bytes);
            std::abort();
        }
        if (!done)
            throw ReportedFailure{"read returned false"};
        if (m_options.onData)
            m_options.onData(key, buffer.data(), buffer.size());
        return bytesDigest(buffer.data(), buffer.size());
    }

    void vector(const Entry& e) {
        const bool array = e.kind == EntryKind::Array || e.kind == EntryKind::CompoundArray;
        QMXVectorDAO vectors;
        QMXArrayDAO arrays;
        QMXVectorDAO& dao = array ? static_cast<QMXVectorDAO&>(arrays) : vectors;
        bind(dao);
        const std::size_t element = e.members.empty() ? e.type->size : packedRecordSize(e.members);
        const std::string key = e.key();
        ask(key + " exists",
            [&] { return std::string(dao.exists(e.group, e.name) ? "true" : "false"); });
        VectorInfo info;
        bool shaped = false;
        ask(key + " shape", [&] {
            info = dao.getInfo(e.group, e.name);
            shaped = true;
            return std::to_string(info.rows) + " x " + std::to_string(info.cols) + " type " +
                   std::to_string(info.type);
        });
        if (shaped) {
            ask(key + " read-by-shape", [&] {
                if (info.rows < 0 || info.cols < 0)
                    throw HostRefusal{"negative shape"};
                const unsigned long long count = static_cast<unsigned long long>(info.rows) *
                                                 static_cast<unsigned long long>(info.cols);
                return readInto(e, dao, count * element, key + " read-by-shape");
            });
        }
        if (e.rows > 0) {
            ask(key + " read-by-manifest", [&] {
                const unsigned long long count = static_cast<unsigned long long>(e.rows) *
                                                 static_cast<unsigned long long>(e.cols);
                return readInto(e, dao, count * element, key + " read-by-manifest");
            });
        }
    }

    std::shared_ptr<QMXPersistentStorage> m_storage;
    std::shared_ptr<TransactionStack> m_stack;
    ReadOptions m_options;
    std::vector<ReadLine> m_lines;
};

}  // namespace

std::vector<ReadLine> readContainer(const std::string& path, const std::vector<Entry>& entries,
                                    const ReadOptions& options) {
    auto stack = TransactionStack::create();
    std::shared_ptr<QMXPersistentStorage> storage;
    try {
        const UserContext context(stack, UserContext::ReadOnly);
        QMXGenericDAOFactory factory(std::make_shared<DataSourceDescriptor>(path), &context);
        storage = factory.getStorage();
    } catch (...) {
        std::vector<ReadLine> failed{{"open", false, describeCurrentException()}};
        stack->revert();
        return failed;
    }
    Reader reader(storage, stack, options);
    reader.fileVersion();
    for (const Entry& e : entries)
        reader.entry(e);
    std::vector<ReadLine> lines = reader.lines();
    storage.reset();
    try {
        stack->commit();
    } catch (...) {
        lines.push_back({"close", false, describeCurrentException()});
    }
    return lines;
}

std::string formatLines(const std::vector<ReadLine>& lines) {
    std::string out;
    for (const ReadLine& line : lines)
        out += line.key + "\t" + (line.ok ? "ok" : "error") + "\t" + line.text + "\n";
    return out;
}

}  // namespace Quellmar::hostread
