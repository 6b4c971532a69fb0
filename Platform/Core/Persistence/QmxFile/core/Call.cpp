#include "Call.h"

#include "Errors.h"
#include "Hid.h"
#include "JournalDriver.h"
#include "KeptItem.h"
#include "Library.h"
#include "QMXL.h"

#include <hdf5.h>

namespace Quellmar::qmxfile {

Call::Call(const char* function, bool keepsItem, bool keepsGroup)
    : m_lock(libraryMutex()), m_function(function) {
    ensureInitialised();
    if (!keepsItem)
        releaseKeptItem();
    if (!keepsGroup)
        releaseKeptGroup();
    // HDF5 keeps the error printing switch per thread.
    thread_local bool quiet = false;
    if (!quiet && !isExiting()) {
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
        quiet = true;
    }
}

bool Call::exiting() const {
    return isExiting();
}

int Call::fail(const std::string& why) {
    LastError& error = lastError();
    error.present = true;
    error.message = std::string(m_function) + ": " + why;
    error.stack.assign(1, error.message);
    error.kind = QMXL_FAILED_OTHER;
    blameSessionFailure();
    return -1;
}

int Call::failMissing(const std::string& why) {
    fail(why);
    lastError().kind = QMXL_FAILED_MISSING;
    return -1;
}

int Call::failOtherKind(const std::string& why) {
    fail(why);
    lastError().kind = QMXL_FAILED_OTHER_KIND;
    return -1;
}

int Call::failHdf5(const std::string& why) {
    std::vector<std::string> stack;
    std::string reason;
    if (!isExiting()) {
        stack = currentHdf5Stack();
        reason = innermostHdf5Reason(currentHdf5Descriptions());
    }
    LastError& error = lastError();
    error.present = true;
    error.message = std::string(m_function) + ": " + why;
    if (!reason.empty())
        error.message += " (" + reason + ")";
    error.stack.assign(1, error.message);
    error.stack.insert(error.stack.end(), stack.begin(), stack.end());
    error.kind = QMXL_FAILED_OTHER;
    blameSessionFailure();
    return -1;
}

void Call::blameSessionFailure() {
    LastError& error = lastError();
    if (isExiting() || error.message.find("damaged") == std::string::npos)
        return;
    // After a failed write the session's view of the file can mix its changes with the old
    // bytes, and the checks take the mix for damage. The file is as its last commit left it.
    const std::string failure = sessionFailure();
    if (failure.empty())
        return;
    error.message = std::string(m_function) + ": an earlier failure of this session (" + failure +
                    ") left its view of the file unreliable; the file is as its last commit left "
                    "it: open it again";
    error.stack.insert(error.stack.begin(), error.message);
}

Entry* Call::entry(int handle) {
    if (isExiting()) {
        fail("the process is exiting; handle " + std::to_string(handle) + " is closed");
        return nullptr;
    }
    Entry* e = HandleTable::instance().find(handle);
    if (!e)
        fail("handle " + std::to_string(handle) + " is unknown or closed");
    else
        m_object = e->id.get();
    return e;
}

std::string Call::sessionFailure() const {
    if (m_object < 0 || H5Iis_valid(m_object) <= 0)
        return {};
    Hid file(H5Iget_file_id(m_object));
    void* handle = nullptr;
    if (!file || H5Fget_vfd_handle(file.get(), H5P_DEFAULT, &handle) < 0 || !handle)
        return {};
    return journaledFailure(handle);
}

Entry* Call::location(int handle) {
    Entry* e = entry(handle);
    if (e && e->kind != Kind::File && e->kind != Kind::Group) {
        fail("handle " + std::to_string(handle) + " is neither a file nor a group");
        return nullptr;
    }
    return e;
}

Entry* Call::attributeOwner(int handle) {
    Entry* e = entry(handle);
    if (e && e->kind == Kind::Datatype) {
        fail("handle " + std::to_string(handle) + " is a datatype, which carries no attributes");
        return nullptr;
    }
    return e;
}

bool Call::text(const char* value, const char* what, bool allowEmpty) {
    if (!value) {
        fail(std::string("no ") + what + " given (null pointer)");
        return false;
    }
    if (!allowEmpty && !*value) {
        fail(std::string("empty ") + what);
        return false;
    }
    return true;
}

bool Call::out(const void* pointer, const char* what) {
    if (pointer)
        return true;
    fail(std::string("no place for the ") + what + " given (null pointer)");
    return false;
}

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

std::string describe(const Entry& location, const std::string& path) {
    std::string text = quoted(path);
    if (location.info)
        text += " in file " + quoted(location.info->name);
    return text;
}

Entry* Call::fileEntry(int handle) {
    Entry* e = entry(handle);
    if (e && e->kind != Kind::File) {
        fail("handle " + std::to_string(handle) + " is not a file");
        return nullptr;
    }
    return e;
}

}  // namespace Quellmar::qmxfile
