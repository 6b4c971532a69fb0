/*
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

#ifdef __cplusplus
extern "C" {
#endif

/* Element type codes of typed datasets (VarDataType). */
enum VarDataType {
    QMXL_AS_STORED = -1, /* read: the stored type; refused on create */
    QMXL_INT32 = 0,
    QMXL_UINT32 = 1,
    QMXL_FLOAT32 = 2,
    QMXL_FLOAT64 = 3,
    QMXL_LONG_DOUBLE = 4, /* stored by the file library, unknown to the vector DAO */
    QMXL_INT16 = 5,
    QMXL_INT64 = 7,
    QMXL_UINT64 = 8,
    QMXL_UINT16 = 15,
    QMXL_UINT8 = 16, /* one byte wide */
    QMXL_INT8 = 20
};

/* Kinds reported by QMXLlistGroup. */
enum QMXLObjectKind {
    QMXL_KIND_UNKNOWN = 0,
    QMXL_KIND_GROUP = 1,        /* plain group */
    QMXL_KIND_OBJECT_GROUP = 2, /* opaque-data (object) group */
    QMXL_KIND_OPAQUE = 3,       /* opaque data item (blob) */
    QMXL_KIND_STRING = 4,       /* string dataset */
    QMXL_KIND_TYPED = 5,        /* typed dataset */
    QMXL_KIND_COMPOUND = 6      /* dataset of a compound type */
};

/* ---- Files ---------------------------------------------------------------------------- */
int QMXLcreateFile(const char* name);            /* new QMZ container, open read-write */
int QMXLopenFile(const char* name);              /* any HDF5 file, read-write */
int QMXLopenFileReadOnly(const char* name);      /* any HDF5 file, read-only */
int QMXLcloseFile(int file);                     /* drops the file handle's reference */
int QMXLcreateNativeHDF5(const char* name);      /* new plain HDF5 file, no marker */
int QMXLopenNativeHDF5(const char* name);
int QMXLopenNativeHDF5ReadOnly(const char* name);
int QMXLisQMZFileNoLock(int file);    /* 1: marked container or native entry point; 0: not */
int QMXLisFileReadOnly(int file);     /* 1 read-only, 0 writable */
int QMXLgetFileName(int file, char** name); /* name as given at open; QMXLreleaseString */
int QMXLcloseOpenedObjectsForFile(int file); /* closes every object handle of the file */
int QMXLcloseAllFileHandlesForFile(int file); /* closes every file handle of the file */
int QMXLflushMetadata(int file);
/* Makes everything written to the file so far durable now, also while other opens of it in this
 * process keep it open (closing commits only with the last one): flushes the metadata and
 * commits the journal; the file stays open. 1, also for a read-only file; -1 with the reason.
 * QMXLcloseFile and QMXLcloseAllFileHandlesForFile answer -1 when the file closed but its
 * changes could not be committed (they are rolled back at the next open). */
int QMXLcommitFile(int file);
/* How many opens of the same file this process holds, this one included. */
int QMXLgetFileOpenCount(int file);
int QMXLdeflate(const char* name, int percent); /* compacts a closed file; -1 on failure */
int QMXLgetSkipCleanup(void);                   /* 1 while the process is exiting */
int QMXLregister(void);
int QMXLsetflush(int on);                       /* process-wide; 0 skips flushes */

/* ---- Compressors ----------------------------------------------------------------------- */
/* What compresses a dataset created with a compression level of 1 to 9 (level 0 stays
 * uncompressed). Deflate, with byte shuffling, is the default. The others are HDF5 filter
 * plugins: Blosc (id 32001) with LZ4 or Zstandard and byte shuffling, LZ4 (id 32004) after
 * HDF5's shuffle; LZ4 has no levels, Blosc takes the level as its own. An item keeps its
 * compressor when an update rewrites it. */
enum QMXLCompressor {
    QMXL_COMPRESSOR_FOLLOW = -1, /* thread choice only: follow the process's */
    QMXL_DEFLATE = 0,
    QMXL_BLOSC_LZ4 = 1,
    QMXL_BLOSC_ZSTD = 2,
    QMXL_LZ4 = 3
};
/* The process's compressor, for every thread that chose none: 1, or -1 for an unknown one. */
int QMXLsetCompressor(int compressor);
int QMXLgetCompressor(void); /* the process's compressor */
/* The calling thread's own choice, over the process's (QMXL_COMPRESSOR_FOLLOW drops it);
 * `previous`, when not null, receives the choice it replaces. 1, or -1 for an unknown one. */
