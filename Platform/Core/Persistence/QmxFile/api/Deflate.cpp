// Compaction: HDF5 does not give back the space of removed objects, so a compacted file is
// a fresh copy of every object, renamed over the original in one step.
#include "AttributeIO.h"
#include "Call.h"
#include "FileAccess.h"
#include "FileUtilities.h"
#include "HeaderCheck.h"
#include "QMXL.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace Quellmar::qmxfile;

namespace {

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Removes the temporary copy unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string name) : m_name(std::move(name)) {}
    ~TemporaryFile() {
        if (!m_kept)
            ::unlink(m_name.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& name() const { return m_name; }
    void keep() { m_kept = true; }

private:
    std::string m_name;
    bool m_kept = false;
};

struct Copy {
    hid_t to;
    bool failed = false;
};

herr_t copyLink(hid_t from, const char* name, const H5L_info_t* info, void* data) {
    auto* copy = static_cast<Copy*>(data);
    herr_t status = -1;
    if (info->type == H5L_TYPE_HARD) {
        status = H5Ocopy(from, name, copy->to, name, H5P_DEFAULT, H5P_DEFAULT);
    } else if (info->type == H5L_TYPE_SOFT || info->type == H5L_TYPE_EXTERNAL) {
        std::vector<char> value(info->u.val_size + 1, '\0');
        if (H5Lget_val(from, name, value.data(), value.size(), H5P_DEFAULT) >= 0) {
            if (info->type == H5L_TYPE_SOFT) {
                status = H5Lcreate_soft(value.data(), copy->to, name, H5P_DEFAULT, H5P_DEFAULT);
            } else {
                const char* file = nullptr;
                const char* path = nullptr;
                if (H5Lunpack_elink_val(value.data(), value.size(), nullptr, &file, &path) >= 0)
                    status =
                        H5Lcreate_external(file, path, copy->to, name, H5P_DEFAULT, H5P_DEFAULT);
            }
        }
    }
    if (status < 0)
        copy->failed = true;
    return status < 0 ? -1 : 0;
}

}  // namespace

extern "C" int QMXLdeflate(const char* name, int percent) {
    Call call("QMXLdeflate");
    if (!call.text(name, "file name"))
        return -1;
    if (percent < 1 || percent > 100)
        return call.fail("percentage " + std::to_string(percent) + " is not in 1..100");
    const std::string original = name;
    // The copy replaces the file itself: renamed over a symbolic link it would replace the
    // link and leave the file the link leads to as it was. Unresolvable: the stat below says why.
    std::string file = Quellmar::FileUtilities::canonicalPath(Quellmar::FileName(original));
    if (file.empty())
        file = original;
    HandleTable& table = HandleTable::instance();
    for (int handle : table.fileHandles())
        if (sameFile(table.find(handle)->info->name, file))
            return call.fail("file " + quoted(original) + " is open (handle " +
                             std::to_string(handle) + "); only closed files are compacted");
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return call.fail("cannot compact " + quoted(original) + ": " + std::strerror(errno));

    // The copy goes next to the original, so the final rename stays on one file system.
    std::string pattern = file + ".deflate-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return call.fail("cannot make a temporary file beside " + quoted(original) + ": " +
                         std::strerror(errno));
    ::close(fd);
    TemporaryFile copy(pattern);

    {
        Hid source = openFileId(file, false);
        if (!source)
            return call.failHdf5("cannot open " + quoted(original) + " for compaction");
        Hid target = createFileId(copy.name());
        if (!target)
            return call.failHdf5("cannot create the compacted copy " + quoted(copy.name()));
        Hid sourceRoot(H5Gopen2(source.get(), "/", H5P_DEFAULT));
        Hid targetRoot(H5Gopen2(target.get(), "/", H5P_DEFAULT));
        if (!sourceRoot || !targetRoot)
            return call.failHdf5("cannot open the root groups for compaction");
        if (!checkTree(sourceRoot.get()))
            return call.failHdf5("cannot compact " + quoted(original));
        if (copyAttributes(sourceRoot.get(), targetRoot.get()) < 0)
            return call.failHdf5("cannot copy the root attributes of " + quoted(original));
        Copy state{targetRoot.get()};
        if (H5Literate(sourceRoot.get(), H5_INDEX_NAME, H5_ITER_INC, nullptr, copyLink, &state) <
                0 ||
            state.failed)
            return call.failHdf5("cannot copy the objects of " + quoted(original));
        targetRoot.close();
        sourceRoot.close();
        if (target.close() < 0)
            return call.failHdf5("cannot write the compacted copy " + quoted(copy.name()));
    }

    struct stat compacted {};
    if (::stat(copy.name().c_str(), &compacted) != 0)
        return call.fail("the compacted copy of " + quoted(original) + " vanished");
    // Not worth it: the original stays.
    if (static_cast<long double>(compacted.st_size) >
        static_cast<long double>(st.st_size) * percent / 100.0L)
        return 0;
    ::chmod(copy.name().c_str(), st.st_mode & 07777);
    if (std::rename(copy.name().c_str(), file.c_str()) != 0)
        return call.fail("cannot replace " + quoted(original) +
                         " by its compacted copy: " + std::strerror(errno));
    copy.keep();
    return 1;
}
