#ifndef QUELLMAR_QMXFILE_HEADERCHECK_H
#define QUELLMAR_QMXFILE_HEADERCHECK_H

#include "Format.h"
#include "Paths.h"

#include <hdf5.h>

#include <memory>
#include <optional>
#include <string>

namespace Quellmar::qmxfile {

class StoredFile;

// HDF5 decodes object headers and group indexes trusting what they say, and damaged ones have
// crashed it. So before HDF5 first reads an object in a session, the library checks the
// stored bytes itself: the object's header (ObjectHeader.h) and, for a group, its member index
// (GroupIndex.h). What was found sound is remembered per open file, by header address, so
// repeated reads pay one hash lookup. A read-write session checks only objects it has not
// touched: HDF5 reads those as stored, while the ones it created or changed may exist in its
// own cache only, and were made by HDF5 itself (or checked before their first change).

// The memory of one open file, shared by every open of the same HDF5 file in the process;
// the file library keeps it with the file's handle.
std::shared_ptr<void> headerChecksOf(hid_t file);

// Checks the object loc stands for and every object along path below it, each before HDF5
// resolves the next name. True when HDF5 may go on: the path is sound as far as it resolves
// (a missing name is for the caller to find). False with the reason on HDF5's error stack,
// "the stored object 'PATH' is damaged: WHAT".
bool checkPath(hid_t loc, const Path& path);
// The same, with the checks the file library keeps for loc's file (FileInfo::headerChecks):
// a path checked before in a read-only session then costs one lookup and no HDF5 call.
bool checkPath(hid_t loc, const Path& path, const std::shared_ptr<void>& fileChecks);
// checkPath for a relative path below loc, whose header address the caller keeps: 0 when not
// known yet, then filled in by the first call. A caller holding loc open across calls (the kept
// group) so saves asking HDF5 for it each time.
bool checkPathBelow(hid_t loc, std::uint64_t& locAddress, const Path& path,
                    const std::shared_ptr<void>& fileChecks);
// What a read-only session verified of the item at `path` below the root (its attributes, its
// slice checksums), for the item layer to read back: kept with the memory, so later read-only
// sessions of the unchanged file need not verify it again. A session that can write forgets
// it all: its changes would make it stale. Null when nothing is known.
std::shared_ptr<const void> recalledItem(const std::shared_ptr<void>& fileChecks,
                                         const std::string& path);
void rememberItem(const std::shared_ptr<void>& fileChecks, const std::string& path,
                  std::shared_ptr<const void> what);

// Whether the root carries the container marker, as an earlier session of the unchanged file
// found it. Writers keep it too: only a write of the marker attribute itself changes the answer,
// and that write forgets it (forgetMarker).
std::optional<bool> recalledMarker(const std::shared_ptr<void>& fileChecks);
void rememberMarker(const std::shared_ptr<void>& fileChecks, bool marked);
void forgetMarker(const std::shared_ptr<void>& fileChecks);
// The same for the checksum marker ("QMZ_CHECKSUMS"): what checksumsOf found in an earlier
// session of the unchanged file, until the marker is written. Forgetting it also makes this
// thread's checksumsOf read it again.
std::optional<Checksums> recalledChecksums(const std::shared_ptr<void>& fileChecks);
void rememberChecksums(const std::shared_ptr<void>& fileChecks, Checksums found);
void forgetChecksums(const std::shared_ptr<void>& fileChecks);

// The bytes of the file object lives in when that file is open read-only, as its checks found
// them at the open (StoredFile.h): nobody changes such a file, and HDF5 holds no data of its own
// that the file lacks. Nothing for a file open for writing or one this library cannot read.
std::optional<StoredFile> readOnlyFileOf(hid_t object);
// The object behind an open identifier (the root group of a file identifier).
bool checkOpenObject(hid_t object);
// Every object below a group, before an operation that visits them all (removal, copy).
bool checkTree(hid_t group);

// An object HDF5 has just created in this session: its header is HDF5's own.
void trustNewObject(hid_t object);

}  // namespace Quellmar::qmxfile

#endif
