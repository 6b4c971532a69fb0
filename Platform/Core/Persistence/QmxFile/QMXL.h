/**
 * @file
 * QMXL: the container file library.
 *
 * A plain C interface over the HDF5 C library. Files and the objects inside them are named by
 * int handles from one process-wide table: valid handles are > 0, -1 means none, and a handle
 * value is never reused within a process. Every handle is reference counted
 * (QMXLcopyHandle adds one reference, QMXLcloseObject drops one; the HDF5 object closes when
 * the count reaches zero) and remembers the file it belongs to.
 *
 * Results are int: negative is a failure (QMXLgetLastErrorMessage then explains it), predicates
 * answer 1 for yes and 0 for no. Names are NUL-terminated 8-bit strings. Paths may carry
 * doubled separators ("//a"), trailing separators ("//a/b/") and "." components ("/Design/.");
 * they address the group they mean.
 *
 * Memory handed out through out-parameters goes back through QMXLreleaseString (a string),
 * QMXLreleaseStrings + QMXLreleaseArray (a string list) or QMXLreleaseArray alone (any other
 * array); the one exception is QMXLgetStringAttribute, whose text is malloc'ed and freed by the
 * caller with free().
 *
 * Every function may be called from any thread.
 */
#ifndef QMXL_H
#define QMXL_H

#include "QMXLExport.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Element type codes of typed datasets (VarDataType). */
enum VarDataType {
    QMXL_AS_STORED = -1, /**< read: the stored type; refused on create */
    QMXL_INT32 = 0,
    QMXL_UINT32 = 1,
    QMXL_FLOAT32 = 2,
    QMXL_FLOAT64 = 3,
    QMXL_LONG_DOUBLE = 4, /**< stored by the file library, unknown to the vector DAO */
    QMXL_INT16 = 5,
    QMXL_INT64 = 7,
    QMXL_UINT64 = 8,
    QMXL_UINT16 = 15,
    QMXL_UINT8 = 16, /**< one byte wide */
    QMXL_INT8 = 20
};

/** Kinds reported by QMXLlistGroup. */
enum QMXLObjectKind {
    QMXL_KIND_UNKNOWN = 0,
    QMXL_KIND_GROUP = 1,        /**< plain group */
    QMXL_KIND_OBJECT_GROUP = 2, /**< opaque-data (object) group */
    QMXL_KIND_OPAQUE = 3,       /**< opaque data item (blob) */
    QMXL_KIND_STRING = 4,       /**< string dataset */
    QMXL_KIND_TYPED = 5,        /**< typed dataset */
    QMXL_KIND_COMPOUND = 6      /**< dataset of a compound type */
};

/** @name Files */
/** @{ */
QMXL_API int QMXLcreateFile(const char* name);       /**< new QMZ container, open read-write */
QMXL_API int QMXLopenFile(const char* name);         /**< any HDF5 file, read-write */
QMXL_API int QMXLopenFileReadOnly(const char* name); /**< any HDF5 file, read-only */
QMXL_API int QMXLcloseFile(int file);                /**< drops the file handle's reference */
QMXL_API int QMXLcreateNativeHDF5(const char* name); /**< new plain HDF5 file, no marker */
/** Opens a plain HDF5 file read-write; no container marker is needed. A file handle. */
QMXL_API int QMXLopenNativeHDF5(const char* name);
/** Opens a plain HDF5 file read-only. A file handle. */
QMXL_API int QMXLopenNativeHDF5ReadOnly(const char* name);
QMXL_API int QMXLisQMZFileNoLock(
    int file);                             /**< 1: marked container or native entry point; 0: not */
QMXL_API int QMXLisFileReadOnly(int file); /**< 1 read-only, 0 writable */
QMXL_API int QMXLgetFileName(int file,
                             char** name); /**< name as given at open; QMXLreleaseString */
QMXL_API int QMXLcloseOpenedObjectsForFile(int file); /**< closes every object handle of the file */
QMXL_API int QMXLcloseAllFileHandlesForFile(int file); /**< closes every file handle of the file */
/** Writes the file's metadata out (skipped while flushing is switched off, QMXLsetflush);
 * 1, negative on failure. */
QMXL_API int QMXLflushMetadata(int file);
/** Makes everything written to the file so far durable now, also while other opens of it in this
 * process keep it open (closing commits only with the last one): flushes the metadata and
 * commits the journal; the file stays open. 1, also for a read-only file; -1 with the reason.
 * QMXLcloseFile and QMXLcloseAllFileHandlesForFile answer -1 when the file closed but its
 * changes could not be committed (they are rolled back at the next open). */
