#ifndef QUELLMAR_QMXFILE_GROUPINDEX_H
#define QUELLMAR_QMXFILE_GROUPINDEX_H

#include "HeaderMessages.h"

#include <hdf5.h>

#include <cstdint>
#include <string>
#include <unordered_map>

namespace Quellmar::qmxfile {

// The members of a version-1 group (the kind this library writes) are listed by a B-tree of
// symbol-table nodes whose names live in the group's local heap. None of these carries a
// checksum, and HDF5 trusts what it finds: a zeroed member count in a node makes it list the
// group short, without an error. This reads the stored structure and checks what HDF5 keeps
// true of it whenever it writes one:
// - every node of the tree has the expected kind and level, and is reached once;
// - every symbol-table node holds between one and the file's maximum of members;
// - member names are in strictly increasing order across the whole group;
// - the key right of each symbol-table node names its last member (HDF5 moves the key
//   whenever the last member of a node changes);
// - no name is listed twice.
// Returns what is wrong (or that it could not be read), an empty what when the index holds
// together. Groups of other kinds
// (links in the object header, dense storage), files with a user block and files not stored
// through a POSIX descriptor are not looked at. The bytes are read as stored, so the file must
// be open read-only: a writer's changes may not have reached the disk yet.
Damage groupIndexProblem(hid_t group);

// The same check on a group's symbol table as its header gives it; throws Damage.
// With members given, also answers each member's name and header address (none for a soft link).
void checkMemberIndex(const StoredFile& file, const SymbolTable& table,
                      std::unordered_map<std::string, std::uint64_t>* members = nullptr);

}  // namespace Quellmar::qmxfile

#endif
