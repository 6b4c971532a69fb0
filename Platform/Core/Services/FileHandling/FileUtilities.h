#ifndef QUELLMAR_FILEUTILITIES_H
#define QUELLMAR_FILEUTILITIES_H

#include "FileName.h"

namespace Quellmar {

class FileUtilities {
public:
    // Whether something exists at the path. With `acceptDirectories` false only a file (or a
    // link to one) counts; a directory of that name answers false.
    static bool exists(const FileName& name, bool acceptDirectories);

    // Whether the file is read-only on disk: it exists and none of its write permission bits
    // is set. Decided from the mode bits, not access(), so the answer is the same for root.
    static bool isReadOnly(const FileName& name);
};

}  // namespace Quellmar

#endif