int QMXLsetThreadCompressor(int compressor, int* previous);
/* 1 when the compressor's plugin can be loaded, 0 when not (the last error message names the
 * plugin), -1 for an unknown compressor. Creating a dataset with a compressor whose plugin is
 * missing fails with that message, as does reading or rewriting a dataset that needs one. */
int QMXLcompressorAvailable(int compressor);
/* How the dataset group/name is stored: its compressor, or QMXL_COMPRESSOR_FOLLOW when its data
 * are stored uncompressed (a small item that asked for compression keeps only its level and
 * takes the compressor chosen when an update makes it large), and its level. 1 on success. */
int QMXLgetDatasetCompression(int file, const char* group, const char* name, int* compressor, int* level);

/* ---- Versions ------------------------------------------------------------------------- */
int QMXLgetQMVersionOfFile(int file, int* version);
int QMXLgetQMVersionOfLibraryByFileHandle(int file, int* version);
int QMXLupdateQMVersionOfFile(int file, int version);
int QMXLassignCurrentQMFileVersionForExtensions(int version, int (*predicate)(const char* name));

/* ---- Groups --------------------------------------------------------------------------- */
int QMXLopenGroup(int loc, const char* path);            /* handle */
int QMXLcloseGroup(int group);
int QMXLcreatePathToGroup(int file, const char* path);   /* 1; creates missing groups */
int QMXLremoveGroup(int file, const char* path);         /* >= 0 on success */
int QMXLopenOpaqueDataGroup(int file, const char* path); /* handle of an object group */
int QMXLcreateOpaqueDataGroup(int file, const char* path); /* handle of the new group */
int QMXLexistsOpaqueDataGroup(int file, const char* path); /* 1 / 0 */

/* ---- Datasets ------------------------------------------------------------------------- */
int QMXLopenDataset(int file, const char* path); /* handle */
int QMXLexistsDataset(int file, const char* path); /* 1 / 0 (also when a group on the way is missing) */
int QMXLremoveDataset(int loc, const char* path); /* 1 on success */
int QMXLgetSizeOfDataset(int file, const char* group, const char* name, long long* bytes);
int QMXLgetDatasetInfo(int file, const char* group, const char* name, long long* count, int* type);
int QMXLcreateTypedDataset(int file, const char* group, const char* name, int compression,
                           long long chunk, int fixed, int type, long long count, const void* data);
int QMXLupdateTypedDataset(int file, const char* group, const char* name, int type,
                           long long count, const void* data);
int QMXLreadTypedDataset(int file, const char* group, const char* name, int type, void* data);
int QMXLcreateObjectDataset(int file, const char* group, const char* name, int compression,
                            long long chunk, int fixed, int datatype, int flag, long long count,
                            const void* data);
int QMXLupdateObjectDataset(int file, const char* group, const char* name, int datatype,
                            long long count, const void* data);
int QMXLreadObjectDataset(int file, const char* group, const char* name, int datatype, void* data);

/* ---- Opaque data items and string datasets (sizes in bytes) ---------------------------- */
int QMXLcreateCompressedOpaqueData(int file, const char* group, const char* name, int compression,
                                   int chunk, long long size, const char* data);
int QMXLupdateOpaqueData(int file, const char* group, const char* name, long long size,
                         const char* data);
int QMXLreadOpaqueData(int file, const char* group, const char* name, char* buffer);
int QMXLgetSizeOfOpaqueData(int file, const char* group, const char* name, long long* size);
int QMXLcreateCompressedStringDataset(int file, const char* group, const char* name,
                                      int compression, int chunk, long long size, const char* data);
int QMXLupdateStringDataset(int file, const char* group, const char* name, long long size,
                            const char* data);
int QMXLreadStringDataset(int file, const char* group, const char* name, char* buffer);
int QMXLgetSizeOfStringDataset(int file, const char* group, const char* name, long long* size);

