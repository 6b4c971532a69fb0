// Reads everything a manifest names from a container, the way a host does: a read-only user
// context, the DAO factory, and the blob, design, vector and array DAOs. Every question the
// host asks (exists, shape, attribute, data) becomes one line of the result, so two reads of a
// file compare line by line.
#ifndef QMX_HOSTREAD_HOSTREAD_H
#define QMX_HOSTREAD_HOSTREAD_H

#include "Manifest.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace Quellmar::hostread {

struct ReadLine {
    std::string key;   // "vector results/pressures read-by-shape"
    bool ok = false;   // false: the DAO threw
    std::string text;  // what was read, or the exception's class and message
};

struct ReadOptions {
    // A shape larger than this is not allocated: the host refuses it (an error line).
    unsigned long long maxBufferBytes = 1ull << 30;
    // Called with the bytes of every object, vector and array read without an exception.
    std::function<void(const std::string& key, const unsigned char* data, std::size_t size)> onData;
};

// Never throws for anything the container does; a broken manifest entry is the caller's.
// A buffer written past its end ends the process (abort), after saying so on stderr.
std::vector<ReadLine> readContainer(const std::string& path, const std::vector<Entry>& entries,
                                    const ReadOptions& options = {});

// "key\tok\ttext" lines.
std::string formatLines(const std::vector<ReadLine>& lines);

}  // namespace Quellmar::hostread

#endif
