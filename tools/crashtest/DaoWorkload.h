#ifndef QUELLMAR_CRASHTEST_DAOWORKLOAD_H
#define QUELLMAR_CRASHTEST_DAOWORKLOAD_H

// The units of work a host would run on one container through the DAO factory, the transaction
// stack and the blob, design, vector and array DAOs, and what the container holds after each.
// Writer and checker derive both from the seed and the unit's index alone.
//
// Unit 0 creates the container. Some later units create things and are then reverted: they
// must leave no trace. Every other unit commits.
//
// Two plans share unit 0: the mixed one (every kind of item created, updated, removed) and the
// appending one, whose units append to vectors and add rows to arrays, small pieces and now
// and then megabytes, and whose reverted units append and are then taken back.

#include <map>
#include <string>
#include <vector>

namespace Quellmar::crashtest::dao {

// What a container holds, flattened to "kind/name" -> value, so that two states compare and
// differ item by item: "blob/b3" -> bytes, "vector/v1" -> the doubles' bytes, "array/a0" ->
// "ROWSxCOLS:" + the doubles' bytes, "design/model" -> bytes, "attr/objects/Id" -> text...
using State = std::map<std::string, std::string>;

enum class OpKind {
    CreateGroups,  // the object group and /Design, with every bookkeeping attribute
    PutBlob,       // create or update, whichever the state asks for
    RemoveBlob,
    PutVector,  // create or update
    PutArray,   // create or update, the shape may change
    PutDesign,  // create or update the design object
    RemoveDesign,
    SetAttribute,    // one bookkeeping attribute of the object group or /Design
    CreateTemporary,  // a blob, array or design object that the unit's revert takes back
    AppendVector,     // doubles added to the end of an existing vector
    AppendRows        // rows added below an existing array ("Rows" grows)
};

enum class Plan { Mixed, Appends };

struct Op {
    OpKind kind;
    std::string key;      // the state item the operation writes
    std::string value;    // its new value, as State holds it (appends: what is added)
    bool create = false;  // Put*: the item is new, so the DAO's create is the call
};

struct Unit {
    int index = 0;
    bool reverted = false;
    bool noFlush = false;  // runs under a DisableFlushingTransaction
    std::vector<Op> ops;
};

// The unit of the given index (0-based), given the state before it.
Unit planUnit(unsigned seed, int index, const State& before, Plan plan = Plan::Mixed);
// The state a unit leaves behind; a reverted unit leaves the state as it found it.
void applyUnit(const Unit& unit, State& state);
// The state after units 0 .. count-1.
State stateAfter(unsigned seed, int count, Plan plan = Plan::Mixed);

// Runs one unit on the container through the factory and the DAOs, then commits or reverts
// its stack. Empty on success, else what failed.
std::string runUnit(const std::string& container, const Unit& unit);

// Reads everything the workload can have written, through a read-only factory and the DAOs.
// Empty on success, else why the container could not be read.
std::string readState(const std::string& container, State& state);

// Items of `actual` that differ from `expected` (missing, extra or changed), for messages.
std::vector<std::string> differences(const State& expected, const State& actual);

}  // namespace Quellmar::crashtest::dao

#endif
