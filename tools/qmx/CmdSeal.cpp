// qmx seal: gives items and attributes that another program added to a container the
// checksums the library expects, once everything else in the file has been verified.
#include "CheckWalk.h"
#include "Commands.h"
#include "Container.h"
#include "IsolatedCheck.h"
#include "QMXL.h"
#include "Tree.h"

#include <iostream>
#include <string>
#include <vector>

namespace Quellmar::qmx {
namespace {

// The only problems sealing mends: a checksum that is not there. Everything else (a checksum
// that does not match, an unreadable header, a damaged index) is damage, and sealing it would
// make it read as intact.
bool onlyMissingChecksum(const CheckFinding& finding) {
    return finding.message.find("(the checksum attribute is missing: the item is damaged)") !=
               std::string::npos ||
           finding.message.find(
               "(the attribute checksum is missing: the object's attributes are damaged)") !=
               std::string::npos;
}

class Quiet : public CheckObserver {};

CheckResult check(const std::string& file) {
    Quiet observer;
    // A damaged file can crash HDF5: the check runs in a child, as 'qmx check' does.
    return runIsolated(
        [&](std::size_t first, CheckObserver& child) {
            return checkContainer(file, false, child, first);
        },
        observer, IsolationLimits{});
}

struct Sealed {
    int checksums = 0;
    int objects = 0;
};

Sealed sealAll(const std::string& file) {
    Container container(file, Access::Write, false);
    Sealed sealed;
    std::string listingProblem;
    const std::vector<Node> nodes =
        listTree(container.file(), "/", QMXL_KIND_GROUP,
                 [&](const std::string& path, const std::string& problem) {
                     if (listingProblem.empty())
                         listingProblem = path + ": " + problem;
                 });
    if (!listingProblem.empty())
        throw Failure(file + ": " + listingProblem + "; nothing sealed");
    for (const Node& node : nodes) {
        const int added = QMXLsealObject(container.file(), node.path.c_str());
        if (added < 0) {
            // What was sealed so far stays: each of those items passed the check.
            char* message = nullptr;
            QMXLgetLastErrorMessage(&message);
            const std::string text = message ? message : "failed";
            QMXLreleaseString(&message);
            throw Failure(file + ": " + node.path + ": " + text);
        }
        sealed.checksums += added;
        if (added > 0)
            ++sealed.objects;
    }
    container.flush();
    return sealed;
}

int runSeal(const Args& args) {
    const std::string& file = args.positional(0);
    const CheckResult before = check(file);
    std::size_t missing = 0;
    std::vector<const CheckFinding*> other;
    for (const CheckFinding& f : before.findings) {
        if (f.warning)
            continue;
        if (onlyMissingChecksum(f))
            ++missing;
        else
            other.push_back(&f);
    }
    if (!other.empty()) {
        for (const CheckFinding* f : other)
            std::cout << file << ": " << f->path << ": " << f->message << "\n";
        std::cout << file << ": not sealed: " << other.size() << " problem"
                  << (other.size() == 1 ? "" : "s")
                  << " besides missing checksums (run 'qmx check')\n";
        return kExitProblem;
    }
    if (missing == 0) {
        std::cout << file << ": nothing to seal (every item carries its checksums)\n";
        return kExitOk;
    }
    const Sealed sealed = sealAll(file);
    const CheckResult after = check(file);
    if (after.problems() != 0) {
        for (const CheckFinding& f : after.findings)
            if (!f.warning)
                std::cout << file << ": " << f.path << ": " << f.message << "\n";
        throw Failure(file + ": still not sound after sealing");
    }
    std::cout << file << ": sealed: " << sealed.checksums << " checksum"
              << (sealed.checksums == 1 ? "" : "s") << " added to " << sealed.objects << " object"
              << (sealed.objects == 1 ? "" : "s") << "; the file checks ok\n";
    return kExitOk;
}

}  // namespace

Command sealCommand() {
    return {"seal",
            "FILE",
            "Add the checksums that items another program added to a container lack.",
            "A container says that every data item carries a checksum, so an item written by\n"
            "another program (h5py, h5repack) reads as damaged. 'seal' first checks FILE as\n"
            "'qmx check' does; when the only problems are missing checksums it adds them (over\n"
            "the data and attributes as they are stored now) and checks the file again. Any\n"
            "other problem leaves the file unchanged: a checksum that does not match is damage,\n"
            "and sealing it would make it read as intact. A checksum that is there is never\n"
            "rewritten.",
            {verboseOption()},
            1,
            1,
            runSeal};
}

}  // namespace Quellmar::qmx
