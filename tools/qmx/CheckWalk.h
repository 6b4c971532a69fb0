// The walk behind 'qmx check': opens a container as the library does, verifies its marker and
// format version, and reads every group's bookkeeping, every object and every vector.
// Kept free of output so that it can run wherever the caller wants it (e.g. a child process).
#ifndef QMX_TOOL_CHECKWALK_H
#define QMX_TOOL_CHECKWALK_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace Quellmar::qmx {

struct CheckFinding {
    std::string path;  // where in the file; "/" for the file as a whole
    std::string message;
    bool warning = false;  // unusual but readable; does not fail the check
};

struct CheckResult {
    std::optional<int> formatVersion;
    std::optional<int> libraryVersion;
    std::size_t groups = 0;
    std::size_t objects = 0;
    std::size_t vectors = 0;
    unsigned long long bytesRead = 0;
    std::vector<CheckFinding> findings;

    std::size_t problems() const;
    std::size_t warnings() const;
};

class CheckObserver {
public:
    virtual ~CheckObserver() = default;
    virtual void started(std::size_t /*entries*/) {}
    // Called before an entry is checked, so a crash or hang can be placed.
    virtual void entering(std::size_t /*index*/, const std::string& /*path*/) {}
    virtual void found(const CheckFinding& /*finding*/) {}
};

// Entries before firstEntry are listed but not read: a walk that resumes after a crash.
CheckResult checkContainer(const std::string& file, bool native, CheckObserver& observer,
                           std::size_t firstEntry = 0);

}  // namespace Quellmar::qmx

#endif