QMXL_API int QMXLcommitFile(int file);
/** How many opens of the same file this process holds, this one included. */
QMXL_API int QMXLgetFileOpenCount(int file);
QMXL_API int QMXLdeflate(const char* name,
                         int percent); /**< compacts a closed file; -1 on failure */
QMXL_API int QMXLgetSkipCleanup(void); /**< 1 while the process is exiting */
/** Tells the library a client is starting: 1, or negative while the process is exiting. */
QMXL_API int QMXLregister(void);
QMXL_API int QMXLsetflush(int on); /**< process-wide; 0 skips flushes */

/** @} */
/** @name Compressors */
/** @{ */
/** What compresses a dataset created with a compression level of 1 to 9 (level 0 stays
 * uncompressed). Deflate, with byte shuffling, is the default. The others are HDF5 filter
 * plugins: Blosc (id 32001) with LZ4 or Zstandard and byte shuffling, LZ4 (id 32004) after
 * HDF5's shuffle; LZ4 has no levels, Blosc takes the level as its own. An item keeps its
 * compressor when an update rewrites it. */
enum QMXLCompressor {
    QMXL_COMPRESSOR_FOLLOW = -1, /**< thread choice only: follow the process's */
    QMXL_DEFLATE = 0,            /**< byte shuffle + deflate (the default) */
    QMXL_BLOSC_LZ4 = 1,          /**< Blosc plugin: byte shuffle + LZ4 */
    QMXL_BLOSC_ZSTD = 2,         /**< Blosc plugin: byte shuffle + Zstandard */
    QMXL_LZ4 = 3                 /**< HDF5 shuffle + the LZ4 plugin */
};
/** The process's compressor, for every thread that chose none: 1, or -1 for an unknown one. */
QMXL_API int QMXLsetCompressor(int compressor);
QMXL_API int QMXLgetCompressor(void); /**< the process's compressor */
/** The calling thread's own choice, over the process's (QMXL_COMPRESSOR_FOLLOW drops it);
 * `previous`, when not null, receives the choice it replaces. 1, or -1 for an unknown one. */
QMXL_API int QMXLsetThreadCompressor(int compressor, int* previous);
/** 1 when the compressor's plugin can be loaded, 0 when not (the last error message names the
 * plugin), -1 for an unknown compressor. Creating a dataset with a compressor whose plugin is
 * missing fails with that message, as does reading or rewriting a dataset that needs one. */
QMXL_API int QMXLcompressorAvailable(int compressor);
/** How the dataset group/name is stored: its compressor, or QMXL_COMPRESSOR_FOLLOW when its data
 * are stored uncompressed (a small item that asked for compression keeps only its level and
 * takes the compressor chosen when an update makes it large), and its level. 1 on success. */
QMXL_API int QMXLgetDatasetCompression(int file, const char* group, const char* name,
                                       int* compressor, int* level);

/** @} */
/** @name Versions */
/** @{ */
/** The format version the file carries; negative when it carries none or it cannot be read. */
QMXL_API int QMXLgetQMVersionOfFile(int file, int* version);
/** The format version this library writes for the file (by its name, see
 * QMXLassignCurrentQMFileVersionForExtensions); 1. */
QMXL_API int QMXLgetQMVersionOfLibraryByFileHandle(int file, int* version);
/** Writes `version` (>= 1) as the file's format version; refused for a native or read-only
 * file. */
QMXL_API int QMXLupdateQMVersionOfFile(int file, int version);
/** From now on files whose name `predicate` accepts (non-zero) are written with format
 * version `version` (>= 1). */
QMXL_API int QMXLassignCurrentQMFileVersionForExtensions(int version,
                                                         int (*predicate)(const char* name));

/** @} */
/** @name Groups */
/** @{ */
QMXL_API int QMXLopenGroup(int loc, const char* path); /**< handle */
/** Drops one reference of a group handle, as QMXLcloseObject. */
QMXL_API int QMXLcloseGroup(int group);
QMXL_API int QMXLcreatePathToGroup(int file, const char* path);   /**< 1; creates missing groups */
QMXL_API int QMXLremoveGroup(int file, const char* path);         /**< >= 0 on success */
QMXL_API int QMXLopenOpaqueDataGroup(int file, const char* path); /**< handle of an object group */
QMXL_API int QMXLcreateOpaqueDataGroup(int file, const char* path); /**< handle of the new group */
QMXL_API int QMXLexistsOpaqueDataGroup(int file, const char* path); /**< 1 / 0 */

