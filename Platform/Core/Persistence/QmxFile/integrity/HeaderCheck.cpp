#include "HeaderCheck.h"

#include "GroupIndex.h"
#include "Hid.h"
#include "JournalDriver.h"
#include "ObjectHeader.h"

#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace Quellmar::qmxfile {
namespace {

constexpr unsigned kMaxSoftLinks = 16;  // HDF5 follows no more either

// What was learnt about one file's stored objects. It outlives the open: the journaled driver
// hands it to the next open of the file when nothing changed the file in between
// (rememberedOf), so a program that opens the same file for every unit of work does not check
// the same objects every time.
struct Layout;

struct Memory {
    std::shared_ptr<const Layout> layout;     // known once a session of the file asked HDF5
    std::unordered_set<std::uint64_t> sound;  // headers (and groups' member indexes) found sound
    // Read-only files do not change: the members of a group whose index was checked are found
    // without asking HDF5.
    std::unordered_map<std::uint64_t, std::unordered_map<std::string, std::uint64_t>> members;
    // Objects walked through whose members cannot be listed that way (groups of the newer
    // kinds, or no group at all): asked of HDF5 every time.
    std::unordered_set<std::uint64_t> unlisted;
    // What read-only sessions verified of items, by path below the root (recalledItem).
    std::unordered_map<std::string, std::shared_ptr<const void>> items;
    std::optional<bool> marked;  // whether the root carries the container marker
    std::optional<Checksums> checksums;  // what its checksum marker says, when it has one
};

// Enough for a program that reads a few hundred items unit after unit; a bound on what a
// read-only walk over a large file keeps.
constexpr std::size_t kRememberedItems = 4096;

struct FileChecks {
    std::optional<StoredFile> stored;  // none: a file this library cannot read itself
    bool readOnly = false;
    std::uint64_t root = 0;
    std::shared_ptr<Memory> memory = std::make_shared<Memory>();
};

std::mutex s_registryLock;
// By HDF5's number of the open file, which every open of the same file shares.
std::unordered_map<unsigned long, std::weak_ptr<FileChecks>>& registry() {
    static auto* files = new std::unordered_map<unsigned long, std::weak_ptr<FileChecks>>;
    return *files;
}

// The stored file and the root's address as an earlier open of the unchanged file found them:
// asking HDF5 for its property lists cost more than the checks the memory saves.
struct Layout {
    StoredFile stored;
    std::uint64_t root = 0;
};

std::shared_ptr<FileChecks> makeChecks(hid_t object) {
    auto checks = std::make_shared<FileChecks>();
    Hid file(H5Iget_file_id(object));
    unsigned intent = 0;
    checks->readOnly = file && H5Fget_intent(file.get(), &intent) >= 0 && !(intent & H5F_ACC_RDWR);
    void* handle = nullptr;
    herr_t found = -1;
    H5E_BEGIN_TRY {
        found = file ? H5Fget_vfd_handle(file.get(), H5P_DEFAULT, &handle) : -1;
    }
    H5E_END_TRY;
    // Only a file under the journaled driver has a memory; nothing is remembered for others.
    std::shared_ptr<Memory> remembered =
        found >= 0 && handle ? std::static_pointer_cast<Memory>(rememberedOf(handle, nullptr))
                             : nullptr;
    if (remembered && remembered->layout) {
        checks->stored = StoredFile::journaled(handle, remembered->layout->stored);
        checks->root = remembered->layout->root;
        checks->memory = std::move(remembered);
    } else {
        checks->stored = StoredFile::of(object);
        H5O_info_t root;
        if (H5Oget_info_by_name2(object, "/", &root, H5O_INFO_BASIC, H5P_DEFAULT) >= 0)
            checks->root = root.addr;
        else
            checks->stored.reset();
        if (const void* journaled = checks->stored ? checks->stored->journaledHandle() : nullptr) {
            checks->memory =
                std::static_pointer_cast<Memory>(rememberedOf(journaled, checks->memory));
            checks->memory->layout =
                std::make_shared<const Layout>(Layout{*checks->stored, checks->root});
        }
    }
    // A writer changes groups without keeping their member lists: it never uses them.
    if (!checks->readOnly) {
        checks->memory->members.clear();
        checks->memory->unlisted.clear();
        checks->memory->items.clear();
    }
    return checks;
}

// The checks of the file object lives in, and object's own header address. A file opened
// outside the library's open calls gets checks for this call only.
std::shared_ptr<FileChecks> checksOf(hid_t object, std::uint64_t& address) {
    H5O_info_t info;
    if (H5Oget_info2(object, &info, H5O_INFO_BASIC) < 0)
        return nullptr;
    address = info.addr;
    {
        std::lock_guard<std::mutex> guard(s_registryLock);
        const auto found = registry().find(info.fileno);
        if (found != registry().end())
            if (auto checks = found->second.lock())
                return checks;
    }
    return makeChecks(object);
}

// The object's name for messages. Only on failure, and before the reason is pushed: every HDF5
// call clears the error stack.
std::string nameOf(hid_t loc, const Path& path) {
    if (path.absolute)
        return path.text();
    std::string base = H5Iget_type(loc) == H5I_FILE ? "/" : "?";
    const ssize_t size = base == "/" ? 0 : H5Iget_name(loc, nullptr, 0);
    if (size > 0) {
        base.assign(static_cast<std::size_t>(size) + 1, '\0');
        H5Iget_name(loc, base.data(), base.size());
        base.resize(static_cast<std::size_t>(size));
    }
    if (path.parts.empty())
        return base;
    return (base == "/" ? "" : base) + "/" + path.text();
}

thread_local std::string t_lastDamage;

void pushText(const std::string& text) {
    H5Epush2(H5E_DEFAULT, __FILE__, "checkObject", __LINE__, H5E_ERR_CLS, H5E_OHDR, H5E_BADVALUE,
             "%s", text.c_str());
}

void pushDamage(const std::string& name, const Damage& damage) {
    t_lastDamage = damage.unreadable
                       ? "the stored object '" + name + "' could not be read: " + damage.what
                       : "the stored object '" + name + "' is damaged: " + damage.what;
    pushText(t_lastDamage);
}

// The object's header and, for a group, its member index; nothing when they were found sound
// before. What is wrong, or an empty what.
Damage checkObject(FileChecks& checks, std::uint64_t address) {
    if (!checks.stored || checks.memory->sound.count(address))
        return {};
    try {
        const HeaderFacts facts = checkObjectHeaderAndShared(*checks.stored, address);
        if (facts.symbolTable) {
            std::unordered_map<std::string, std::uint64_t> members;
            checkMemberIndex(*checks.stored, *facts.symbolTable,
                             checks.readOnly ? &members : nullptr);
            if (checks.readOnly)
                checks.memory->members[address] = std::move(members);
        }
    } catch (const Damage& damage) {
        return damage;
    }
    checks.memory->sound.insert(address);
    return {};
}

// A read-only session finds members through their group's checked index. A group found sound
// without its list being kept (a writing session created or checked it, and the unchanged file
// was handed on) has its header and index read once more to make the list. The reason when
// they are damaged or cannot be read, or an empty what.
Damage listMembers(FileChecks& checks, std::uint64_t group) {
    Memory& memory = *checks.memory;
    if (!checks.readOnly || !checks.stored || memory.members.count(group) ||
        memory.unlisted.count(group))
        return {};
    try {
        const HeaderFacts facts = checkObjectHeaderAndShared(*checks.stored, group);
        if (!facts.symbolTable) {
            memory.unlisted.insert(group);
            return {};
        }
        std::unordered_map<std::string, std::uint64_t> members;
        checkMemberIndex(*checks.stored, *facts.symbolTable, &members);
        memory.members[group] = std::move(members);
    } catch (const Damage& damage) {
        memory.sound.erase(group);
        return damage;
    }
    return {};
}

// The member's header address as the group's checked index lists it: nothing when the group
// is not known that way (a read-write session, a group of the newer kinds, a soft link).
std::optional<std::uint64_t> knownMember(const FileChecks& checks, std::uint64_t group,
                                         const std::string& name, bool& missing) {
    const auto found = checks.memory->members.find(group);
    if (found == checks.memory->members.end())
        return std::nullopt;
    const auto member = found->second.find(name);
    if (member == found->second.end()) {
        missing = true;
        return std::nullopt;
    }
    if (member->second == ~std::uint64_t{0})
        return std::nullopt;
    return member->second;
}

// The first n components of path.
Path prefixOf(const Path& path, std::size_t n) {
    Path prefix;
    prefix.absolute = path.absolute;
    prefix.parts.assign(path.parts.begin(), path.parts.begin() + static_cast<std::ptrdiff_t>(n));
    return prefix;
}

// `locAddress`, when given and not 0, is loc's header address, known to the caller; when 0 it
// receives the address looked up here.
bool checkPathFrom(hid_t loc, const Path& path, unsigned softLinks,
                   std::shared_ptr<FileChecks> checks, std::uint64_t* locAddress = nullptr) {
    std::uint64_t address = locAddress ? *locAddress : 0;
    bool located = address != 0;
    if (!checks) {
        checks = checksOf(loc, address);
        located = true;
    }
    if (!checks || !checks->stored)
        return true;  // HDF5 cannot place loc either, or not ours to read
    if (!path.absolute && !located) {
        H5O_info_t info;
        if (H5Oget_info2(loc, &info, H5O_INFO_BASIC) < 0)
            return true;
        address = info.addr;
        if (locAddress)
            *locAddress = address;
    }
    std::uint64_t current = path.absolute ? checks->root : address;
    Damage problem = checkObject(*checks, current);
    if (!problem.what.empty()) {
        const std::string name = nameOf(loc, prefixOf(path, 0));
        pushDamage(name, problem);
        return false;
    }
    bool viaIndex = checks->readOnly;  // members found through the checked index of their group
    for (std::size_t i = 0; i < path.parts.size(); ++i) {
        const std::string& part = path.parts[i];
        bool missing = false;
        if (viaIndex) {
            problem = listMembers(*checks, current);
            if (!problem.what.empty()) {
                pushDamage(nameOf(loc, prefixOf(path, i)), problem);
                return false;
            }
        }
        const std::optional<std::uint64_t> member =
            viaIndex ? knownMember(*checks, current, part, missing) : std::nullopt;
        if (missing)
            return true;  // HDF5 reads the same index: the caller finds it missing
        if (member) {
            current = *member;
            problem = checkObject(*checks, current);
        } else {
            viaIndex = false;  // past a soft link or a group of another kind: ask HDF5
            const Path prefix = prefixOf(path, i + 1);
            H5L_info_t link;
            if (H5Lget_info(loc, prefix.text().c_str(), &link, H5P_DEFAULT) < 0) {
                H5Eclear2(H5E_DEFAULT);
                return true;  // HDF5 cannot resolve the name either: the caller reports it
            }
            if (link.type == H5L_TYPE_HARD) {
                problem = checkObject(*checks, link.u.address);
            } else if (link.type == H5L_TYPE_SOFT) {
                if (softLinks >= kMaxSoftLinks)
                    return true;  // HDF5 refuses to follow further
                std::string value(link.u.val_size + 1, '\0');
                if (H5Lget_val(loc, prefix.text().c_str(), value.data(), value.size(),
                               H5P_DEFAULT) < 0) {
                    H5Eclear2(H5E_DEFAULT);
                    return true;
                }
                value.resize(std::strlen(value.c_str()));
                Path target = parsePath(value);
                if (!target.absolute) {
                    Path parent = prefixOf(path, i);
                    parent.parts.insert(parent.parts.end(), target.parts.begin(),
                                        target.parts.end());
                    target = parent;
                }
                if (!checkPathFrom(loc, target, softLinks + 1, checks))
                    return false;
            } else {
                problem = {"it is a link to another file, which this library does not follow"};
            }
        }
        if (!problem.what.empty()) {
            const std::string name = nameOf(loc, prefixOf(path, i + 1));
            pushDamage(name, problem);
            return false;
        }
    }
    return true;
}

struct TreeWalk {
    std::shared_ptr<FileChecks> checks;  // one memory for the whole walk
    std::set<std::uint64_t> groups;      // visited, against cycles of hard links
    bool failed = false;
};

herr_t checkMember(hid_t group, const char* name, const H5L_info_t*, void* data) {
    auto* walk = static_cast<TreeWalk*>(data);
    Path member;
    member.parts.push_back(name);
    if (!checkPathFrom(group, member, 0, walk->checks)) {
        walk->failed = true;
        return -1;
    }
    H5O_info_t info;
    if (H5Oget_info_by_name2(group, name, &info, H5O_INFO_BASIC, H5P_DEFAULT) < 0)
        return -1;
    if (info.type != H5O_TYPE_GROUP || !walk->groups.insert(info.addr).second)
        return 0;
    Hid child(H5Gopen2(group, name, H5P_DEFAULT));
    if (!child)
        return -1;
    return H5Literate(child.get(), H5_INDEX_NAME, H5_ITER_NATIVE, nullptr, checkMember, walk) < 0
               ? -1
               : 0;
}

}  // namespace

