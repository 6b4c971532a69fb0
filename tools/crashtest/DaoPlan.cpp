// The DAO workload's units and the states they lead to: pure computation, no file access.
#include "DaoWorkload.h"

#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <utility>

namespace Quellmar::crashtest::dao {
namespace {

constexpr int kBlobs = 6;
constexpr int kVectors = 4;
constexpr int kArrays = 3;
constexpr int kTemporaryBlobs = 3;
constexpr int kTemporaryArrays = 2;

// Every bookkeeping attribute the workload keeps, as state keys.
const char* const kAttributes[] = {
    "attr/objects/Id",      "attr/objects/Chain",  "attr/objects/MaxId", "attr/objects/Created",
    "attr/objects/Version", "attr/design/Version", "attr/design/Id"};

std::string randomBytes(std::mt19937& rng, size_t largest) {
    // Mostly small, now and then many pages, so that updates move data around in the file.
    const size_t size = rng() % 8 == 0 ? 20000 + rng() % 60000 : 1 + rng() % largest;
    std::string s(size, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng());
    return s;
}

std::string doubles(std::mt19937& rng, size_t count) {
    std::vector<double> v(count);
    for (auto& x : v)
        x = static_cast<double>(rng()) / 7.0 - 1e8;
    std::string s(count * sizeof(double), '\0');
    std::memcpy(s.data(), v.data(), s.size());
    return s;
}

std::string arrayValue(std::mt19937& rng) {
    const size_t rows = 1 + rng() % 40, cols = 1 + rng() % 40;
    return std::to_string(rows) + "x" + std::to_string(cols) + ":" + doubles(rng, rows * cols);
}

std::string attributeValue(std::mt19937& rng, const std::string& key) {
    if (key.ends_with("/Version"))
        return std::to_string(static_cast<int>(rng() % 100000) - 50000);
    if (key.ends_with("/MaxId"))
        return std::to_string((static_cast<unsigned long long>(rng()) << 32) | rng()) + ":" +
               std::to_string(rng() % 65536);
    // Texts of varying length, so that attribute messages grow and shrink.
    std::string s = key.substr(key.rfind('/') + 1) + "-";
    const size_t length = rng() % 300;
    for (size_t i = 0; i < length; ++i)
        s += static_cast<char>('a' + rng() % 26);
    return s;
}

Op put(const State& state, std::string key, std::string value) {
    Op op{OpKind::PutBlob, std::move(key), std::move(value)};
    op.create = state.count(op.key) == 0;
    return op;
}

// One operation of a committing unit.
Op plainOp(std::mt19937& rng, const State& state) {
    switch (rng() % 9) {
        case 0:
        case 1:
        case 2: {
            const std::string key = "blob/b" + std::to_string(rng() % kBlobs);
            if (state.count(key) && rng() % 3 == 0)
                return {OpKind::RemoveBlob, key, {}};
            return put(state, key, randomBytes(rng, 3000));
        }
        case 3:
        case 4: {
            Op op = put(state, "vector/v" + std::to_string(rng() % kVectors),
                        doubles(rng, 1 + rng() % 2000));
            op.kind = OpKind::PutVector;
            return op;
        }
        case 5: {
            Op op = put(state, "array/a" + std::to_string(rng() % kArrays), arrayValue(rng));
            op.kind = OpKind::PutArray;
            return op;
        }
        case 6: {
            if (state.count("design/model") && rng() % 4 == 0)
                return {OpKind::RemoveDesign, "design/model", {}};
            Op op = put(state, "design/model", randomBytes(rng, 5000));
            op.kind = OpKind::PutDesign;
            return op;
        }
        default: {
            const std::string key = kAttributes[rng() % std::size(kAttributes)];
            return {OpKind::SetAttribute, key, attributeValue(rng, key)};
        }
    }
}

// One creation that the unit's revert takes back.
Op temporaryOp(std::mt19937& rng, const State& state, const std::vector<Op>& earlier) {
    auto taken = [&](const std::string& key) {
        if (state.count(key))
            return true;
        for (const Op& op : earlier)
            if (op.key == key)
                return true;
        return false;
    };
    for (;;) {
        std::string key;
        std::string value;
        switch (rng() % 3) {
            case 0:
                key = "blob/t" + std::to_string(rng() % kTemporaryBlobs);
                value = randomBytes(rng, 3000);
                break;
            case 1:
                key = "array/t" + std::to_string(rng() % kTemporaryArrays);
                value = arrayValue(rng);
                break;
            default:
                key = "design/model";
                value = randomBytes(rng, 5000);
                break;
        }
        // Only what does not exist yet: a revert takes back creations, nothing else.
        if (!taken(key))
            return {OpKind::CreateTemporary, key, value, true};
    }
}

// Rows and columns of an array value "ROWSxCOLS:bytes".
std::pair<size_t, size_t> shapeOf(const std::string& value) {
    const size_t x = value.find('x');
    return {std::stoul(value.substr(0, x)), std::stoul(value.substr(x + 1))};
}

// Mostly small appends, now and then one of megabytes, so that appends cross the stored
// slices and the first append of an item moves it to its extendible layout mid-run.
size_t appendedCount(std::mt19937& rng) {
    return rng() % 6 == 0 ? 100000 + rng() % 150000 : 1 + rng() % 3000;
}

// One append to an item of `state` (which always holds vector/v0 and array/a0 after unit 0).
// With `mayCreate` a missing vector is created instead; a reverted unit may not: a revert takes
// back appends, but leaves typed vectors it created in place.
Op appendOp(std::mt19937& rng, const State& state, bool mayCreate) {
    if (rng() % 3 == 0) {
        const std::string key = "array/a" + std::to_string(rng() % kArrays);
        const auto found = state.find(key);
        if (found != state.end()) {
            const size_t cols = shapeOf(found->second).second;
            const size_t rows = 1 + appendedCount(rng) / cols;
            return {OpKind::AppendRows, key, doubles(rng, rows * cols)};
        }
    }
    std::string key = "vector/v" + std::to_string(rng() % kVectors);
    if (state.count(key) == 0 && !mayCreate)
        key = "vector/v0";
    if (state.count(key) == 0) {
        Op op = put(state, key, doubles(rng, 1 + rng() % 2000));
        op.kind = OpKind::PutVector;
        return op;
    }
    return {OpKind::AppendVector, key, doubles(rng, appendedCount(rng))};
}

}  // namespace

Unit planUnit(unsigned seed, int index, const State& before, Plan plan) {
    std::mt19937 rng(seed * 1000003u + static_cast<unsigned>(index));
    Unit unit;
    unit.index = index;
    unit.noFlush = rng() % 4 == 0;
    State state = before;
    auto add = [&](Op op) {
        Unit one;
        one.ops.push_back(op);
        applyUnit(one, state);
        unit.ops.push_back(std::move(op));
    };
    if (index == 0) {
        // The unit that creates the container: both groups and all their attributes.
        add({OpKind::CreateGroups, {}, {}});
        for (const char* key : kAttributes)
            add({OpKind::SetAttribute, key, attributeValue(rng, key)});
        add(put(state, "blob/b0", randomBytes(rng, 3000)));
        Op vector = put(state, "vector/v0", doubles(rng, 1 + rng() % 2000));
        vector.kind = OpKind::PutVector;
        add(vector);
        Op array = put(state, "array/a0", arrayValue(rng));
        array.kind = OpKind::PutArray;
        add(array);
    } else if (plan == Plan::Appends) {
        // Appends in both kinds of unit: a revert must take them back whole.
        unit.reverted = rng() % 5 == 0;
        const int count = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < count; ++i)
            add(appendOp(rng, state, !unit.reverted));
        if (unit.reverted)
            return unit;
    } else if (rng() % 5 == 0) {
        unit.reverted = true;
        const int count = 1 + static_cast<int>(rng() % 3);
        for (int i = 0; i < count; ++i)
            unit.ops.push_back(temporaryOp(rng, before, unit.ops));
        return unit;
    } else {
        const int count = 1 + static_cast<int>(rng() % 5);
        for (int i = 0; i < count; ++i)
            add(plainOp(rng, state));
    }
    // Every committed unit stamps the group, so no two committed states look alike.
    add({OpKind::SetAttribute, "attr/objects/Modified", "unit " + std::to_string(index)});
    return unit;
}