/** @} */
/** @name Datasets */
/** @{ */
QMXL_API int QMXLopenDataset(int file, const char* path); /**< handle */
QMXL_API int QMXLexistsDataset(
    int file, const char* path); /**< 1 / 0 (also when a group on the way is missing) */
QMXL_API int QMXLremoveDataset(int loc, const char* path); /**< 1 on success */
/** The bytes of the stored elements of dataset `group`/`name`. */
QMXL_API int QMXLgetSizeOfDataset(int file, const char* group, const char* name, long long* bytes);
/** Element count and element type code (VarDataType, -1 for a type without one) of a
 * dataset. */
QMXL_API int QMXLgetDatasetInfo(int file, const char* group, const char* name, long long* count,
                                int* type);
/** Creates dataset `group`/`name` of `count` elements of type `type` (not QMXL_AS_STORED)
 * from `data`; `compression` is the deflate level, `chunk` the chunking hint, `fixed` is not
 * used. An existing item of that name is refused. */
QMXL_API int QMXLcreateTypedDataset(int file, const char* group, const char* name, int compression,
                                    long long chunk, int fixed, int type, long long count,
                                    const void* data);
/** Replaces the elements of an existing typed dataset with `count` elements of `type`. */
QMXL_API int QMXLupdateTypedDataset(int file, const char* group, const char* name, int type,
                                    long long count, const void* data);
/** Reads every element, converted to `type` (QMXL_AS_STORED: as stored), into `data`. */
QMXL_API int QMXLreadTypedDataset(int file, const char* group, const char* name, int type,
                                  void* data);
/** As QMXLcreateTypedDataset, with elements of the compound datatype handle `datatype`. */
QMXL_API int QMXLcreateObjectDataset(int file, const char* group, const char* name, int compression,
                                     long long chunk, int fixed, int datatype, int flag,
                                     long long count, const void* data);
/** Replaces the records of an existing compound dataset, laid out as `datatype`. */
QMXL_API int QMXLupdateObjectDataset(int file, const char* group, const char* name, int datatype,
                                     long long count, const void* data);
/** Reads every record, converted to the layout of `datatype`, into `data`. */
QMXL_API int QMXLreadObjectDataset(int file, const char* group, const char* name, int datatype,
                                   void* data);

/** @} */
/** @name Large datasets: layouts, range reads, appends */
/** @{ */
/** Layouts QMXLgetDatasetLayout reports. */
#define QMXL_LAYOUT_COMPACT 0
/** Stored in one block of the file. */
#define QMXL_LAYOUT_CONTIGUOUS 1
/** Chunked with a fixed size (compressed items). */
#define QMXL_LAYOUT_CHUNKED 2
/** Chunked with an unlimited maximum size: an item that was appended to. */
#define QMXL_LAYOUT_EXTENDIBLE 3
/** The layout (QMXL_LAYOUT_*) of the dataset group/name and, for a chunked one, its elements
 * per chunk (0 otherwise). 1, or -1. */
QMXL_API int QMXLgetDatasetLayout(int file, const char* group, const char* name, int* layout,
                                  long long* chunk);
/** Elements [first, first + count) of a typed dataset converted to `type` (QMXL_AS_STORED: the
 * native form of the stored type) into `data`, count elements of that memory type. Reads and
 * verifies only the stored slices the range touches (an item with one checksum over all its
 * elements is verified whole). count 0 reads nothing (first may then equal the element count).
 * A negative first or count, or a range past the end, fails with a message naming the item,
 * the range and the element count. On any failure `data` (count elements) is zeroed. 1, or
 * -1. */
QMXL_API int QMXLreadTypedDatasetRange(int file, const char* group, const char* name, int type,
                                       long long first, long long count, void* data);
/** As QMXLreadTypedDatasetRange, for records of a compound datatype made by
 * QMXLcreateCompoundType (members matched by name, as QMXLreadObjectDataset). */
QMXL_API int QMXLreadObjectDatasetRange(int file, const char* group, const char* name,
                                        int datatype, long long first, long long count,
                                        void* data);
/** Appends `count` elements given as `type` to an existing typed dataset, converted to its
 * stored type as updates convert. The first append moves the item once to an extendible
 * chunked layout (keeping its attributes, element type and compressor); every later append
 * writes only the new elements and the checksums they change. A dataset of another kind
 * (opaque data, string, compound) fails. count 0 changes nothing. 1, or -1 (nothing
 * changed). */