std::shared_ptr<void> headerChecksOf(hid_t file) {
    H5O_info_t info;
    if (H5Oget_info2(file, &info, H5O_INFO_BASIC) < 0)
        return nullptr;
    std::lock_guard<std::mutex> guard(s_registryLock);
    auto& files = registry();
    if (auto checks = files[info.fileno].lock())
        return checks;
    auto checks = makeChecks(file);
    files[info.fileno] = checks;
    for (auto it = files.begin(); it != files.end();)
        it = it->second.expired() ? files.erase(it) : std::next(it);
    return checks;
}

bool checkPath(hid_t loc, const Path& path) {
    return checkPathFrom(loc, path, 0, nullptr);
}

bool checkPath(hid_t loc, const Path& path, const std::shared_ptr<void>& fileChecks) {
    return checkPathFrom(loc, path, 0, std::static_pointer_cast<FileChecks>(fileChecks));
}

bool checkPathBelow(hid_t loc, std::uint64_t& locAddress, const Path& path,
                    const std::shared_ptr<void>& fileChecks) {
    if (!fileChecks || path.absolute)
        return checkPath(loc, path, fileChecks);
    return checkPathFrom(loc, path, 0, std::static_pointer_cast<FileChecks>(fileChecks),
                         &locAddress);
}

