#include "Errors.h"

#include <hdf5.h>

namespace Quellmar::qmxfile {

LastError& lastError() {
    thread_local LastError error;
    return error;
}

namespace {

struct Walk {
    std::vector<std::string> entries;
    std::vector<std::string> descriptions;
};

std::string messageText(hid_t id) {
    if (id < 0)
        return {};
    char buffer[256] = {};
    if (H5Eget_msg(id, nullptr, buffer, sizeof buffer) < 0)
        return {};
    return buffer;
}

herr_t collect(unsigned, const H5E_error2_t* e, void* data) {
    auto* walk = static_cast<Walk*>(data);
    std::string text =
        std::string(e->func_name ? e->func_name : "?") + "(): " + (e->desc ? e->desc : "");
    const std::string major = messageText(e->maj_num);
    const std::string minor = messageText(e->min_num);
    if (!major.empty() || !minor.empty())
        text += " (" + major + ": " + minor + ")";
    walk->entries.push_back(std::move(text));
    walk->descriptions.push_back(e->desc && *e->desc ? e->desc : minor);
    return 0;
}

Walk walkNow() {
    Walk walk;
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_DOWNWARD, collect, &walk);
    return walk;
}

}  // namespace

std::vector<std::string> currentHdf5Stack() {
    return walkNow().entries;
}
std::vector<std::string> currentHdf5Descriptions() {
    return walkNow().descriptions;
}

std::string innermostHdf5Reason(const std::vector<std::string>& descriptions) {
    for (auto it = descriptions.rbegin(); it != descriptions.rend(); ++it)
        if (!it->empty())
            return *it;
    return {};
}

}  // namespace Quellmar::qmxfile