void applyUnit(const Unit& unit, State& state) {
    if (unit.reverted)
        return;
    for (const Op& op : unit.ops) {
        switch (op.kind) {
            case OpKind::CreateGroups:
                state["attr/objects/Version"] = "1";
                state["attr/design/Version"] = "1";
                break;
            case OpKind::RemoveBlob:
            case OpKind::RemoveDesign:
                state.erase(op.key);
                break;
            case OpKind::CreateTemporary:
                break;
            case OpKind::AppendVector:
                state[op.key] += op.value;
                break;
            case OpKind::AppendRows: {
                std::string& value = state[op.key];
                const auto [rows, cols] = shapeOf(value);
                const size_t added = op.value.size() / sizeof(double) / cols;
                value = std::to_string(rows + added) + "x" + std::to_string(cols) +
                        value.substr(value.find(':')) + op.value;
                break;
            }
            default:
                state[op.key] = op.value;
                break;
        }
    }
}

State stateAfter(unsigned seed, int count, Plan plan) {
    State state;
    for (int i = 0; i < count; ++i)
        applyUnit(planUnit(seed, i, state, plan), state);
    return state;
}

std::vector<std::string> differences(const State& expected, const State& actual) {
    std::vector<std::string> out;
    for (const auto& [key, value] : expected) {
        const auto found = actual.find(key);
        if (found == actual.end())
            out.push_back(key + " missing");
        else if (found->second != value)
            out.push_back(key + " differs");
    }
    for (const auto& [key, value] : actual)
        if (!expected.count(key))
            out.push_back(key + " should not be there");
    return out;
}

}  // namespace Quellmar::crashtest::dao
