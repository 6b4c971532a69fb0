// Judging what a killed DAO writer left behind.
#include "DaoCheck.h"

#include <filesystem>
#include <fstream>

namespace Quellmar::crashtest::dao {

int loggedUnits(const std::string& log, std::string& why) {
    std::ifstream in(log);
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        if (in.eof())
            break;  // a line cut short by the kill does not count
        const std::string committed = std::to_string(count) + " committed";
        const std::string reverted = std::to_string(count) + " reverted";
        if (line != committed && line != reverted) {
            why = "log line " + std::to_string(count + 1) + " reads \"" + line + "\"";
            return -1;
        }
        ++count;
    }
    return count;
}

Verdict judge(const std::string& container, unsigned seed, int logged, int units,
              std::string& why, Plan plan) {
    namespace fs = std::filesystem;
    const State committed = stateAfter(seed, logged, plan);
    const State next = logged < units ? stateAfter(seed, logged + 1, plan) : committed;
    // Before the first unit's commit the container may be absent: its creation was undone.
    if (!fs::exists(container)) {
        why = "container missing";
        return logged == 0 ? Verdict::Exact : Verdict::DamagedLost;
    }
    State actual;
    const std::string error = readState(container, actual);
    if (!error.empty()) {
        // Opening rolled back a creation that never committed.
        if (logged == 0 && !fs::exists(container))
            return Verdict::Exact;
        why = error;
        return logged == 0 ? Verdict::Damaged : Verdict::DamagedLost;
    }
    if (actual == committed)
        return Verdict::Exact;
    if (actual == next)
        return Verdict::AheadOfLog;
    const std::vector<std::string> diff = differences(committed, actual);
    why.clear();
    for (size_t i = 0; i < diff.size() && i < 6; ++i)
        why += (i ? ", " : "") + diff[i];
    // Lost: an item that was committed and that the unit in flight leaves alone is not there
    // as it was.
    for (const auto& [key, value] : committed) {
        const auto n = next.find(key);
        const auto a = actual.find(key);
        if (n != next.end() && n->second == value && (a == actual.end() || a->second != value))
            return Verdict::DamagedLost;
    }
    return Verdict::Damaged;
}

}  // namespace Quellmar::crashtest::dao