std::shared_ptr<const void> recalledItem(const std::shared_ptr<void>& fileChecks,
                                         const std::string& path) {
    const auto* checks = static_cast<const FileChecks*>(fileChecks.get());
    if (!checks || !checks->readOnly)
        return nullptr;
    const auto found = checks->memory->items.find(path);
    return found == checks->memory->items.end() ? nullptr : found->second;
}

void rememberItem(const std::shared_ptr<void>& fileChecks, const std::string& path,
                  std::shared_ptr<const void> what) {
    auto* checks = static_cast<FileChecks*>(fileChecks.get());
    if (!checks || !checks->readOnly || !what)
        return;
    auto& items = checks->memory->items;
    if (items.size() < kRememberedItems || items.count(path))
        items[path] = std::move(what);
}

namespace {

// The memory behind a file's checks; null for none.
Memory* memoryOf(const std::shared_ptr<void>& fileChecks) {
    auto* checks = static_cast<FileChecks*>(fileChecks.get());
    return checks ? checks->memory.get() : nullptr;
}

}  // namespace

std::optional<bool> recalledMarker(const std::shared_ptr<void>& fileChecks) {
    const Memory* memory = memoryOf(fileChecks);
    return memory ? memory->marked : std::nullopt;
}

void rememberMarker(const std::shared_ptr<void>& fileChecks, bool marked) {
    if (Memory* memory = memoryOf(fileChecks))
        memory->marked = marked;
}

