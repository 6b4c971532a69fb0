#include "Workload.h"

#include "QMXLLists.h"

#include <cstdlib>
#include <random>

namespace Quellmar::crashtest {
namespace {

constexpr int kBlobNames = 8;
constexpr int kVectorNames = 4;

std::string lastError() {
    char* text = nullptr;
    QMXLgetLastErrorMessage(&text);
    std::string s = text ? text : "(no message)";
    if (text)
        QMXLreleaseString(&text);
    return s;
}

std::string randomBytes(std::mt19937& rng) {
    // Mostly small, sometimes spanning many pages, so updates move data around in the file.
    const size_t size = rng() % 8 == 0 ? 20000 + rng() % 60000 : rng() % 3000;
    std::string s(size, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng());
    return s;
}

std::vector<double> randomValues(std::mt19937& rng) {
    std::vector<double> v(1 + rng() % 2000);
    for (auto& x : v)
        x = static_cast<double>(rng()) / 7.0;
    return v;
}

// Closes a file-library handle on scope exit.
struct Handle {
    int id;
    ~Handle() {
        if (id > 0)
            QMXLcloseObject(id);
    }
};

struct FileHandle {
    int id;
    ~FileHandle() {
        if (id > 0)
            QMXLcloseFile(id);
    }
};

}  // namespace

std::vector<Op> planTransaction(unsigned seed, int number, const State& before) {
    std::mt19937 rng(seed * 1000003u + static_cast<unsigned>(number));
    State state = before;
    std::vector<Op> ops;
    const int count = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < count; ++i) {
        Op op{};
        switch (rng() % 7) {
            case 0:
            case 1: {
                op.name = "b" + std::to_string(rng() % kBlobNames);
                const bool exists = state.blobs.count(op.name) != 0;
                op.kind = exists ? (rng() % 3 == 0 ? OpKind::RemoveBlob : OpKind::UpdateBlob)
                                 : OpKind::CreateBlob;
                if (op.kind != OpKind::RemoveBlob)
                    op.bytes = randomBytes(rng);
                break;
            }
            case 2:
                op.kind = OpKind::SetVersion;
                op.version = static_cast<int>(rng() % 100000);
                break;
            case 3:
            case 4:
                op.name = "v" + std::to_string(rng() % kVectorNames);
                op.kind =
                    state.vectors.count(op.name) ? OpKind::UpdateVector : OpKind::CreateVector;
                op.values = randomValues(rng);
                break;
            default:
                // A creation that the transaction takes back before it commits.
                op.kind = OpKind::RevertedBlob;
                op.name = "tmp";
                op.bytes = randomBytes(rng);
                break;
        }
        applyOps({op}, state);
        ops.push_back(std::move(op));
    }
    return ops;
}

void applyOps(const std::vector<Op>& ops, State& state) {
    for (const Op& op : ops) {
        switch (op.kind) {
            case OpKind::CreateBlob:
            case OpKind::UpdateBlob:
                state.blobs[op.name] = op.bytes;
                break;
            case OpKind::RemoveBlob:
                state.blobs.erase(op.name);
                break;
            case OpKind::SetVersion:
                state.version = op.version;
                break;
            case OpKind::CreateVector:
            case OpKind::UpdateVector:
                state.vectors[op.name] = op.values;
                break;
            case OpKind::RevertedBlob:
                break;
        }
    }
}

State stateAfter(unsigned seed, int count) {
    State state;
    for (int n = 1; n <= count; ++n)
        applyOps(planTransaction(seed, n, state), state);
    return state;
}

