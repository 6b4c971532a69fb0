// Random sequences of operations run against the library and against a plain in-memory model.
// After every step the library's answers must equal the model's; after every commit, revert and
// reopen the whole file must hold exactly what the model holds.
//
// QMX_DIFF_SEQUENCES and QMX_DIFF_SEED set the run's size and seed (defaults: 2000, 20261206).
#include "DAOExceptions.h"
#include "QMXTransactions.h"
#include "SessionFixture.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace Quellmar;
namespace qt = Quellmar::testing;
using qt::Session;

namespace {

const std::vector<std::string> kGroups{"alpha", "beta/inner", "/gamma/"};
const std::vector<std::string> kNames{"a", "b1", "obj.2", "x_y", "long-name-of-an-object", "z"};
const std::vector<std::string> kVectorGroups{"series", "series/inner", "/other/"};

using Key = std::pair<std::string, std::string>;  // group, name

struct Model {
    std::map<Key, std::string> blobs;
    std::map<Key, std::vector<double>> vectors;
};

class Runner {
public:
    Runner(const std::string& file, unsigned seed) : m_file(file), m_rng(seed) {}

    // Returns a description of the first divergence, or nothing.
    std::optional<std::string> run(int steps) {
        // Each operation with the percentage below which a draw of 0..99 picks it.
        static const std::pair<int, void (Runner::*)()> kOperations[] = {
            {14, &Runner::createBlob},   {24, &Runner::updateBlob},   {30, &Runner::removeBlob},
            {42, &Runner::readBlob},     {48, &Runner::existsBlob},   {60, &Runner::createVector},
            {66, &Runner::updateVector}, {70, &Runner::removeVector}, {80, &Runner::readVector},
            {86, &Runner::commit},       {93, &Runner::revert},       {100, &Runner::reopen}};
        open();
        for (int step = 0; step < steps && !m_failure; ++step) {
            const int op = pick(100);
            for (const auto& [limit, operation] : kOperations)
                if (op < limit) {
                    (this->*operation)();
                    break;
                }
        }
        if (!m_failure)
            commit();
        m_session.reset();
        return m_failure;
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }
    Key anyKey() { return {kGroups[pick(3)], kNames[pick(static_cast<int>(kNames.size()))]}; }
    Key anyVectorKey() {
        return {kVectorGroups[pick(3)], kNames[pick(static_cast<int>(kNames.size()))]};
    }
    std::string randomBytes() {
        const int size = pick(10) == 0 ? 0 : pick(400) + 1;
        std::string bytes(static_cast<size_t>(size), '\0');
        for (char& c : bytes)
            c = static_cast<char>(pick(256));
        return bytes;
    }
    std::vector<double> randomValues() {
        std::vector<double> values(static_cast<size_t>(pick(60) + 1));
        for (double& v : values)
            v = std::uniform_real_distribution<double>(-1e6, 1e6)(m_rng);
        return values;
    }
    void fail(const std::string& what) {
        if (!m_failure)
            m_failure = m_log.str() + "\n=> " + what;
    }
    void note(const std::string& line) { m_log << line << "\n"; }
    std::string name(const Key& k) { return "'" + k.first + "'/'" + k.second + "'"; }

    void open() { m_session = std::make_unique<Session>(m_file); }
    // A unit of work ends with a commit or a revert; the next one starts with a new stack and
    // its exclusive lock, as a host's would.
    void commit() {
        note("commit");
        m_session->stack->commit();
        restart();
    }
    void revert() {
        note("revert");
        m_session->stack->revert();
        for (const Key& k : m_createdBlobs)
            m_model.blobs.erase(k);
        restart();
    }
    void reopen() {
        note("reopen");
        restart();  // ending the unit of work commits
    }
    void restart() {
        m_session.reset();
        m_createdBlobs.clear();
        checkWholeFile();
        open();
    }

