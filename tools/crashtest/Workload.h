#ifndef QUELLMAR_CRASHTEST_WORKLOAD_H
#define QUELLMAR_CRASHTEST_WORKLOAD_H

// The transactions the crash writer runs, and what the container must hold after each of
// them. The writer and the checker derive both from the same seed, so the checker knows the
// exact content of every committed state without reading any log but the list of commits.

#include <map>
#include <string>
#include <vector>

namespace Quellmar::crashtest {

// Everything the writer puts in a container.
struct State {
    std::map<std::string, std::string> blobs;            // /objects/<name>
    std::map<std::string, std::vector<double>> vectors;  // /vectors/<name>
    int version = -1;                                    // "Version" on /objects, -1: none
    bool operator==(const State&) const = default;
};

enum class OpKind {
    CreateBlob,
    UpdateBlob,
    RemoveBlob,
    SetVersion,
    CreateVector,
    UpdateVector,
    RevertedBlob
};

struct Op {
    OpKind kind;
    std::string name;
    std::string bytes;           // blobs
    std::vector<double> values;  // vectors
    int version = 0;
};

// The operations of transaction number (1-based) given the state before it.
std::vector<Op> planTransaction(unsigned seed, int number, const State& before);
void applyOps(const std::vector<Op>& ops, State& state);
// The state after the first count transactions.
State stateAfter(unsigned seed, int count);

// Runs one transaction through the file library on a container, creating it for the first.
// Empty on success, else what failed.
std::string runTransaction(const std::string& file, int number, const std::vector<Op>& ops);

// Reads what a container holds. Empty on success, else why it could not be read.
std::string readState(const std::string& file, State& state);

}  // namespace Quellmar::crashtest

#endif