QMXL_API int QMXLappendTypedDataset(int file, const char* group, const char* name, int type,
                                    long long count, const void* data);
/** As QMXLappendTypedDataset, for records of a compound datatype; a record type that lacks a
 * stored member fails (the new records would have undefined members), as does a typed
 * dataset. */
QMXL_API int QMXLappendObjectDataset(int file, const char* group, const char* name, int datatype,
                                     long long count, const void* data);
/** Shortens a dataset to its first `count` elements (how a revert undoes appends), with its
 * checksums brought to the new length. A count above the current one, or negative, fails.
 * 1, or -1. */
QMXL_API int QMXLtruncateDataset(int file, const char* group, const char* name, long long count);

/** @} */
/** @name Opaque data items and string datasets (sizes in bytes) */
/** @{ */
/** Creates the opaque data item `group`/`name` from `size` bytes; an existing item of that
 * name is refused. */
QMXL_API int QMXLcreateCompressedOpaqueData(int file, const char* group, const char* name,
                                            int compression, int chunk, long long size,
                                            const char* data);
/** Replaces the bytes of an existing opaque data item. */
QMXL_API int QMXLupdateOpaqueData(int file, const char* group, const char* name, long long size,
                                  const char* data);
/** Reads the bytes of an opaque data item into `buffer` (QMXLgetSizeOfOpaqueData bytes). */
QMXL_API int QMXLreadOpaqueData(int file, const char* group, const char* name, char* buffer);
/** The size in bytes of an opaque data item. */
QMXL_API int QMXLgetSizeOfOpaqueData(int file, const char* group, const char* name,
                                     long long* size);
/** Creates the string dataset `group`/`name` from `size` bytes, stored as they are. */
QMXL_API int QMXLcreateCompressedStringDataset(int file, const char* group, const char* name,
                                               int compression, int chunk, long long size,
                                               const char* data);
/** Replaces the bytes of an existing string dataset. */
QMXL_API int QMXLupdateStringDataset(int file, const char* group, const char* name, long long size,
                                     const char* data);
/** Reads the bytes of a string dataset into `buffer` (QMXLgetSizeOfStringDataset bytes). */
QMXL_API int QMXLreadStringDataset(int file, const char* group, const char* name, char* buffer);
/** The size in bytes of a string dataset. */
QMXL_API int QMXLgetSizeOfStringDataset(int file, const char* group, const char* name,
                                        long long* size);

/** @} */
/** @name Attributes (on any group or dataset handle) */
/** @{ */
QMXL_API int QMXLhasAttribute(int object, const char* name); /**< 1 / 0 */
/** Creates an integer attribute; refused when it exists. */
QMXL_API int QMXLcreateAttribute(int object, const char* name, const int* value);
/** Replaces an existing integer attribute; refused when it does not exist. */
QMXL_API int QMXLupdateAttribute(int object, const char* name, const int* value);
QMXL_API int QMXLsetAttribute(int object, const char* name,
                              const int* value);                          /**< create or replace */
QMXL_API int QMXLreadAttribute(int object, const char* name, int* value); /**< 1 on success */
/** Creates a 64-bit unsigned attribute; refused when it exists. */
QMXL_API int QMXLcreateUInt64Attribute(int object, const char* name,
                                       const unsigned long long* value);
/** Replaces an existing 64-bit unsigned attribute. */
QMXL_API int QMXLupdateUInt64Attribute(int object, const char* name,
                                       const unsigned long long* value);
/** Reads a 64-bit unsigned attribute; 1 on success. */
QMXL_API int QMXLreadUInt64Attribute(int object, const char* name, unsigned long long* value);
/** Creates or replaces a string attribute. */
QMXL_API int QMXLsetStringAttribute(int object, const char* name, const char* value);
QMXL_API int QMXLgetStringAttribute(int object, const char* name,
                                    char** value); /**< malloc'ed: free() */

/** @} */
/** @name Compound datatypes (belong to no file) */
/** @{ */
QMXL_API int QMXLcreateCompoundType(int reserved, unsigned long long size,
                                    int flags); /**< handle */
/** Adds a member of element type `memberType` at byte `offset` to a compound datatype. */
QMXL_API int QMXLaddField(int type, const char* name, unsigned long long offset, int memberType);
/** Adds an array member of `count` elements of `memberType` at byte `offset`. */
QMXL_API int QMXLaddArray(int type, const char* name, unsigned long long offset, int memberType,
                          unsigned long long count);