    void createBlob() {
        Key k = anyKey();
        if (m_model.blobs.count(k))
            return;  // creating over an object is tried by the hostile-input test
        std::string bytes = randomBytes();
        note("create blob " + name(k) + " size " + std::to_string(bytes.size()));
        try {
            m_session->blobs.createGroup(k.first, 1);
            m_session->blobs.create(k.first, k.second, qt::makeObject(bytes));
        } catch (const std::exception& e) {
            return fail(std::string("create threw: ") + e.what());
        }
        m_model.blobs[k] = bytes;
        m_createdBlobs.insert(k);
    }
    void updateBlob() {
        Key k = anyKey();
        if (!m_model.blobs.count(k))
            return;
        std::string bytes = randomBytes();
        note("update blob " + name(k) + " size " + std::to_string(bytes.size()));
        try {
            m_session->blobs.update(k.first, k.second, qt::makeObject(bytes));
        } catch (const std::exception& e) {
            return fail(std::string("update threw: ") + e.what());
        }
        m_model.blobs[k] = bytes;
    }
    // Removing throws exactly when the model holds nothing of the name.
    template <class Map, class DAO>
    void remove(const std::string& kind, Map& model, DAO& dao, const Key& k) {
        const bool present = model.count(k) > 0;
        note("remove " + kind + " " + name(k) + (present ? "" : " (absent)"));
        bool threw = false;
        try {
            dao.remove(k.first, k.second);
        } catch (const DataAccessViolationException&) {
            threw = true;
        }
        if (threw == present)
            return fail(present ? "remove of a present " + kind + " threw"
                                : "remove of an absent " + kind + " did not throw");
        model.erase(k);
    }
    void removeBlob() { remove("blob", m_model.blobs, m_session->blobs, anyKey()); }
    void readBlob() {
        Key k = anyKey();
        note("read blob " + name(k));
        auto it = m_model.blobs.find(k);
        SerializationTransferObject object(std::make_shared<std::vector<unsigned char>>(5, 0xEE));
        try {
            m_session->blobs.read(k.first, k.second, object);
        } catch (const DataAccessViolationException& e) {
            const bool expected = it == m_model.blobs.end() || it->second.empty();
            if (!expected)
                fail(std::string("read of a present blob threw: ") + e.what());
            return;
        }
        if (it == m_model.blobs.end())
            return fail("read of an absent blob succeeded");
        if (qt::bytesOf(object) != it->second)
            fail("read returned other bytes");
    }
    void existsBlob() {
        Key k = anyKey();
        note("exists blob " + name(k));
        if (m_session->blobs.exists(k.first, k.second) != (m_model.blobs.count(k) > 0))
            fail("exists disagrees");
    }
    void createVector() {
        Key k = anyVectorKey();
        if (m_model.vectors.count(k))
            return;
        auto values = randomValues();
        note("create vector " + name(k) + " count " + std::to_string(values.size()));
        try {
            m_session->vectors.create(k.first, k.second, VT_DOUBLE, static_cast<int>(values.size()),
                                      values.data());
        } catch (const std::exception& e) {
            return fail(std::string("vector create threw: ") + e.what());
        }
        m_model.vectors[k] = values;  // a typed vector's creation is not undone by a revert
    }
    void updateVector() {
        Key k = anyVectorKey();
        if (!m_model.vectors.count(k))
            return;
        auto values = randomValues();
        note("update vector " + name(k) + " count " + std::to_string(values.size()));
        try {
            m_session->vectors.update(k.first, k.second, VT_DOUBLE, static_cast<int>(values.size()),
                                      values.data());
        } catch (const std::exception& e) {
            return fail(std::string("vector update threw: ") + e.what());
        }
        m_model.vectors[k] = values;
    }
    void removeVector() { remove("vector", m_model.vectors, m_session->vectors, anyVectorKey()); }
    void readVector() {
        Key k = anyVectorKey();
        note("read vector " + name(k));
        if (!checkVector(*m_session, k))
            fail("vector read disagrees");
    }
    bool checkVector(Session& s, const Key& k) {
        auto it = m_model.vectors.find(k);
        const bool exists = s.vectors.exists(k.first, k.second);
        if (exists != (it != m_model.vectors.end()))
            return false;
        const VectorInfo info = s.vectors.getInfo(k.first, k.second);
        if (!exists)
            return info.rows == 0 && info.cols == 1 && info.type == -1;
        if (info.rows != static_cast<int>(it->second.size()) || info.cols != 1 ||
            info.type != VT_DOUBLE)
            return false;
        std::vector<double> values(it->second.size());
        s.vectors.read(k.first, k.second, VT_DOUBLE, values.data());
        return values == it->second;
    }
    // Everything the model holds is in the file, and nothing else of the name universe. Read in
    // a unit of work of its own, read-only.
    void checkWholeFile() {
        Session s(m_file, UserContext::ReadOnly);
        for (const auto& g : kGroups)
            for (const auto& n : kNames) {
                Key k{g, n};
                auto it = m_model.blobs.find(k);
                if (s.blobs.exists(g, n) != (it != m_model.blobs.end()))
                    return fail("file and model disagree on blob " + name(k));
                if (it != m_model.blobs.end() && !it->second.empty()) {
                    SerializationTransferObject object;
                    s.blobs.read(g, n, object);
                    if (qt::bytesOf(object) != it->second)
                        return fail("file holds other bytes for " + name(k));
                }
            }
        for (const auto& g : kVectorGroups)
            for (const auto& n : kNames)
                if (!checkVector(s, {g, n}))
                    return fail("file and model disagree on vector " + name({g, n}));
    }

    std::string m_file;
    std::mt19937 m_rng;
    Model m_model;
    std::set<Key> m_createdBlobs;
    std::unique_ptr<Session> m_session;
    std::ostringstream m_log;
    std::optional<std::string> m_failure;
};

int envInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

}  // namespace

TEST(Differential, RandomSequencesMatchTheModel) {
    const int sequences = envInt("QMX_DIFF_SEQUENCES", 2000);
    const unsigned seed = static_cast<unsigned>(envInt("QMX_DIFF_SEED", 20261206));
    qt::TempDir dir;
    // Durability against power loss is not what this test is about: skip the syncs.
    DisableFlushingTransaction noSync;
    for (int i = 0; i < sequences; ++i) {
        const std::string file = dir.file("seq" + std::to_string(i % 8) + ".qmz");
        std::remove(file.c_str());
        Runner runner(file, seed + static_cast<unsigned>(i));
        auto failure = runner.run(12);
        ASSERT_FALSE(failure) << "sequence " << i << " (seed " << seed + i << "):\n" << *failure;
    }
}
