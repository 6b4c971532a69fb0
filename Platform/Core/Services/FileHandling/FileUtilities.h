#ifndef QUELLMAR_FILEUTILITIES_H
#define QUELLMAR_FILEUTILITIES_H

#include "FileHandlingExport.h"

#include "FileName.h"

#include <string>

namespace Quellmar {

/// Questions about files on disk, asked by name. Never throws.
class QMX_FILEHANDLING_API FileUtilities {
public:
    /// Whether something exists at the path. With `acceptDirectories` false only a file (or a
    /// link to one) counts; a directory of that name answers false.
    static bool exists(const FileName& name, bool acceptDirectories);

    /// Whether the file is read-only on disk: it exists and none of its write permission bits
    /// is set. Decided from the mode bits, not access(), so the answer is the same for root.
    static bool isReadOnly(const FileName& name);

    /// The one path of the file the name reaches: symbolic links resolved (the file's own and
    /// its directories'), "." and ".." gone, absolute. A file that does not exist yet gets its
    /// directory resolved and its name appended; a dangling link leads to the file it would
    /// create. Empty, with errno set, when the directory cannot be resolved. Two names of one
    /// file by hard link stay two paths: nothing in a name leads from one to the other.
    static std::string canonicalPath(const FileName& name);

    /// How many names (hard links) the file has; 0 when nothing is there.
    static unsigned long linkCount(const FileName& name);
};

}  // namespace Quellmar

#endif