/** @} */
/** @name Handles */
/** @{ */
/** Drops one reference of a handle; the object closes with the last one. */
QMXL_API int QMXLcloseObject(int handle);
QMXL_API int QMXLcopyHandle(int handle); /**< the same handle value, one more reference */
/** 1 when `handle` is a live handle, 0 when not. */
QMXL_API int QMXLisValid(int handle);
/** 1 when `handle` is a live group handle, 0 when not. */
QMXL_API int QMXLisValidGroup(int handle);

/** @} */
/** @name Errors */
/** @{ */
/** Calls `callback` with each entry of the calling thread's last error stack, oldest first;
 * the number of entries. */
QMXL_API int QMXLwalkErrorStack(void* context, void (*callback)(const char* text, void* context));
QMXL_API int QMXLgetLastErrorMessage(
    char** message); /**< null when there is none; QMXLreleaseString */
/** What the calling thread's last failure was (QMXLFailureKind): "missing" when nothing is
 * stored under the name asked for or a group on its path does not exist, "other kind" when
 * something of another kind is (a group where a dataset was asked for, a string dataset where
 * an opaque data item was), "other" for everything else, damage included. Existence tests
 * answer "no" for the first two only. */
enum QMXLFailureKind {
    QMXL_FAILED_NONE = 0,
    QMXL_FAILED_OTHER = 1,
    QMXL_FAILED_MISSING = 2,
    QMXL_FAILED_OTHER_KIND = 3
};
/** The QMXLFailureKind of the calling thread's last failure; QMXL_FAILED_NONE when none.
 * Asking does not replace it. */
QMXL_API int QMXLgetLastFailureKind(void);

/** @} */
/** @name Memory */
/** @{ */
/** Gives back a string the library handed out and sets `*text` to null. */
QMXL_API int QMXLreleaseString(char** text);
/** Gives back the `count` strings of a list (the list itself: QMXLreleaseArray). */
QMXL_API int QMXLreleaseStrings(int count, char** list);
/** Gives back an array the library handed out; takes the address of the array pointer. */
QMXL_API int QMXLreleaseArray(void* addressOfArrayPointer);

/** @} */
/** @name Walking and diagnostics */
/** @{ */
/** Members of the group at path: names (QMXLreleaseStrings + QMXLreleaseArray) and their
 * QMXLObjectKind values (QMXLreleaseArray), in name order. */
QMXL_API int QMXLlistGroup(int loc, const char* path, int* count, char*** names, int** kinds);
/** Names of the attributes of the object at path (QMXLreleaseStrings + QMXLreleaseArray). */
QMXL_API int QMXLlistAttributes(int loc, const char* path, int* count, char*** names);
/** 1 when HDF5 can decode the whole header of the object at path (every message, as h5dump
 * and h5py's visit need), its attributes match their checksum and, for a group in a file open
 * read-only, its stored member index holds together (no checksum covers it, and HDF5 lists a
 * group that lost members without an error); negative with the reason otherwise. The data are
 * not read. */
QMXL_API int QMXLverifyObject(int loc, const char* path);
/** Gives the object at path the checksums it lacks: "QMZ_CRC32C" over a dataset's stored
 * elements when it has none (for an item of 2 MiB or more, or an appended one,
 * "QMZ_SLICE_CRC32C" over each slice of them instead), "QMZ_ATTR_CRC32C" over its attributes when they carry none (items
 * and attributes another program added to a container). A checksum that is there is never
 * rewritten. The number of checksums added (0 to 2); negative when the object cannot be read
 * or the file is read-only. Verify the file first: whatever is sealed reads as intact. */
QMXL_API int QMXLsealObject(int loc, const char* path);
/** Number of HDF5 identifiers open in the process (files, groups, datasets, types, attributes). */
QMXL_API int QMXLgetOpenObjectCount(void);
/** Number of live handles in the handle table. */
QMXL_API int QMXLgetHandleCount(void);
/** References held on a live handle; negative for an unknown or closed handle. */
QMXL_API int QMXLgetHandleReferenceCount(int handle);
/** Members of the compound element type of the dataset group/name, in stored order: names
 * (QMXLreleaseStrings + QMXLreleaseArray), element type codes (VarDataType numbers, -1 for a
 * type without a code) and element counts (1 for a scalar member, all elements of an array
 * member), each array with QMXLreleaseArray. */
QMXL_API int QMXLgetCompoundMembers(int file, const char* group, const char* name, int* count,
                                    char*** names, int** types, long long** counts);

/** @} */
#ifdef __cplusplus
}
#endif

#endif