/* ---- Attributes (on any group or dataset handle) --------------------------------------- */
int QMXLhasAttribute(int object, const char* name); /* 1 / 0 */
int QMXLcreateAttribute(int object, const char* name, const int* value);
int QMXLupdateAttribute(int object, const char* name, const int* value);
int QMXLsetAttribute(int object, const char* name, const int* value); /* create or replace */
int QMXLreadAttribute(int object, const char* name, int* value);      /* 1 on success */
int QMXLcreateUInt64Attribute(int object, const char* name, const unsigned long long* value);
int QMXLupdateUInt64Attribute(int object, const char* name, const unsigned long long* value);
int QMXLreadUInt64Attribute(int object, const char* name, unsigned long long* value);
int QMXLsetStringAttribute(int object, const char* name, const char* value);
int QMXLgetStringAttribute(int object, const char* name, char** value); /* malloc'ed: free() */

/* ---- Compound datatypes (belong to no file) -------------------------------------------- */
int QMXLcreateCompoundType(int reserved, unsigned long long size, int flags); /* handle */
int QMXLaddField(int type, const char* name, unsigned long long offset, int memberType);
int QMXLaddArray(int type, const char* name, unsigned long long offset, int memberType,
                 unsigned long long count);

/* ---- Handles --------------------------------------------------------------------------- */
int QMXLcloseObject(int handle);
int QMXLcopyHandle(int handle); /* the same handle value, one more reference */
int QMXLisValid(int handle);
int QMXLisValidGroup(int handle);

/* ---- Errors ---------------------------------------------------------------------------- */
int QMXLwalkErrorStack(void* context, void (*callback)(const char* text, void* context));
int QMXLgetLastErrorMessage(char** message); /* null when there is none; QMXLreleaseString */
/* What the calling thread's last failure was (QMXLFailureKind): "missing" when nothing is
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
int QMXLgetLastFailureKind(void);

/* ---- Memory ---------------------------------------------------------------------------- */
int QMXLreleaseString(char** text);
int QMXLreleaseStrings(int count, char** list);
int QMXLreleaseArray(void* addressOfArrayPointer);

/* ---- Walking and diagnostics ----------------------------------------------------------- */
/* Members of the group at path: names (QMXLreleaseStrings + QMXLreleaseArray) and their
 * QMXLObjectKind values (QMXLreleaseArray), in name order. */
int QMXLlistGroup(int loc, const char* path, int* count, char*** names, int** kinds);
/* Names of the attributes of the object at path (QMXLreleaseStrings + QMXLreleaseArray). */
int QMXLlistAttributes(int loc, const char* path, int* count, char*** names);
/* 1 when HDF5 can decode the whole header of the object at path (every message, as h5dump
 * and h5py's visit need), its attributes match their checksum and, for a group in a file open
 * read-only, its stored member index holds together (no checksum covers it, and HDF5 lists a
 * group that lost members without an error); negative with the reason otherwise. The data are
 * not read. */
int QMXLverifyObject(int loc, const char* path);
/* Gives the object at path the checksums it lacks: "QMZ_CRC32C" over a dataset's stored
 * elements when it has none, "QMZ_ATTR_CRC32C" over its attributes when they carry none (items
 * and attributes another program added to a container). A checksum that is there is never
 * rewritten. The number of checksums added (0 to 2); negative when the object cannot be read
 * or the file is read-only. Verify the file first: whatever is sealed reads as intact. */
int QMXLsealObject(int loc, const char* path);
/* Number of HDF5 identifiers open in the process (files, groups, datasets, types, attributes). */
int QMXLgetOpenObjectCount(void);
/* Number of live handles in the handle table. */
int QMXLgetHandleCount(void);
/* References held on a live handle; negative for an unknown or closed handle. */
int QMXLgetHandleReferenceCount(int handle);
/* Members of the compound element type of the dataset group/name, in stored order: names
 * (QMXLreleaseStrings + QMXLreleaseArray), element type codes (VarDataType numbers, -1 for a
 * type without a code) and element counts (1 for a scalar member, all elements of an array
 * member), each array with QMXLreleaseArray. */
int QMXLgetCompoundMembers(int file, const char* group, const char* name, int* count,
                           char*** names, int** types, long long** counts);

#ifdef __cplusplus
}
#endif

#endif
