#ifndef QUELLMAR_QMXFILE_OBJECTHEADER_H
#define QUELLMAR_QMXFILE_OBJECTHEADER_H

#include "HeaderMessages.h"

namespace Quellmar::qmxfile {

// Checks the stored header of the object at an address, as HDF5 would load it, before HDF5
// does: the prefix (version 1, or version 2 with its "OHDR" signature), every block it
// continues into (inside the file, reached once, "OCHK" blocks for version 2), every message
// inside its block, and each message body (see HeaderMessages.h). A compact dataset's stored
// data must be exactly its shape times its element size, and the chunk index of a chunked
// dataset (version-1 B-tree) must hold together with every chunk inside the file. Throws
// Damage; answers what the header says. Headers of shared messages are checked through
// sharedHeader.
HeaderFacts checkObjectHeader(const StoredFile& file, std::uint64_t address,
                              const SharedHeaderCheck& sharedHeader);

// checkObjectHeader with the headers its shared messages point to checked the same way (a
// committed datatype; at most eight deep).
HeaderFacts checkObjectHeaderAndShared(const StoredFile& file, std::uint64_t address);

// The chunk index of a chunked dataset: a version-1 B-tree of chunk addresses, each chunk
// inside the file, every node reached once and at its level.
void checkChunkIndex(const StoredFile& file, std::uint64_t address, unsigned rank);

}  // namespace Quellmar::qmxfile

#endif