void forgetMarker(const std::shared_ptr<void>& fileChecks) {
    if (Memory* memory = memoryOf(fileChecks))
        memory->marked.reset();
}

std::optional<Checksums> recalledChecksums(const std::shared_ptr<void>& fileChecks) {
    const Memory* memory = memoryOf(fileChecks);
    return memory ? memory->checksums : std::nullopt;
}

void rememberChecksums(const std::shared_ptr<void>& fileChecks, Checksums found) {
    Memory* memory = memoryOf(fileChecks);
    if (memory && found != Checksums::Optional)
        memory->checksums = found;
}

void forgetChecksums(const std::shared_ptr<void>& fileChecks) {
    if (Memory* memory = memoryOf(fileChecks))
        memory->checksums.reset();
    forgetChecksums();
}

std::optional<StoredFile> readOnlyFileOf(hid_t object) {
    std::uint64_t address = 0;
    const std::shared_ptr<FileChecks> checks = checksOf(object, address);
    if (!checks || !checks->readOnly)
        return std::nullopt;
    return checks->stored;
}

bool checkOpenObject(hid_t object) {
    return checkPathFrom(object, Path{}, 0, nullptr);
}

bool checkTree(hid_t group) {
    TreeWalk walk;
    std::uint64_t address = 0;
    walk.checks = checksOf(group, address);
    if (!checkPathFrom(group, Path{}, 0, walk.checks))
        return false;
    const herr_t status =
        H5Literate(group, H5_INDEX_NAME, H5_ITER_NATIVE, nullptr, checkMember, &walk);
    // Closing a member group after its damage was found cleared the stack: say it again.
    if (walk.failed)
        pushText(t_lastDamage);
    return status >= 0;
}

void trustNewObject(hid_t object) {
    std::uint64_t address = 0;
    const std::shared_ptr<FileChecks> checks = checksOf(object, address);
    if (checks && !checks->readOnly)
        checks->memory->sound.insert(address);
}

}  // namespace Quellmar::qmxfile