std::string runTransaction(const std::string& name, int number, const std::vector<Op>& ops) {
    FileHandle file{number == 1 ? QMXLcreateFile(name.c_str()) : QMXLopenFile(name.c_str())};
    if (file.id <= 0)
        return "open: " + lastError();
    if (number == 1) {
        Handle group{QMXLcreateOpaqueDataGroup(file.id, "/objects")};
        if (group.id <= 0 || QMXLcreatePathToGroup(file.id, "/vectors") != 1)
            return "groups: " + lastError();
    }
    for (const Op& op : ops) {
        int rc = 1;
        const char* data = op.bytes.data();
        const auto size = static_cast<long long>(op.bytes.size());
        const auto count = static_cast<long long>(op.values.size());
        switch (op.kind) {
            case OpKind::CreateBlob:
                rc = QMXLcreateCompressedOpaqueData(file.id, "/objects", op.name.c_str(), 0, 4096,
                                                    size, data);
                break;
            case OpKind::UpdateBlob:
                rc = QMXLupdateOpaqueData(file.id, "/objects", op.name.c_str(), size, data);
                break;
            case OpKind::RemoveBlob:
                rc = QMXLremoveDataset(file.id, ("/objects/" + op.name).c_str());
                break;
            case OpKind::SetVersion: {
                Handle group{QMXLopenGroup(file.id, "/objects")};
                rc = group.id > 0 ? QMXLsetAttribute(group.id, "Version", &op.version) : -1;
                break;
            }
            case OpKind::CreateVector:
                rc = QMXLcreateTypedDataset(file.id, "/vectors", op.name.c_str(), 0, 1024, 0,
                                            QMXL_FLOAT64, count, op.values.data());
                break;
            case OpKind::UpdateVector:
                rc = QMXLupdateTypedDataset(file.id, "/vectors", op.name.c_str(), QMXL_FLOAT64,
                                            count, op.values.data());
                break;
            case OpKind::RevertedBlob:
                rc =
                    QMXLcreateCompressedOpaqueData(file.id, "/objects", "tmp", 6, 4096, size, data);
                if (rc == 1)
                    rc = QMXLremoveDataset(file.id, "/objects/tmp");
                break;
        }
        if (rc != 1)
            return "operation on " + op.name + ": " + lastError();
    }
    // The end of the lock transaction: commit, then close.
    if (QMXLcloseOpenedObjectsForFile(file.id) < 0 || QMXLflushMetadata(file.id) < 0)
        return "commit: " + lastError();
    const int id = file.id;
    file.id = -1;
    if (QMXLcloseAllFileHandlesForFile(id) < 0)
        return "close: " + lastError();
    return {};
}

std::string readState(const std::string& name, State& state) {
    state = State{};
    FileHandle file{QMXLopenFileReadOnly(name.c_str())};
    if (file.id <= 0)
        return "open: " + lastError();
    for (const char* group : {"/objects", "/vectors"}) {
        std::vector<std::string> members;
        {
            QMXLGroupListing list;
            if (QMXLlistGroup(file.id, group, &list.count, &list.names, &list.kinds) != 1)
                return std::string("list ") + group + ": " + lastError();
            members.assign(list.names, list.names + list.count);
        }
        for (const std::string& member : members) {
            if (group[1] == 'o') {
                long long size = 0;
                if (QMXLgetSizeOfOpaqueData(file.id, group, member.c_str(), &size) != 1)
                    return "blob size: " + lastError();
                std::string bytes(static_cast<size_t>(size), '\0');
                if (QMXLreadOpaqueData(file.id, group, member.c_str(), bytes.data()) != 1)
                    return "blob: " + lastError();
                state.blobs[member] = std::move(bytes);
            } else {
                long long count2 = 0;
                int type = 0;
                if (QMXLgetDatasetInfo(file.id, group, member.c_str(), &count2, &type) != 1)
                    return "vector info: " + lastError();
                std::vector<double> values(static_cast<size_t>(count2));
                if (QMXLreadTypedDataset(file.id, group, member.c_str(), QMXL_FLOAT64,
                                         values.data()) != 1)
                    return "vector: " + lastError();
                state.vectors[member] = std::move(values);
            }
        }
    }
    Handle group{QMXLopenGroup(file.id, "/objects")};
    if (group.id <= 0)
        return "open /objects: " + lastError();
    if (QMXLhasAttribute(group.id, "Version") == 1 &&
        QMXLreadAttribute(group.id, "Version", &state.version) != 1)
        return "Version: " + lastError();
    return {};
}

}  // namespace Quellmar::crashtest
